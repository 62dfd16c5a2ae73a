#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>

class QMimeData;

namespace lf {

// Images that arrive as something other than a file: a "data:" URL, pasted or dragged image data,
// a web address. Each one becomes a file in the share-set folder before it is taken as a photo.

// Largest payload of a "data:" URL taken in (its Base64 text): the whole text is in memory already.
inline constexpr qsizetype kMaxDataUrlBytes = 40 * 1024 * 1024;
// A download stops at this size, when nothing arrives for kDownloadStallSeconds, or after
// kDownloadTimeLimitSeconds in all.
inline constexpr qint64 kMaxDownloadBytes = 100 * 1024 * 1024;
inline constexpr int kDownloadStallSeconds = 30;
inline constexpr int kDownloadTimeLimitSeconds = 180;
// Pasted image data is kept as a JPEG of this quality (compression factor 0.8).
inline constexpr int kRawImageJpegQuality = 77;

// The file name a web address names: its last path component up to the first "?".
QString webImageFileName(const QString &url);

// Writes the image of a "data:" URL into `folder` under a name made from the current time. The
// header's type decides the extension (image/png gives "png"); the payload is Base64. Returns the
// file, or empty with `problem` set when the URL is malformed, too large, or not a readable image
// of a type that can be shared; nothing is left behind then.
QString writeDataUrlImage(const QString &url, const QString &folder, QString *problem);

// Writes pasted or dragged image data into `folder` as a JPEG under a fresh random name, on white
// where the image is transparent. The file, or empty with `problem` set.
QString writeRawImage(const QImage &image, const QString &folder, QString *problem);

// The picture in a drag's or the clipboard's image data (PNG, JPEG, TIFF, or Qt's own image);
// null when it holds none.
QImage imageFromMimeData(const QMimeData *mime);
// Whether it offers image data at all (cheap: nothing is decoded).
bool hasImageData(const QMimeData *mime);

struct DownloadOutcome {
    bool ok = false;
    // Why it failed, as shown to the user ("Not Found", "The image is larger than 100 MB").
    QString description;
};

// Downloads `url` into `destination` within the limits above. `cancelled` is polled while it
// runs; `progress` hears the bytes received so far. A failed or cancelled download leaves no file.
DownloadOutcome downloadImage(const QString &url, const QString &destination,
    const std::function<bool()> &cancelled, const std::function<void(qint64 received)> &progress);

} // namespace lf
