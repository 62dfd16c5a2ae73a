#pragma once

#include "share/PhotoInfo.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace lf {

// The localized list of camera-made captions ("OLYMPUS DIGITAL CAMERA", ...) that are not worth
// keeping; comma-separated.
inline constexpr const char *kExifBlackListKey = "[exifBlackList]";

// The caption itself, or nothing when it contains one of the blacklisted pieces.
std::optional<QString> captionBlackListFilter(const QString &caption);

// Where the copy of a dropped file goes inside a share-set folder: the source's folders below
// its first one are kept (/home/ann/Pictures/a.jpg becomes ann/Pictures/a.jpg), so photos of
// the same name from different folders do not collide; a taken name gets a random "N_" prefix.
// The folders are created. Empty when they cannot be.
QString dropDestination(const QString &sourcePath, const QString &shareSetFolder);

// Copies a dropped file into the share-set folder; the copy's path, or empty with `error` set.
QString copyDroppedFile(const QString &sourcePath, const QString &shareSetFolder, QString *error = nullptr);

// Why the file at `path` cannot be taken as a photo, as a sentence naming it; empty when it can.
// Cheap, it reads the header only: the content must be an image of the type the file's name
// says (a text file or a PNG named ".jpg" is refused) whose size can be read.
QString photoFileProblem(const QString &path);

// Takes a dropped file into the share-set folder: checks it (photoFileProblem), copies it and
// makes its photo record, whose thumbnail shows that the image decodes. Nothing, with the copy
// removed and `problem` set, when the file cannot be shared as a photo.
std::optional<PhotoInfo> takeDroppedPhoto(
    const QString &sourcePath, const QString &shareSetFolder, QString *problem = nullptr);

// takeDroppedPhoto() of each file, in order: the copies one after another, their decoding on
// QThread::idealThreadCount() threads at once. All or nothing: at the first file that cannot be
// taken, every copy made is removed and `problem` names that file.
std::optional<QList<PhotoInfo>> takeDroppedPhotos(
    const QStringList &sourcePaths, const QString &shareSetFolder, QString *problem = nullptr);

// The photo record of a dropped file: its thumbnail for the drop area, "url" the file, "opath"
// where it came from, and a caption: the given one, else the photo's own (unless blacklisted).
// The thumbnail is null when the file does not decode.
PhotoInfo makeDroppedPhoto(
    const QString &file, const QString &original, const std::optional<QString> &caption = std::nullopt);

} // namespace lf
