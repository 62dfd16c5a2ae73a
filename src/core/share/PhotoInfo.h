#pragma once

#include <QImage>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

#include <memory>

namespace lf {

// One photo of a share task: a dictionary with the keys below.
using PhotoInfo = QVariantMap;

// PhotoInfo keys.
inline constexpr const char *kPhotoUrl = "url";
inline constexpr const char *kPhotoOpath = "opath";
inline constexpr const char *kPhotoThumb = "thumb";
inline constexpr const char *kPhotoCaption = "caption";
inline constexpr const char *kPhotoOrder = "order";
inline constexpr const char *kPhotoGuid = "photo_guid";
inline constexpr const char *kPhotoOrigin = "photo_origin";
inline constexpr const char *kPhotoGps = "photo_gps";
inline constexpr const char *kPhotoImage = "photo";
// Never stored in the archive.
inline constexpr const char *kPhotoCameraPhoto = "camera_photo";
inline constexpr const char *kPhotoData = "data";
inline constexpr const char *kPhotoRetry = "retry";
inline constexpr const char *kPhotoPendingWrite = "pending_write";

// "photo_origin" values.
inline constexpr const char *kOriginLibrary = "library";
inline constexpr const char *kOriginReshare = "reshare";
// A "url" starting with this names a remote file, which is never deleted.
inline constexpr const char *kRemoteUrlPrefix = "http";

// Keys of an UploadItem's dictionary ("caption", "order", "url", "photo_guid", "photo_origin",
// "photo_gps" as above).
inline constexpr const char *kUploadFullImage = "fullimage";
inline constexpr const char *kUploadType = "type";
inline constexpr const char *kUploadFullIndex = "fullIndex";
inline constexpr const char *kUploadFullCount = "fullCount";
// The task an upload belongs to, in the records and notifications handed out.
inline constexpr const char *kUploadBundleContext = "bundleContext";
// "type" values.
inline constexpr const char *kUploadTypeFull = "full";
inline constexpr const char *kUploadTypeScreen = "screen";

// A PhotoInfo's "thumb": the thumbnail image, kept as a small JPEG file in the share-set folder
// once the task is saved (a dropped photo's at once). A thumb restored from an archive reads its file on
// first use, so a restored share of many photos costs no decoding up front. Copies share one state. QVariant
// converts it to QImage: info.value("thumb").value<QImage>() gives the image.
class PhotoThumb {
public:
    PhotoThumb() = default;
    explicit PhotoThumb(const QImage &image);
    static PhotoThumb fromFile(const QString &filePath);

    bool isNull() const { return !d; }
    // The image; read from its file on first use. Null when there is none or it does not decode.
    QImage image() const;
    // The thumbnail's file, empty until it was written.
    QString filePath() const;
    // Makes sure the thumbnail is a file in `folder` (writing it when needed) and returns the
    // file's name; empty on failure. Once written, the picture is read back from the file when
    // asked for, not held.
    QString fileNameIn(const QString &folder) const;

    bool operator==(const PhotoThumb &other) const { return d == other.d; }

    // Registers the type and its conversion to QImage with Qt's meta-type system (idempotent).
    static void registerType();

private:
    QImage imageLocked() const;

    struct Data;
    std::shared_ptr<Data> d;
};

// The thumbnail image of a PhotoInfo, whether "thumb" holds a PhotoThumb or a QImage.
QImage thumbImage(const PhotoInfo &info);

} // namespace lf

Q_DECLARE_METATYPE(lf::PhotoThumb)
