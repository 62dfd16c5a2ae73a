#pragma once

#include "foundation/FileRules.h"
#include "share/HeifImage.h"
#include "share/PhotoBytes.h"

#include <QByteArrayView>
#include <QImage>
#include <QSize>
#include <QString>
#include <QVariantMap>

namespace lf {

// JPEG quality for the compression factors 1.0 (full size) and 0.5 (preview).
inline constexpr int kJpegQualityFull = 95;
inline constexpr int kJpegQualityPreview = 50;
// Full-size JPEG of a photo type the service does not take as it is (HEIC, AVIF, WebP).
inline constexpr int kJpegQualityConverted = 92;
// A photo file larger than this is sent at screen size inside the bundle.
inline constexpr qint64 kLargePhotoBytes = 131072;
// Long side of a preview rendition.
inline constexpr int kPreviewMaxSide = 1000;
// The drop area's thumbnails.
inline constexpr QSize kDropThumbnailSize {320, 240};
inline constexpr int kDropThumbnailStroke = 12;

// Error texts of dataForFile; the upload sends them to the server in place of the photo's hash.
inline constexpr const char *kErrorCouldNotLoad = "exists = %1 couldn't load original %2";
inline constexpr const char *kErrorCouldNotEncode = "couldn't representationUsingType:NSJPEGFileType %1";
inline constexpr const char *kErrorIncomplete = "incomplete image %1";

// Why a photo of this content format and size (as the image reader tells them) is too large to
// share, as a sentence naming it; empty when it is not. A photo decoded whole (every type but
// JPEG, which is decoded at reduced scale and sent as it is) has at most kMaxPhotoPixels.
QString photoSizeProblem(const QString &path, const QByteArray &format, const QSize &size);
// Lets the image reader allocate what the largest photo needs (its default stops near 33
// megapixels). Idempotent.
void allowLargePhotos();

// Whether a file is taken as a photo: a photo extension, or content an image decoder opens.
bool supportedFile(const QString &path);

// Decodes the first image of `bytes` upright. `pixelSize` gets the size as stored (before
// turning); `properties` are the file's metadata when the caller already has them. With
// `coverSize`, the result only needs to cover that upright size: a JPEG is then decoded at the
// smallest 1/2, 1/4 or 1/8 scale that still covers it (never the whole large photo).
// Null when the bytes do not decode.
QImage ExtractImage(QByteArrayView bytes, QSize *pixelSize = nullptr, const QVariantMap *properties = nullptr,
    const QSize &coverSize = {});

// The image turned upright for an EXIF orientation (2 to 8; others leave it as it is).
QImage uprightImage(const QImage &image, int orientation);

// The image fitted (kept in proportion, enlarged when smaller) into `box` less `stroke` on each
// side, on a white canvas of the fitted size plus `stroke` on every side; `whiteTrim` also draws
// a one-pixel white line along the canvas's edge.
QImage thumbnail(const QImage &image, const QSize &box, bool whiteTrim = false, int stroke = 0);

// thumbnail() of the photo in `bytes`, decoded at reduced scale.
QImage ExtractThumbnail(QByteArrayView bytes, const QSize &box, bool whiteTrim = false, int stroke = 0);

// The bytes to upload for the photo at `path`. Full and an upload-as-is extension: the file
// itself, mapped and never decoded, `path` unchanged, when its signature (and, for JPEG, PNG,
// GIF and BMP, its end) shows a whole image of that type. Otherwise an upright JPEG (quality 95 for
// full, 50 for a preview whose long side is at most 1000 pixels) and `path` takes the extension
// "jpg". Null on failure, with the error text in `errorStr` when given.
PhotoBytes dataForFile(QString &path, bool fullImage, QString *errorStr = nullptr);

// A dropped photo decoded once: its drop-area thumbnail and, for a file large enough to be sent at
// screen size, its upload preview, which the next dataForFile of that unchanged file takes
// instead of decoding the file again. The thumbnail is null when the file does not decode.
// `metadata` gets the file's metadata.
QImage prepareDroppedPhoto(const QString &path, QByteArrayView bytes, QVariantMap *metadata = nullptr);

// The image as a JPEG at quality 95 carrying no metadata; `location` (GPS) is never written.
QByteArray jpgDataForImage(const QImage &image, const QVariantMap &location = {});
// The same at a chosen quality. Empty when the image is null or cannot be encoded.
QByteArray encodeJpeg(const QImage &image, int quality);

// Writes jpgDataForImage(image, location) to `path`, creating its folder; atomically.
bool writeJpegFile(
    const QImage &image, const QString &path, const QVariantMap &location = {}, QString *error = nullptr);

// Orders two records by their "date" (date-times or numbers), ascending: -1, 0 or 1.
// A record without a date comes first.
int CompareByDate(const QVariantMap &a, const QVariantMap &b);
inline constexpr const char *kDateKey = "date";

} // namespace lf
