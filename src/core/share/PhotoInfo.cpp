#include "share/PhotoInfo.h"

#include "foundation/Identity.h"
#include "foundation/LogCategories.h"
#include "share/PhotoPrep.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <mutex>

namespace lf {

namespace {
constexpr int kThumbJpegQuality = 90;
}

struct PhotoThumb::Data {
    std::mutex mutex;
    QImage image;
    QString filePath;
    bool loadTried = false;
};

PhotoThumb::PhotoThumb(const QImage &image)
    : d(std::make_shared<Data>()) {
    registerType();
    d->image = image;
}

PhotoThumb PhotoThumb::fromFile(const QString &filePath) {
    registerType();
    PhotoThumb thumb;
    thumb.d = std::make_shared<Data>();
    thumb.d->filePath = filePath;
    return thumb;
}

QImage PhotoThumb::image() const {
    if (!d)
        return {};
    std::lock_guard lock(d->mutex);
    return imageLocked();
}

QImage PhotoThumb::imageLocked() const {
    if (d->image.isNull() && !d->loadTried && !d->filePath.isEmpty()) {
        d->loadTried = true;
        QImageReader reader(d->filePath);
        d->image = reader.read();
        if (d->image.isNull())
            qCWarning(lfShare).noquote()
                << QStringLiteral("thumbnail unreadable %1: %2").arg(d->filePath, reader.errorString());
    }
    return d->image;
}

QString PhotoThumb::filePath() const {
    if (!d)
        return {};
    std::lock_guard lock(d->mutex);
    return d->filePath;
}

QString PhotoThumb::fileNameIn(const QString &folder) const {
    if (!d)
        return {};
    std::lock_guard lock(d->mutex);
    const QFileInfo current(d->filePath);
    if (!d->filePath.isEmpty() && current.absolutePath() == QDir(folder).absolutePath() && current.exists())
        return current.fileName();
    const QImage picture = imageLocked();
    if (picture.isNull())
        return {};
    const QString name = QStringLiteral("thumb-%1.jpg").arg(generateUUIDString());
    const QString path = QDir(folder).filePath(name);
    // A fresh name replaces nothing, so a plain write will do; the archive naming the file is
    // written after it. No sync: a thumbnail lost to a power cut only costs its picture.
    const QByteArray jpeg = encodeJpeg(picture, kThumbJpegQuality);
    QFile file(path);
    if (jpeg.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::NewOnly)
        || file.write(jpeg) != jpeg.size() || !file.flush()) {
        qCWarning(lfShare).noquote()
            << QStringLiteral("cannot write thumbnail %1: %2").arg(path, file.errorString());
        file.remove();
        return {};
    }
    file.close();
    // From now on the file holds the picture: a share of many photos keeps none of them in
    // memory until someone looks at one again.
    d->filePath = path;
    d->image = QImage();
    d->loadTried = false;
    return name;
}

void PhotoThumb::registerType() {
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<PhotoThumb>();
        QMetaType::registerConverter<PhotoThumb, QImage>(&PhotoThumb::image);
    });
}

QImage thumbImage(const PhotoInfo &info) {
    const QVariant v = info.value(QLatin1String(kPhotoThumb));
    if (v.typeId() == qMetaTypeId<PhotoThumb>())
        return v.value<PhotoThumb>().image();
    if (v.typeId() == QMetaType::QImage)
        return v.value<QImage>();
    return {};
}

} // namespace lf
