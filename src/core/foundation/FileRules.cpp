#include "foundation/FileRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lf {

namespace {

QString errnoText(const QString &what) {
    return what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

bool writeFileAtomically(const QString &path, const QByteArray &data, QString *error, int mode, bool sync) {
    const QFileInfo info(path);
    const QByteArray dir = QFile::encodeName(info.absolutePath());
    QByteArray tmpl = QFile::encodeName(
        info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        if (error)
            *error = errnoText(QStringLiteral("cannot create a temporary file in ") + info.absolutePath());
        return false;
    }
    bool ok = ::fchmod(fd, mode_t(mode)) == 0;
    const char *p = data.constData();
    qsizetype left = data.size();
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= n;
    }
    ok = ok && (!sync || ::fsync(fd) == 0);
    if (!ok && error)
        *error = errnoText(QStringLiteral("cannot write ") + path);
    if (::close(fd) != 0 && ok) {
        ok = false;
        if (error)
            *error = errnoText(QStringLiteral("cannot write ") + path);
    }
    if (ok && ::rename(tmpl.constData(), QFile::encodeName(path).constData()) != 0) {
        ok = false;
        if (error)
            *error = errnoText(QStringLiteral("cannot replace ") + path);
    }
    if (!ok) {
        ::unlink(tmpl.constData());
        return false;
    }
    if (!sync)
        return true;
    // Make the rename itself durable.
    const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

namespace {

// Copies what is left through user space, for file systems (or kernels) without in-kernel copies.
bool copyThroughBuffer(int in, int out) {
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        for (const char *p = buffer.data(); n > 0;) {
            const ssize_t w = ::write(out, p, size_t(n));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            p += w;
            n -= w;
        }
    }
}

// In-kernel copy (a reflink or server-side copy where the file system offers one). False with
// `fallBack` set when the call is not supported here and nothing was copied yet.
bool copyInKernel(int in, int out, bool *fallBack) {
    *fallBack = false;
    bool copied = false;
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(1) << 30, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *fallBack = !copied
                && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP
                    || errno == EPERM || errno == EBADF);
            return false;
        }
        if (n == 0) {
            // Some special files report nothing to copy: read them the plain way.
            *fallBack = !copied;
            return copied;
        }
        copied = true;
    }
}

} // namespace

bool copyFileContents(const QString &source, const QString &destination, QString *error) {
    // Without blocking: a FIFO in a regular file's place must not hold the copying thread.
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) {
        if (error)
            *error = errnoText(QStringLiteral("cannot open ") + source);
        return false;
    }
    struct stat info { };
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (error)
            *error = QStringLiteral("%1 is not a regular file").arg(source);
        ::close(in);
        return false;
    }
    const QByteArray target = QFile::encodeName(destination);
    const int out = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 0777);
    if (out < 0) {
        if (error)
            *error = errnoText(QStringLiteral("cannot create ") + destination);
        ::close(in);
        return false;
    }
    bool fallBack = false;
    bool ok = copyInKernel(in, out, &fallBack);
    if (!ok && fallBack)
        ok = ::lseek(in, 0, SEEK_SET) == 0 && ::lseek(out, 0, SEEK_SET) == 0 && ::ftruncate(out, 0) == 0
            && copyThroughBuffer(in, out);
    if (!ok && error)
        *error = errnoText(QStringLiteral("cannot copy %1 to %2").arg(source, destination));
    if (::close(out) != 0 && ok) {
        ok = false;
        if (error)
            *error = errnoText(QStringLiteral("cannot write ") + destination);
    }
    ::close(in);
    if (!ok)
        ::unlink(target.constData()); // a full disk must not leave half a photo behind
    return ok;
}

bool makePrivateFolder(const QString &path) {
    if (!QDir().mkpath(path))
        return false;
    return ::chmod(QFile::encodeName(path).constData(), 0700) == 0;
}

QString uniqueFileNameAtPath(const QString &name, const QString &folder) {
    const QDir dir(folder);
    if (!QFileInfo::exists(dir.filePath(name)))
        return name;
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot >= 0 ? name.left(dot) : name;
    const QString ext = dot >= 0 ? name.mid(dot + 1) : QString();
    for (int i = 1;; ++i) {
        const QString candidate = QStringLiteral("%1_%2.%3").arg(base, QString::number(i), ext);
        if (!QFileInfo::exists(dir.filePath(candidate)))
            return candidate;
    }
}

