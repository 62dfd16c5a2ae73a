#pragma once

#include "share/PhotoInfo.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
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

// Why `path` is not a regular file that can be read, as a sentence naming it; empty when it is.
// Opened without blocking, so a FIFO or a device never holds the caller.
QString regularFileProblem(const QString &path);
// A regular file of a photo type: what a drag may promise and a drop takes. Reads nothing from a
// file that is not regular.
bool isPhotoCandidate(const QString &path);

// Why the file at `path` cannot be taken as a photo, as a sentence naming it; empty when it can.
// Cheap, it reads the header only: a regular file whose content is an image of the type the
// file's name says (a text file or a PNG named ".jpg" is refused) of a size that can be read
// and is not too large.
QString photoFileProblem(const QString &path);

// Takes a dropped file into the share-set folder: checks it (photoFileProblem), copies it and
// makes its photo record, whose thumbnail shows that the image decodes. Nothing, with the copy
// removed and `problem` set, when the file cannot be shared as a photo.
std::optional<PhotoInfo> takeDroppedPhoto(
    const QString &sourcePath, const QString &shareSetFolder, QString *problem = nullptr);

// takeDroppedPhoto() of each file, in order, on every core (takeInOrder). All or nothing: at the
// first file in order that cannot be taken, every copy made is removed and `problem` names it.
std::optional<QList<PhotoInfo>> takeDroppedPhotos(
    const QStringList &sourcePaths, const QString &shareSetFolder, QString *problem = nullptr);

// What taking one dropped file in gave: its record, or why there is none.
struct TakenPhoto {
    std::optional<PhotoInfo> info;
    QString problem;
};

// Runs take(i) for every index below `count` on one worker thread per core (Workers) and hands
// each outcome to deliver(i, outcome) on the calling thread, in index order, as soon as it and
// all before it are done; a few items at most run ahead of the delivered ones, so memory stays
// bounded. Once stop() holds (it is asked from any of the threads) no further item is begun,
// but every outcome made is still delivered, so the caller can remove what it left behind.
// Returns when the last begun item has been delivered; no worker of it runs any more.
void takeInOrder(int count, const std::function<TakenPhoto(int)> &take,
    const std::function<void(int, TakenPhoto &&)> &deliver, const std::function<bool()> &stop = {});

// Moves a taken photo's file and thumbnail from the share-set folder `fromFolder` into
// `toFolder`, keeping its place below the folder, and updates the record. A file that is gone
// (its folder was deleted with a share already sent) is copied again from `source` when given.
// False, with nothing left in `toFolder`, when it cannot be done.
bool moveDroppedPhoto(
    PhotoInfo &info, const QString &fromFolder, const QString &toFolder, const QString &source = {});
// Deletes the files of a taken photo that was not kept, its copy and its thumbnail, where they lie
// inside `within` (a file handed in to be used where it lies is the user's).
void removeDroppedPhotoFiles(const PhotoInfo &info, const QString &within);

// The photo record of a dropped file: its thumbnail for the drop area, "url" the file, "opath"
// where it came from, and a caption: the given one, else the photo's own (unless blacklisted).
// The thumbnail is null when the file does not decode.
PhotoInfo makeDroppedPhoto(
    const QString &file, const QString &original, const std::optional<QString> &caption = std::nullopt);

} // namespace lf
