#include "share/PhotoIntake.h"

#include "foundation/FileRules.h"
#include "foundation/LogCategories.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "share/ImageMetaData.h"
#include "share/PhotoPrep.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRandomGenerator>
#include <QThread>

#include <condition_variable>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace lf {

QString regularFileProblem(const QString &path) {
    if (path.isEmpty())
        return QStringLiteral("no file named");
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("%1 cannot be read: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
    struct stat info { };
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular ? QString() : QStringLiteral("%1 is not a regular file").arg(path);
}

bool isPhotoCandidate(const QString &path) {
    return regularFileProblem(path).isEmpty() && supportedFile(path);
}

QString photoFileProblem(const QString &path) {
    if (QString problem = regularFileProblem(path); !problem.isEmpty())
        return problem;
    allowLargePhotos();
    const QByteArray promised = promisedImageFormat(lowerExtension(path));
    const QString kind = promised.isEmpty()
        ? QStringLiteral("an image")
        : QStringLiteral("a %1 image").arg(QString::fromLatin1(promised.toUpper()));
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead())
        return QStringLiteral("%1 is not %2").arg(path, kind);
    const QByteArray found = reader.format();
    if (!promised.isEmpty() && found != promised)
        return QStringLiteral("%1 is not %2 (it holds a %3 image)")
            .arg(path, kind, QString::fromLatin1(found.toUpper()));
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return QStringLiteral("%1 is a damaged image: its size cannot be read").arg(path);
    return photoSizeProblem(path, found, size);
}

namespace {

// The checked copy of a dropped file in the share-set folder; empty with `problem` set.
QString checkedCopy(const QString &sourcePath, const QString &shareSetFolder, QString *problem) {
    *problem = photoFileProblem(sourcePath);
    if (!problem->isEmpty())
        return {};
    const QString copy = copyDroppedFile(sourcePath, shareSetFolder, problem);
    if (copy.isEmpty())
        *problem = QStringLiteral("cannot copy %1 into the share: %2").arg(sourcePath, *problem);
    return copy;
}

// The record of the copy, its thumbnail written beside it (on the calling thread, so a drop of
// many photos holds none of their pictures); nothing, with the copy removed, when its picture
// does not decode.
std::optional<PhotoInfo> recordOfCopy(
    const QString &copy, const QString &sourcePath, const QString &shareSetFolder, QString *problem) {
    const PhotoInfo info = makeDroppedPhoto(copy, QFileInfo(sourcePath).absoluteFilePath());
    if (!thumbImage(info).isNull()) {
        info.value(kPhotoThumb).value<PhotoThumb>().fileNameIn(shareSetFolder);
        return info;
    }
    // The header was fine, the picture is not: a file cut short or damaged inside.
    QFile::remove(copy);
    *problem = QStringLiteral("%1 is a damaged image: it cannot be decoded").arg(sourcePath);
    return std::nullopt;
}

} // namespace

std::optional<PhotoInfo> takeDroppedPhoto(
    const QString &sourcePath, const QString &shareSetFolder, QString *problem) {
    QString why;
    std::optional<PhotoInfo> info;
    if (const QString copy = checkedCopy(sourcePath, shareSetFolder, &why); !copy.isEmpty())
        info = recordOfCopy(copy, sourcePath, shareSetFolder, &why);
    if (!info && problem)
        *problem = why;
    return info;
}

std::optional<QList<PhotoInfo>> takeDroppedPhotos(
    const QStringList &sourcePaths, const QString &shareSetFolder, QString *problem) {
    QList<PhotoInfo> infos;
    QString why;
    std::atomic<bool> failed {false};
    takeInOrder(
        int(sourcePaths.size()),
        [&](int i) {
            TakenPhoto taken;
            taken.info = takeDroppedPhoto(sourcePaths.at(i), shareSetFolder, &taken.problem);
            return taken;
        },
        [&](int, TakenPhoto &&taken) {
            if (taken.info && !failed)
                infos.append(*taken.info);
            else if (taken.info)
                removeDroppedPhotoFiles(*taken.info, shareSetFolder);
            else if (!failed.exchange(true))
                why = taken.problem;
        },
        [&] { return failed.load(); });
    if (!failed && infos.size() == sourcePaths.size())
        return infos;
    for (const PhotoInfo &info : std::as_const(infos))
        removeDroppedPhotoFiles(info, shareSetFolder);
    if (problem)
        *problem = why.isEmpty() ? QStringLiteral("the photos were not all taken") : why;
    return std::nullopt;
}