QString posixFlavor(const QString &path) {
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || !path.contains(QLatin1Char(':')))
        return path;
    // Classic form "Volume:folder:file": the volume is the file-system root here, and a "/"
    // inside a classic name is a ":" in the slash form.
    QStringList parts = path.split(QLatin1Char(':'));
    parts.removeFirst();
    for (QString &p : parts)
        p.replace(QLatin1Char('/'), QLatin1Char(':'));
    return QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

QString stringByResolvingSymlinksAndAliases(const QString &path) {
    const QString clean = QDir::cleanPath(path);
    if (!clean.startsWith(QLatin1Char('/')))
        return {};
    QString resolved = QStringLiteral("/");
    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        QString current = QDir::cleanPath(resolved + QLatin1Char('/') + part);
        // Bounded, so a loop of links ends in "nothing" instead of spinning.
        for (int hops = 0;; ++hops) {
            if (hops > 40)
                return {};
            const QFileInfo info(current);
            if (info.isSymLink()) {
                const QByteArray encoded = QFile::encodeName(current);
                QByteArray target(4096, '\0');
                const ssize_t n = ::readlink(encoded.constData(), target.data(), size_t(target.size()));
                if (n <= 0)
                    return {};
                QString t = QFile::decodeName(target.left(n));
                if (!t.startsWith(QLatin1Char('/')))
                    t = info.absolutePath() + QLatin1Char('/') + t;
                current = QDir::cleanPath(t);
                continue;
            }
            if (!info.exists())
                return {};
            break;
        }
        resolved = current;
    }
    return resolved;
}

bool isInsideFolder(const QString &path, const QString &folder) {
    const QString p = QDir::cleanPath(QDir(folder).absoluteFilePath(path));
    const QString f = QDir::cleanPath(QDir(folder).absolutePath());
    return p == f || p.startsWith(f + QLatin1Char('/'));
}

QString safeFileName(const QString &name) {
    QString n = name.section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1);
    QString out;
    out.reserve(n.size());
    for (const QChar c : n) {
        if (c.unicode() >= 0x20 && c != QChar(0x7f))
            out.append(c);
    }
    out = out.trimmed();
    while (out.startsWith(QLatin1Char('.')))
        out.remove(0, 1);
    return out;
}

namespace {

struct PhotoType {
    const char *extension;
    const char *format; // the image reader's name for it
    bool photo; // taken as a photo by its name
    bool asIs; // a full-size upload is the file itself
};

// The two name tables differ on purpose: "ico" and "wmf" go as they are when they come in, but
// only their content makes them photos.
constexpr PhotoType kPhotoTypes[] = {
    {"jpg", "jpeg", true, true},
    {"jpeg", "jpeg", true, true},
    {"png", "png", true, true},
    {"gif", "gif", true, true},
    {"tif", "tiff", true, true},
    {"tiff", "tiff", true, true},
    {"bmp", "bmp", true, true},
    {"heic", "heif", true, false},
    {"heif", "heif", true, false},
    {"avif", "avif", true, false},
    {"webp", "webp", true, false},
    {"ico", "ico", false, true},
    {"wmf", "wmf", false, true},
};

const PhotoType *photoType(const QString &extension) {
    const QString lower = extension.toLower();
    for (const PhotoType &type : kPhotoTypes) {
        if (lower == QLatin1String(type.extension))
            return &type;
    }
    return nullptr;
}

} // namespace

QString lowerExtension(const QString &path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > slash + 1 ? path.mid(dot + 1).toLower() : QString();
}

bool isPhotoExtension(const QString &extension) {
    const PhotoType *type = photoType(extension);
    return type && type->photo;
}

bool isUploadAsIsExtension(const QString &extension) {
    const PhotoType *type = photoType(extension);
    return type && type->asIs;
}

bool isConvertedPhotoExtension(const QString &extension) {
    const PhotoType *type = photoType(extension);
    return type && type->photo && !type->asIs;
}

QByteArray promisedImageFormat(const QString &extension) {
    const PhotoType *type = photoType(extension);
    return type ? QByteArray(type->format) : QByteArray();
}

} // namespace lf
