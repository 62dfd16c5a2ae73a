#include "platform/UpdatePackage.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QStringList>

#include <openssl/evp.h>
#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace lf {

namespace {

constexpr int kBlock = 512;
constexpr int kMaxNameBytes = 4096;

struct GzCloser {
    void operator()(gzFile file) const { gzclose(file); }
};

struct Entry {
    char type = '0';
    QString path;
    QString link;
    qint64 size = 0;
    unsigned mode = 0644;
};

// A NUL-terminated (or full-width) text field of a header.
QByteArray field(const char *header, int offset, int width) {
    const char *start = header + offset;
    return QByteArray(start, int(strnlen(start, size_t(width))));
}

bool octal(const char *header, int offset, int width, qint64 *value) {
    // The base-256 form only serves sizes far beyond the limit.
    if (static_cast<unsigned char>(header[offset]) & 0x80)
        return false;
    const QByteArray text = field(header, offset, width).trimmed();
    if (text.isEmpty()) {
        *value = 0;
        return true;
    }
    bool ok = false;
    *value = text.toLongLong(&ok, 8);
    return ok && *value >= 0;
}

bool checksumMatches(const char *header) {
    qint64 stored = 0;
    if (!octal(header, 148, 8, &stored))
        return false;
    qint64 sum = 0;
    for (int i = 0; i < kBlock; ++i)
        sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(header[i]);
    return sum == stored;
}

// The path cut into its parts, without "." parts; empty when it is absolute or climbs out.
QStringList cleanParts(const QString &path) {
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
        return {};
    QStringList parts;
    for (const QString &part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String(".."))
            return {};
        parts.append(part);
    }
    return parts;
}

// pax records: "<length> <key>=<value>\n".
QHash<QByteArray, QByteArray> paxRecords(const QByteArray &data) {
    QHash<QByteArray, QByteArray> records;
    qsizetype at = 0;
    while (at < data.size()) {
        const qsizetype space = data.indexOf(' ', at);
        if (space < 0)
            break;
        const qsizetype length = data.mid(at, space - at).toLongLong();
        if (length <= 0 || at + length > data.size())
            break;
        const QByteArray record = data.mid(space + 1, at + length - space - 2);
        const qsizetype equals = record.indexOf('=');
        if (equals > 0)
            records.insert(record.left(equals), record.mid(equals + 1));
        at += length;
    }
    return records;
}

bool writeAll(int fd, const char *data, qint64 size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

} // namespace

UpdatePackage::UpdatePackage(QString path)
    : m_path(std::move(path)) { }

bool UpdatePackage::fail(const QString &message) {
    m_error = message;
    return false;
}

bool UpdatePackage::verifySignature(const QByteArray &signature, const QByteArray &publicKey) {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("the package cannot be read"));
    const qint64 size = file.size();
    const uchar *data = size > 0 ? file.map(0, size) : nullptr;
    if (size > 0 && !data)
        return fail(QStringLiteral("the package cannot be read"));
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
            reinterpret_cast<const unsigned char *>(publicKey.constData()), size_t(publicKey.size())),
        &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    const bool valid = key && context
        && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1
        && EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.constData()),
               size_t(signature.size()), data ? data : reinterpret_cast<const uchar *>(""), size_t(size))
            == 1;
    return valid ? true : fail(QStringLiteral("the package's signature is not valid"));
}

bool UpdatePackage::inspect() {
    return read(nullptr);
}

bool UpdatePackage::extract(const QString &into) {
    return inspect() && read(&into);
}