void takeInOrder(int count, const std::function<TakenPhoto(int)> &take,
    const std::function<void(int, TakenPhoto &&)> &deliver, const std::function<bool()> &stop) {
    if (count <= 0)
        return;
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::map<int, TakenPhoto> done;
        int next = 0; // the first index not begun
        int delivered = 0; // the first index not delivered
        int running = 0; // workers still in their loop
        bool stopped = false;
    };
    const auto shared = std::make_shared<Shared>();
    const int threads = std::max(1, std::min(QThread::idealThreadCount(), count));
    // Enough begun ahead to keep every core busy while one slow photo holds up the delivery.
    const int ahead = 2 * threads + 1;
    const auto isStopped = [stop] { return (stop && stop()) || Workers::cancelled(); };
    const auto work = [shared, take, isStopped, count, ahead] {
        std::unique_lock lock(shared->mutex);
        for (;;) {
            shared->changed.wait(lock, [&] {
                return shared->stopped || shared->next >= count || shared->next - shared->delivered < ahead;
            });
            if (shared->stopped || shared->next >= count || isStopped()) {
                shared->stopped = shared->stopped || shared->next < count;
                break;
            }
            const int index = shared->next++;
            lock.unlock();
            TakenPhoto taken = take(index);
            lock.lock();
            shared->done.emplace(index, std::move(taken));
            shared->changed.notify_all();
        }
        --shared->running;
        shared->changed.notify_all();
    };
    {
        std::lock_guard lock(shared->mutex);
        shared->running = threads;
    }
    for (int t = 0; t < threads; ++t) {
        if (!Workers::instance().start(QStringLiteral("photo decoding"), work)) {
            // After shutdown nothing new starts: the items are not begun at all.
            std::lock_guard lock(shared->mutex);
            --shared->running;
            shared->stopped = true;
            shared->changed.notify_all();
        }
    }
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->changed.wait(lock, [&] {
            return shared->done.count(shared->delivered) > 0
                || (shared->running == 0 && shared->delivered >= shared->next);
        });
        auto it = shared->done.find(shared->delivered);
        if (it == shared->done.end())
            break; // every begun item is delivered and no worker runs
        TakenPhoto taken = std::move(it->second);
        shared->done.erase(it);
        const int index = shared->delivered++;
        shared->changed.notify_all();
        lock.unlock();
        deliver(index, std::move(taken));
        if (isStopped()) {
            std::lock_guard stopLock(shared->mutex);
            shared->stopped = true;
            shared->changed.notify_all();
        }
        lock.lock();
    }
}

namespace {

// The thumbnail file of a taken photo, empty when none was written.
QString thumbFileOf(const PhotoInfo &info) {
    const QVariant thumb = info.value(QLatin1String(kPhotoThumb));
    return thumb.typeId() == qMetaTypeId<PhotoThumb>() ? thumb.value<PhotoThumb>().filePath() : QString();
}

// A free path in `toFolder` for the file `file` of `fromFolder`, in the same place below it.
QString placeInFolder(const QString &file, const QString &fromFolder, const QString &toFolder) {
    QString relative = QDir(fromFolder).relativeFilePath(file);
    if (!isInsideFolder(file, fromFolder))
        relative = QFileInfo(file).fileName();
    const QString directory = QFileInfo(QDir(toFolder).filePath(relative)).path();
    if (!isInsideFolder(directory, toFolder) || !QDir().mkpath(directory))
        return {};
    const QString name = QFileInfo(file).fileName();
    QString destination = QDir(directory).filePath(name);
    while (QFileInfo::exists(destination)) {
        const int random = int(QRandomGenerator::global()->bounded(1, 1 << 30));
        destination = QDir(directory).filePath(QStringLiteral("%1_%2").arg(random).arg(name));
    }
    return destination;
}

} // namespace

