#include "share/PhotoIntake.h"

#include "foundation/FileRules.h"
#include "foundation/Strings.h"
#include "share/ImageMetaData.h"
#include "share/PhotoPrep.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRandomGenerator>
#include <QThread>

#include <atomic>
#include <thread>
#include <vector>

namespace lf {

QString photoFileProblem(const QString &path) {
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
    if (!reader.size().isValid() || reader.size().isEmpty())
        return QStringLiteral("%1 is a damaged image: its size cannot be read").arg(path);
    return photoSizeProblem(path, found, reader.size());
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
    const qsizetype count = sourcePaths.size();
    QStringList copies;
    QString why;
    // The copies in turn: a name taken by one must be seen by the next.
    for (const QString &source : sourcePaths) {
        const QString copy = checkedCopy(source, shareSetFolder, &why);
        if (copy.isEmpty())
            break;
        copies.append(copy);
    }
    std::vector<std::optional<PhotoInfo>> records(size_t(copies.size()));
    std::vector<QString> problems(size_t(copies.size()));
    std::atomic<qsizetype> next {0};
    const auto decode = [&] {
        for (qsizetype i = next++; i < copies.size(); i = next++)
            records[size_t(i)]
                = recordOfCopy(copies.at(i), sourcePaths.at(i), shareSetFolder, &problems[size_t(i)]);
    };
    {
        std::vector<std::jthread> pool;
        const int threads = int(std::min<qsizetype>(QThread::idealThreadCount(), copies.size())) - 1;
        for (int t = 0; t < threads; ++t)
            pool.emplace_back(decode);
        decode();
    } // joined here, before what they use goes
    QList<PhotoInfo> infos;
    QString firstProblem;
    for (size_t i = 0; i < records.size(); ++i) {
        if (records[i])
            infos.append(*records[i]);
        else if (firstProblem.isEmpty())
            firstProblem = problems[i];
    }
    if (infos.size() == count)
        return infos;
    // The first file in order that failed; a failed copy comes after every file copied.
    if (!firstProblem.isEmpty())
        why = firstProblem;
    for (const PhotoInfo &info : std::as_const(infos)) {
        QFile::remove(info.value(kPhotoUrl).toString());
        if (const QString thumb = info.value(kPhotoThumb).value<PhotoThumb>().filePath(); !thumb.isEmpty())
            QFile::remove(thumb);
    }
    if (problem)
        *problem = why;
    return std::nullopt;
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
    const QString destination = dropDestination(sourcePath, shareSetFolder);
    if (destination.isEmpty()) {
        if (error)
            *error = QStringLiteral("cannot make a folder for it in %1").arg(shareSetFolder);
        return {};
    }
    return copyFileContents(sourcePath, destination, error) ? destination : QString();
}

PhotoInfo makeDroppedPhoto(
    const QString &file, const QString &original, const std::optional<QString> &caption) {
    PhotoInfo info;
    info.insert(kPhotoUrl, file);
    info.insert(kPhotoOpath, original);
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
