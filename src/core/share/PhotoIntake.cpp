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

namespace lf {

namespace {

// The image format a photo extension promises, as the image reader names it; empty for an
// extension that promises none (the content then decides).
QByteArray promisedFormat(const QString &extension) {
    if (extension == QLatin1String("jpg") || extension == QLatin1String("jpeg"))
        return "jpeg";
    if (extension == QLatin1String("tif") || extension == QLatin1String("tiff"))
        return "tiff";
    if (isPhotoExtension(extension) || isUploadAsIsExtension(extension))
        return extension.toLatin1();
    return {};
}

} // namespace

QString photoFileProblem(const QString &path) {
    const QByteArray promised = promisedFormat(lowerExtension(path));
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
    return {};
}

std::optional<PhotoInfo> takeDroppedPhoto(
    const QString &sourcePath, const QString &shareSetFolder, QString *problem) {
    QString why = photoFileProblem(sourcePath);
    if (why.isEmpty()) {
        const QString copy = copyDroppedFile(sourcePath, shareSetFolder, &why);
        if (copy.isEmpty()) {
            why = QStringLiteral("cannot copy %1 into the share: %2").arg(sourcePath, why);
        } else {
            const PhotoInfo info = makeDroppedPhoto(copy, QFileInfo(sourcePath).absoluteFilePath());
            if (!thumbImage(info).isNull())
                return info;
            // The header was fine, the picture is not: a file cut short or damaged inside.
            QFile::remove(copy);
            why = QStringLiteral("%1 is a damaged image: it cannot be decoded").arg(sourcePath);
        }
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
