#pragma once

#include <QByteArrayView>
#include <QString>
#include <QVariantMap>

namespace lf {

// Keys of the image metadata dictionary. The layout follows the usual image-property
// dictionary: pixel size and orientation at the top, the rest in sub-dictionaries.
inline constexpr const char *kMetaPixelWidth = "PixelWidth";
inline constexpr const char *kMetaPixelHeight = "PixelHeight";
inline constexpr const char *kMetaOrientation = "Orientation";
inline constexpr const char *kMetaTIFF = "{TIFF}";
inline constexpr const char *kMetaIPTC = "{IPTC}";
inline constexpr const char *kMetaGPS = "{GPS}";
inline constexpr const char *kMetaImageDescription = "ImageDescription";
inline constexpr const char *kMetaCaptionAbstract = "Caption/Abstract";
inline constexpr const char *kMetaObjectName = "ObjectName";
// Exif dates as the file holds them ("YYYY:MM:DD HH:MM:SS"): when it was taken and digitized
// in the Exif sub-dictionary, when it was last changed in the TIFF one.
inline constexpr const char *kMetaExif = "{Exif}";
inline constexpr const char *kMetaDateTimeOriginal = "DateTimeOriginal";
inline constexpr const char *kMetaDateTimeDigitized = "DateTimeDigitized";
inline constexpr const char *kMetaDateTime = "DateTime";
// GPS sub-dictionary: degrees as positive reals with their "N"/"S", "E"/"W" references.
inline constexpr const char *kGPSLatitude = "Latitude";
inline constexpr const char *kGPSLatitudeRef = "LatitudeRef";
inline constexpr const char *kGPSLongitude = "Longitude";
inline constexpr const char *kGPSLongitudeRef = "LongitudeRef";
inline constexpr const char *kGPSAltitude = "Altitude";
inline constexpr const char *kGPSAltitudeRef = "AltitudeRef";
inline constexpr const char *kGPSTimeStamp = "TimeStamp";
inline constexpr const char *kGPSDateStamp = "DateStamp";
inline constexpr const char *kGPSImgDirection = "ImgDirection";
inline constexpr const char *kGPSImgDirectionRef = "ImgDirectionRef";
inline constexpr const char *kGPSSpeed = "Speed";
inline constexpr const char *kGPSSpeedRef = "SpeedRef";

// The metadata of the first image in `bytes`: pixel size as stored, orientation, TIFF
// description, IPTC caption and object name, Exif dates, GPS. Empty when the bytes are not an image.
QVariantMap ExtractMetaData(QByteArrayView bytes);

// The caption of a photo: IPTC caption, else TIFF description, else IPTC object name, each
// trimmed of spaces and tabs and used only when something is left. Null when none.
QString ExtractBestCaption(QByteArrayView bytes);
QString ExtractBestCaption(const QVariantMap &metadata);

// The JPEG with an Exif block that keeps the photo's dates from `metadata`, says its pixels are
// upright (orientation 1) and, only with `withGps`, holds its location. The JPEG as it was when
// the block cannot be made.
QByteArray jpegWithExif(const QByteArray &jpeg, const QVariantMap &metadata, bool withGps);

// The EXIF orientation (1 to 8) of a metadata dictionary; anything else counts as 1.
int orientationOf(const QVariantMap &metadata);

} // namespace lf
