#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QSize>
#include <QString>

namespace lf {

// Photos in the HEIF family (HEIC, HEIF, AVIF) through libheif. Qt's image readers know these
// formats as "heif" and "avif" once this part is linked: every QImageReader in the program then
// reads them like any other type.

// The largest photo decoded whole, in pixels; a larger one is refused with a clear error.
inline constexpr qint64 kMaxPhotoPixels = 100'000'000;

// The reader's name for the HEIF content at the start of `head` ("heif" or "avif"); empty when
// the bytes are not a HEIF file libheif can decode.
QByteArray heifFormatOf(QByteArrayView head);

// What is known of a HEIF file's primary image without decoding it.
struct HeifInfo {
    QSize size; // as shown, after the file's own turns and crops
    // The Exif orientation still to apply after decoding: the Exif value when the file carries no
    // turn of its own (irot, imir), else 1, so a phone photo that says both is not turned twice.
    int orientation = 1;
    QByteArray exif; // TIFF-structured Exif of the primary image; empty when none
    QString error; // why the file cannot be read; empty when it can
};
HeifInfo readHeifInfo(QByteArrayView bytes);

// Decodes the primary image of a HEIF file with its own turns and crops applied (the Exif
// orientation is the caller's). Null, with `error`, when it does not decode or is larger than
// kMaxPhotoPixels.
QImage decodeHeif(QByteArrayView bytes, QString *error = nullptr);

} // namespace lf