bool moveDroppedPhoto(
    PhotoInfo &info, const QString &fromFolder, const QString &toFolder, const QString &source) {
    const QString file = info.value(QLatin1String(kPhotoUrl)).toString();
    const QString destination = placeInFolder(file, fromFolder, toFolder);
    if (destination.isEmpty())
        return false;
    if (!QFile::rename(file, destination)) {
        QString error;
        if (source.isEmpty() || !copyFileContents(source, destination, &error)) {
            qCWarning(lfShare).noquote()
                << QStringLiteral("cannot move %1 into %2 %3").arg(file, toFolder, error);
            return false;
        }
        QFile::remove(file);
    }
    const QString thumb = thumbFileOf(info);
    if (!thumb.isEmpty()) {
        const QString thumbDestination = QDir(toFolder).filePath(QFileInfo(thumb).fileName());
        if (QFile::rename(thumb, thumbDestination)) {
            info.insert(
                QLatin1String(kPhotoThumb), QVariant::fromValue(PhotoThumb::fromFile(thumbDestination)));
        } else {
            // Held in memory again, made anew when its file went with the folder; the share's
            // next save writes it into its own folder.
            QImage picture = thumbImage(info);
            if (picture.isNull())
                picture = thumbImage(makeDroppedPhoto(destination, destination));
            info.insert(QLatin1String(kPhotoThumb), QVariant::fromValue(PhotoThumb(picture)));
            QFile::remove(thumb);
        }
    }
    // A file that was its own original (a download, a promised file) is found at its new place.
    if (info.value(QLatin1String(kPhotoOpath)).toString() == file)
        info.insert(QLatin1String(kPhotoOpath), destination);
    info.insert(QLatin1String(kPhotoUrl), destination);
    return true;
}

void removeDroppedPhotoFiles(const PhotoInfo &info, const QString &within) {
    for (const QString &file : {info.value(QLatin1String(kPhotoUrl)).toString(), thumbFileOf(info)}) {
        if (!file.isEmpty() && isInsideFolder(file, within))
            QFile::remove(file);
    }
}

std::optional<QString> captionBlackListFilter(const QString &caption) {
    const QStringList pieces = localizedString(kExifBlackListKey).split(QLatin1Char(','));
    for (const QString &piece : pieces) {
        // An empty piece (a stray comma in the list) would match every caption.
        if (!piece.isEmpty() && caption.contains(piece))
            return std::nullopt;
    }
    return caption;
}

QString dropDestination(const QString &sourcePath, const QString &shareSetFolder) {
    // Cleaned and absolute first: ".." in a dropped path must not lead out of the folder.
    const QString source = QDir::cleanPath(QFileInfo(sourcePath).absoluteFilePath());
    QStringList parts = source.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return {};
    const QString name = parts.takeLast();
    // The first folder ("home", "Users") says nothing about the photo.
    if (!parts.isEmpty())
        parts.removeFirst();
    const QString directory
        = QDir::cleanPath(shareSetFolder + QLatin1Char('/') + parts.join(QLatin1Char('/')));
    if (!isInsideFolder(directory, shareSetFolder) || !QDir().mkpath(directory))
        return {};
    QString destination = QDir(directory).filePath(name);
    while (QFileInfo::exists(destination)) {
        const int random = int(QRandomGenerator::global()->bounded(1, 1 << 30));
        destination = QDir(directory).filePath(QStringLiteral("%1_%2").arg(random).arg(name));
    }
    return destination;
}

QString copyDroppedFile(const QString &sourcePath, const QString &shareSetFolder, QString *error) {
    // Copies run side by side: a name another copy took since it was found free is chosen again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString destination = dropDestination(sourcePath, shareSetFolder);
        if (destination.isEmpty()) {
            if (error)
                *error = QStringLiteral("cannot make a folder for it in %1").arg(shareSetFolder);
            return {};
        }
        if (copyFileContents(sourcePath, destination, error))
            return destination;
        if (!QFileInfo::exists(destination))
            return {};
    }
    return {};
}

PhotoInfo makeDroppedPhoto(
    const QString &file, const QString &original, const std::optional<QString> &caption) {
    PhotoInfo info;
    info.insert(kPhotoUrl, file);
    info.insert(kPhotoOpath, original);
    allowLargePhotos();
    const PhotoBytes mapped = PhotoBytes::mapFile(file);
    // One read of the file gives the thumbnail, the upload preview and the caption.
    QVariantMap meta;
    const QImage thumb = prepareDroppedPhoto(file, mapped.view(), &meta);
    if (!thumb.isNull())
        info.insert(kPhotoThumb, QVariant::fromValue(PhotoThumb(thumb)));
    std::optional<QString> text = caption;
    if (!text) {
        const QString own = ExtractBestCaption(meta);
        if (!own.isNull())
            text = captionBlackListFilter(own);
    }
    if (text)
        info.insert(kPhotoCaption, *text);
    return info;
}

} // namespace lf