bool UpdatePackage::read(const QString *into) {
    m_error.clear();
    std::unique_ptr<gzFile_s, GzCloser> gz(gzopen(QFile::encodeName(m_path).constData(), "rb"));
    if (!gz)
        return fail(QStringLiteral("the package cannot be read"));
    // gzread passes other files through unchanged; a package is always compressed.
    char header[kBlock];
    auto readBlock
        = [&gz](char *buffer, int size) { return gzread(gz.get(), buffer, unsigned(size)) == size; };
    if (!readBlock(header, kBlock) || gzdirect(gz.get()))
        return fail(QStringLiteral("the package is not a compressed archive"));

    QSet<QString> seen;
    QHash<QString, QString> links; // path -> target
    qint64 total = 0;
    int count = 0;
    QString longName, longLink;
    QHash<QByteArray, QByteArray> pax;
    const QByteArray rootPath = into ? QFile::encodeName(*into) + '/' : QByteArray();
    bool first = true;

    for (;; first = false) {
        if (!first && !readBlock(header, kBlock))
            return fail(QStringLiteral("the package ends in the middle"));
        if (std::all_of(header, header + kBlock, [](char c) { return c == 0; }))
            break;
        if (!checksumMatches(header))
            return fail(QStringLiteral("the package is damaged"));
        Entry entry;
        entry.type = header[156] ? header[156] : '0';
        qint64 mode = 0;
        if (!octal(header, 124, 12, &entry.size) || !octal(header, 100, 8, &mode))
            return fail(QStringLiteral("the package is damaged"));
        entry.mode = unsigned(mode);
        if (entry.size > kMaxTotalBytes || (total += entry.size) > kMaxTotalBytes)
            return fail(QStringLiteral("the package is too large"));
        if (++count > kMaxEntries)
            return fail(QStringLiteral("the package holds too many entries"));
        const qint64 padded = (entry.size + kBlock - 1) / kBlock * kBlock;

        // Headers that describe the next entry.
        if (entry.type == 'L' || entry.type == 'K' || entry.type == 'x' || entry.type == 'g') {
            if (entry.size > kMaxNameBytes * 4)
                return fail(QStringLiteral("the package is damaged"));
            QByteArray data(int(padded), '\0');
            if (padded && !readBlock(data.data(), int(padded)))
                return fail(QStringLiteral("the package ends in the middle"));
            data.truncate(int(entry.size));
            if (entry.type == 'L')
                longName = QString::fromUtf8(
                    data.constData(), int(strnlen(data.constData(), size_t(data.size()))));
            else if (entry.type == 'K')
                longLink = QString::fromUtf8(
                    data.constData(), int(strnlen(data.constData(), size_t(data.size()))));
            else if (entry.type == 'x')
                pax = paxRecords(data);
            continue;
        }

        QByteArray name = field(header, 0, 100);
        const QByteArray prefix = field(header, 345, 155);
        if (!prefix.isEmpty() && std::memcmp(header + 257, "ustar", 5) == 0)
            name = prefix + '/' + name;
        entry.path = pax.contains("path") ? QString::fromUtf8(pax.value("path"))
            : longName.isEmpty()          ? QString::fromUtf8(name)
                                          : longName;
        entry.link = pax.contains("linkpath") ? QString::fromUtf8(pax.value("linkpath"))
            : longLink.isEmpty()              ? QString::fromUtf8(field(header, 157, 100))
                                              : longLink;
        longName.clear();
        longLink.clear();
        pax.clear();

        // The path: relative, inside one top folder, once.
        const QStringList parts = cleanParts(entry.path);
        if (entry.path.startsWith(QLatin1Char('/')))
            return fail(QStringLiteral("the package names an absolute path: %1").arg(entry.path));
        if (parts.isEmpty())
            return fail(QStringLiteral("the package names a path outside its folder: %1").arg(entry.path));
        if (m_top.isEmpty() || first)
            m_top = parts.first();
        else if (parts.first() != m_top)
            return fail(QStringLiteral("the package holds more than one folder"));
        if (parts.size() == 1 && entry.type != '5')
            return fail(QStringLiteral("the package holds more than one folder"));
        const QString path = parts.join(QLatin1Char('/'));
        if (seen.contains(path))
            return fail(QStringLiteral("the package names %1 twice").arg(path));
        seen.insert(path);

        switch (entry.type) {
        case '0':
        case '7':
        case '5':
            break;
        case '2': {
            // A link stays inside the top folder, read from where it lies.
            if (entry.link.startsWith(QLatin1Char('/')))
                return fail(QStringLiteral("the package links %1 outside its folder").arg(path));
            QStringList resolved = parts.mid(0, parts.size() - 1);
            for (const QString &part : entry.link.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
                if (part == QLatin1String("."))
                    continue;
                if (part == QLatin1String("..")) {
                    if (resolved.size() <= 1)
                        return fail(QStringLiteral("the package links %1 outside its folder").arg(path));
                    resolved.removeLast();
                } else {
                    resolved.append(part);
                }
            }
            links.insert(path, resolved.join(QLatin1Char('/')));
            break;
        }
        case '1':
            return fail(QStringLiteral("the package holds a hard link: %1").arg(path));
        case '3':
        case '4':
            return fail(QStringLiteral("the package holds a device file: %1").arg(path));
        case '6':
            return fail(QStringLiteral("the package holds a FIFO: %1").arg(path));
        default:
            return fail(QStringLiteral("the package holds an entry of unknown type: %1").arg(path));
        }

        if (into) {
            // Nothing goes through a link (checked below on the first pass), and nothing is
            // replaced (each path once), so every write lands inside `into`.
            const QByteArray target = rootPath + QFile::encodeName(path);
            for (qsizetype slash = target.indexOf('/', rootPath.size()); slash > 0;
                 slash = target.indexOf('/', slash + 1)) {
                if (::mkdir(target.left(slash).constData(), 0755) != 0 && errno != EEXIST)
                    return fail(QStringLiteral("%1 cannot be created").arg(path));
            }
            const mode_t keep = mode_t(entry.mode & 0755);
            if (entry.type == '5') {
                if (::mkdir(target.constData(), keep | 0700) != 0 && errno != EEXIST)
                    return fail(QStringLiteral("%1 cannot be created").arg(path));
            } else if (entry.type == '2') {
                if (::symlink(QFile::encodeName(entry.link).constData(), target.constData()) != 0)
                    return fail(QStringLiteral("%1 cannot be created").arg(path));
            } else {
                const int fd = ::open(
                    target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, keep | 0600);
                if (fd < 0)
                    return fail(QStringLiteral("%1 cannot be created").arg(path));
                char buffer[64 * kBlock];
                qint64 left = padded;
                bool ok = true;
                while (ok && left > 0) {
                    const int chunk = int(std::min<qint64>(left, sizeof buffer));
                    const qint64 useful = std::min<qint64>(chunk, entry.size - (padded - left));
                    ok = readBlock(buffer, chunk) && (useful <= 0 || writeAll(fd, buffer, useful));
                    left -= chunk;
                }
                ::fchmod(fd, keep | 0600);
                if (::close(fd) != 0 || !ok)
                    return fail(QStringLiteral("%1 cannot be written").arg(path));
            }
            continue;
        }
        if (padded > 0 && gzseek(gz.get(), z_off_t(padded), SEEK_CUR) < 0)
            return fail(QStringLiteral("the package ends in the middle"));
    }
    if (m_top.isEmpty())
        return fail(QStringLiteral("the package is empty"));

    if (!into) {
        // No path may pass through a link, and no link may lead through another: either could
        // reach outside the folder once the links are followed.
        auto throughLink = [&links](const QString &path) {
            for (qsizetype slash = path.indexOf(QLatin1Char('/')); slash > 0;
                 slash = path.indexOf(QLatin1Char('/'), slash + 1)) {
                if (links.contains(path.left(slash)))
                    return true;
            }
            return false;
        };
        for (const QString &path : std::as_const(seen)) {
            if (throughLink(path))
                return fail(QStringLiteral("the package writes through a link: %1").arg(path));
        }
        for (auto it = links.cbegin(); it != links.cend(); ++it) {
            if (links.contains(it.value()) || throughLink(it.value() + QLatin1Char('/')))
                return fail(QStringLiteral("the package links through a link: %1").arg(it.key()));
        }
    }
    return true;
}

} // namespace lf
