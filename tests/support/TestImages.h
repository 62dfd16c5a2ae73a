#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

#include <optional>

namespace lf::test {

// Four solid quadrants: red top-left, green top-right, blue bottom-left, yellow bottom-right,
// so any turn or mirror of the image can be told from its corners.
QImage quadrantImage(int width, int height);
inline const QColor kTopLeft = Qt::red;
inline const QColor kTopRight = Qt::green;
inline const QColor kBottomLeft = Qt::blue;
inline const QColor kBottomRight = Qt::yellow;

// The image encoded by Qt in `format` ("jpeg", "png", "gif", "bmp", "tiff", "ico").
QByteArray encoded(const QImage &image, const char *format, int quality = 100);

bool writeBytes(const QString &path, const QByteArray &bytes);
QByteArray readBytes(const QString &path);

// Metadata written into an existing file with Exiv2. Unset fields are left out.
struct Meta {
    std::optional<int> orientation {};
    std::optional<QString> caption {}; // IPTC Caption/Abstract
    std::optional<QString> objectName {}; // IPTC ObjectName
    std::optional<QString> description {}; // TIFF ImageDescription
    bool gps = false; // 48deg 51' 24" N, 2deg 21' 7.2" E, 35 m
    std::optional<QString> dateTaken {}; // Exif DateTimeOriginal, "YYYY:MM:DD HH:MM:SS"
};
bool writeMeta(const QString &path, const Meta &meta);

// The Exif fields of `meta` (IPTC ones left out) as a TIFF-structured Exif block.
QByteArray exifBlock(const Meta &meta);

// A HEIF file made with libheif: HEVC ("heic") or AV1 ("avif"). `turn` is an orientation (2 to 8)
// the file states itself (irot, imir) over the stored `image`; `exif` is the image's Exif block.
// With `before`, that picture is stored first and `image` is made the primary one after it.
struct Heif {
    const char *codec = "heic";
    int turn = 1;
    QByteArray exif {};
    QImage before {};
};
QByteArray heifEncoded(const QImage &image, const Heif &options = {});

// The colour at a point, compared loosely (JPEG blurs colours a little).
bool near(const QColor &a, const QColor &b);

// The first luminance quantisation value of a JPEG: 16 at quality 50, 2 at quality 95.
int jpegLumaDc(const QByteArray &jpeg);

} // namespace lf::test
