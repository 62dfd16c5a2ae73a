#include "share/PhotoPrep.h"

#include "foundation/FileRules.h"
#include "foundation/LogCategories.h"
#include "foundation/Prefs.h"
#include "share/ImageMetaData.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTransform>

#include <cstring>
#include <list>
#include <mutex>
#include <optional>
#include <sys/stat.h>

namespace lf {

namespace {

// A JPEG cut short still "decodes" (the decoder pads the missing rows with grey), so its marker
// structure is walked to the end-of-image marker first. Segments are skipped by their length;
// entropy-coded data is skipped to the next real marker.
bool jpegIsComplete(QByteArrayView bytes) {
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    if (n < 4 || p[0] != 0xFF || p[1] != 0xD8)
        return false;
    qsizetype i = 2;
    while (i + 1 < n) {
        if (p[i] != 0xFF) {
            const void *next = std::memchr(p + i, 0xFF, size_t(n - i));
            if (!next)
                return false;
            i = static_cast<const uchar *>(next) - p;
            continue;
        }
        const uchar marker = p[i + 1];
        if (marker == 0xD9)
            return true;
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            i += 2;
            continue;
        }
        if (i + 3 >= n)
            return false;
        const int length = (p[i + 2] << 8) | p[i + 3];
        if (length < 2)
            return false;
        i += 2 + length;
    }
    return false;
}

// The first image of a GIF must reach its block terminator; the decoder would otherwise show
// the part that arrived.
bool gifIsComplete(QByteArrayView bytes) {
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    if (n < 13)
        return false;
    qsizetype i = 13;
    if (p[10] & 0x80)
        i += 3 * (qsizetype(1) << ((p[10] & 0x07) + 1));
    const auto skipSubBlocks = [&]() {
        while (i < n) {
            const int size = p[i++];
            if (size == 0)
                return true;
            i += size;
        }
        return false;
    };
    while (i < n) {
        const uchar block = p[i++];
        if (block == 0x21) {
            ++i; // extension label
            if (!skipSubBlocks())
                return false;
        } else if (block == 0x2C) {
            if (i + 9 > n)
                return false;
            const uchar flags = p[i + 8];
            i += 9;
            if (flags & 0x80)
                i += 3 * (qsizetype(1) << ((flags & 0x07) + 1));
            ++i; // LZW minimum code size
            return i <= n && skipSubBlocks();
        } else {
            return false;
        }
    }
    return false;
}

// A BMP's pixel array must be all there; the decoder would otherwise leave rows unset.
bool bmpIsComplete(QByteArrayView bytes) {
    const auto *p = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    const auto u16 = [&](qsizetype at) { return quint32(p[at]) | quint32(p[at + 1]) << 8; };
    const auto u32 = [&](qsizetype at) { return u16(at) | u16(at + 2) << 16; };
    if (n < 26)
        return false;
    const quint32 offset = u32(10);
    const quint32 headerSize = u32(14);
    qint64 width = 0;
    qint64 height = 0;
    quint32 bitCount = 0;
    quint32 compression = 0;
    quint32 imageSize = 0;
    if (headerSize == 12) {
        width = u16(18);
        height = u16(20);
        bitCount = u16(24);
    } else {
        if (n < 38)
            return false;
        width = qint32(u32(18));
        height = qint32(u32(22));
        bitCount = u16(28);
        compression = u32(30);
        imageSize = u32(34);
    }
    qint64 needed = 0;
    if (compression == 0 || compression == 3 || compression == 6)
        needed = (qAbs(width) * bitCount + 31) / 32 * 4 * qAbs(height);
    else
        needed = imageSize;
    return qint64(offset) + needed <= n;
}

// A PNG's last chunk is IEND; anything may follow it, so its last bytes are searched.
bool pngIsComplete(QByteArrayView bytes) {
    constexpr qsizetype kTail = 64;
    return bytes.size() >= 20 && bytes.last(std::min(kTail, bytes.size() - 8)).contains("IEND");
}

// Whether the bytes sent as they are for a file of this extension are a whole image of that
// type: its signature, and for the types whose end can be found cheaply, that end.
bool wholeImageOfType(QByteArrayView bytes, const QString &extension) {
    if (extension == QLatin1String("jpg") || extension == QLatin1String("jpeg"))
        return jpegIsComplete(bytes);
    if (extension == QLatin1String("png"))
        return bytes.startsWith("\x89PNG\r\n\x1a\n") && pngIsComplete(bytes);
    if (extension == QLatin1String("gif"))
        return bytes.startsWith("GIF8") && gifIsComplete(bytes);
    if (extension == QLatin1String("bmp"))
        return bytes.startsWith("BM") && bmpIsComplete(bytes);
    if (extension == QLatin1String("tif") || extension == QLatin1String("tiff"))
        return bytes.startsWith(QByteArrayView("II*\0", 4)) || bytes.startsWith(QByteArrayView("MM\0*", 4));
    return true; // no cheap check for the others
}

QSize storedSize(const QVariantMap &meta) {
    return {meta.value(QLatin1String(kMetaPixelWidth)).toInt(),
        meta.value(QLatin1String(kMetaPixelHeight)).toInt()};
}

// The size a photo shows at once turned upright.
QSize uprightSize(const QVariantMap &meta) {
    const QSize stored = storedSize(meta);
    return orientationOf(meta) >= 5 ? stored.transposed() : stored;
}

QString replaceExtension(const QString &path, const QString &extension) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > slash + 1;
    return (hasExtension ? path.left(dot) : path) + QLatin1Char('.') + extension;
}

double dateValue(const QVariant &v) {
    if (v.typeId() == QMetaType::QDateTime)
        return double(v.toDateTime().toMSecsSinceEpoch()) / 1000.0;
    return v.toDouble();
}

// The upright image of a photo for its preview, long side at most kPreviewMaxSide: a large JPEG is
// decoded at the smallest scale that still covers that size.
QImage previewImage(QByteArrayView bytes, const QVariantMap &meta) {
    const QSize stored = storedSize(meta);
    const bool shrink = qMax(stored.width(), stored.height()) > kPreviewMaxSide;
    QSize cover;
    if (shrink)
        cover = uprightSize(meta).scaled(QSize(kPreviewMaxSide, kPreviewMaxSide), Qt::KeepAspectRatio);
    QImage image = ExtractImage(bytes, nullptr, &meta, cover);
    if (shrink)
        image = thumbnail(image, QSize(kPreviewMaxSide, kPreviewMaxSide));
    return image;
}

// Previews made when photos were dropped, waiting for their upload. Each is taken once; the
// oldest go when the bytes held pass the cap, and a file changed since is decoded afresh.
class PreviewCache {
public:
    static PreviewCache &instance() {
        static PreviewCache cache;
        return cache;
    }

    void put(const QString &path, QByteArray jpeg) {
        const std::optional<Identity> id = identityOf(path);
        if (!id || jpeg.isEmpty())
            return;
        std::lock_guard lock(m_mutex);
        dropLocked(path);
        m_bytes += jpeg.size();
        m_entries.push_back({path, *id, std::move(jpeg)});
        while (m_bytes > kCapBytes && !m_entries.empty()) {
            m_bytes -= m_entries.front().jpeg.size();
            m_entries.pop_front();
        }
    }

    QByteArray take(const QString &path) {
        const std::optional<Identity> id = identityOf(path);
        std::lock_guard lock(m_mutex);
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->path != path)
                continue;
            m_bytes -= it->jpeg.size();
            QByteArray jpeg = id && it->id == *id ? std::move(it->jpeg) : QByteArray();
            m_entries.erase(it);
            return jpeg;
        }
        return {};
    }

private:
    static constexpr qsizetype kCapBytes = 32 * 1024 * 1024;
    struct Identity {
        dev_t device;
        ino_t inode;
        off_t size;
        qint64 mtimeNs;
        bool operator==(const Identity &) const = default;
    };
    struct Entry {
        QString path;
        Identity id;
        QByteArray jpeg;
    };

    static std::optional<Identity> identityOf(const QString &path) {
        struct stat info { };
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            return std::nullopt;
        return Identity {info.st_dev, info.st_ino, info.st_size,
            qint64(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec};
    }

    void dropLocked(const QString &path) {
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->path == path) {
                m_bytes -= it->jpeg.size();
                m_entries.erase(it);
                return;
            }
        }
    }

    std::mutex m_mutex;
    std::list<Entry> m_entries;
    qsizetype m_bytes = 0;
};

// Every process that prepares photos may decode the largest one, whether or not it calls
// allowLargePhotos() itself.
const bool g_allocationLimitSet = (allowLargePhotos(), true);

} // namespace

void allowLargePhotos() {
    // Qt's own bound (128 MB) stops whole decodes at about 32 megapixels; photos go up to
    // kMaxPhotoPixels in 32-bit pixels.
    QImageReader::setAllocationLimit(int(kMaxPhotoPixels * 4 / (1024 * 1024)) + 1);
}

QString photoSizeProblem(const QString &path, const QByteArray &format, const QSize &size) {
    if (format == "jpeg" || qint64(size.width()) * size.height() <= kMaxPhotoPixels)
        return {};
    return QStringLiteral("%1 is too large to share: %2 x %3 pixels, more than %4 megapixels")
        .arg(path)
        .arg(size.width())
        .arg(size.height())
        .arg(kMaxPhotoPixels / 1'000'000);
}

bool supportedFile(const QString &path) {
    if (isPhotoExtension(lowerExtension(path)))
        return true;
    if (path.isEmpty())
        return false;
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return reader.canRead();
}

QImage uprightImage(const QImage &image, int orientation) {
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.mirrored(true, true);
    case 4:
        return image.mirrored(false, true);
    case 5:
        return image.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6:
        return image.transformed(QTransform().rotate(90));
    case 7:
        return image.transformed(QTransform().rotate(90)).mirrored(false, true);
    case 8:
        return image.transformed(QTransform().rotate(270));
    default:
        return image;
    }
}

QImage ExtractImage(
    QByteArrayView bytes, QSize *pixelSize, const QVariantMap *properties, const QSize &coverSize) {
    if (pixelSize)
        *pixelSize = QSize();
    if (bytes.isEmpty())
        return {};
    QVariantMap own;
    if (!properties) {
        own = ExtractMetaData(bytes);
        if (own.isEmpty())
            return {};
        properties = &own;
    }
    const int orientation = orientationOf(*properties);

    QByteArray raw = QByteArray::fromRawData(bytes.data(), bytes.size());
    QBuffer buffer(&raw);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    const QSize stored = reader.size();
    if (pixelSize) {
        const QSize given = storedSize(*properties);
        *pixelSize = given.isValid() && !given.isEmpty() ? given : stored;
    }
    const QByteArray format = reader.format();
    const bool jpeg = format == "jpeg";
    if ((jpeg && !jpegIsComplete(bytes)) || (format == "gif" && !gifIsComplete(bytes))
        || (format == "bmp" && !bmpIsComplete(bytes)))
        return {};
    if (jpeg && coverSize.isValid() && stored.isValid()) {
        const QSize need = orientation >= 5 ? coverSize.transposed() : coverSize;
        for (const int d : {8, 4, 2}) {
            const QSize reduced((stored.width() + d - 1) / d, (stored.height() + d - 1) / d);
            if (reduced.width() >= need.width() && reduced.height() >= need.height()) {
                reader.setScaledSize(reduced);
                break;
            }
        }
    }
    const QImage image = reader.read();
    if (image.isNull())
        return {};
    return uprightImage(image, orientation);
}

QImage thumbnail(const QImage &image, const QSize &box, bool whiteTrim, int stroke) {
    stroke = qMax(0, stroke);
    const QSize inner(box.width() - 2 * stroke, box.height() - 2 * stroke);
    if (image.isNull() || inner.isEmpty())
        return {};
    const QSizeF fitted = QSizeF(image.size()).scaled(QSizeF(inner), Qt::KeepAspectRatio);
    const QSize pixels(qMax(1, qRound(fitted.width())), qMax(1, qRound(fitted.height())));
    const QImage scaled = pixels == image.size()
        ? image
        : image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (stroke == 0 && !whiteTrim && !scaled.hasAlphaChannel())
        return scaled;
    QImage canvas(pixels + QSize(2 * stroke, 2 * stroke), QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    painter.drawImage(QPoint(stroke, stroke), scaled);
    if (whiteTrim) {
        painter.setPen(QPen(Qt::white, 1));
        painter.drawRect(QRect(0, 0, canvas.width() - 1, canvas.height() - 1));
    }
    painter.end();
    canvas.setColorSpace(image.colorSpace());
    return canvas;
}

namespace {

// thumbnail() of the photo, decoded at the smallest scale that covers the box.
QImage scaledThumbnail(
    QByteArrayView bytes, const QVariantMap &meta, const QSize &box, bool whiteTrim, int stroke) {
    const int s = qMax(0, stroke);
    const QSize inner(box.width() - 2 * s, box.height() - 2 * s);
    if (inner.isEmpty())
        return {};
    const QSize cover = uprightSize(meta).scaled(inner, Qt::KeepAspectRatio);
    return thumbnail(ExtractImage(bytes, nullptr, &meta, cover), box, whiteTrim, stroke);
}

} // namespace

QImage ExtractThumbnail(QByteArrayView bytes, const QSize &box, bool whiteTrim, int stroke) {
    const QVariantMap meta = ExtractMetaData(bytes);
    return meta.isEmpty() ? QImage() : scaledThumbnail(bytes, meta, box, whiteTrim, stroke);
}

PhotoBytes dataForFile(QString &path, bool fullImage, QString *errorStr) {
    const PhotoBytes file = PhotoBytes::mapFile(path);
    if (file.isNull()) {
        if (errorStr) {
            *errorStr = QString::fromLatin1(kErrorCouldNotLoad)
                            .arg(QString::number(QFileInfo::exists(path) ? 1 : 0), path);
        }
        return {};
    }
    if (fullImage && isUploadAsIsExtension(lowerExtension(path))) {
        // Never decoded, but a file cut short or replaced since it was taken in is no photo.
        if (wholeImageOfType(file.view(), lowerExtension(path)))
            return file;
        qCWarning(lfShare).noquote() << QStringLiteral("incomplete image %1").arg(path);
        if (errorStr)
            *errorStr = QString::fromLatin1(kErrorIncomplete).arg(path);
        return {};
    }

    QByteArray jpeg = fullImage ? QByteArray() : PreviewCache::instance().take(path);
    if (jpeg.isEmpty()) {
        QImage image;
        const QVariantMap meta = ExtractMetaData(file.view());
        if (!meta.isEmpty())
            image = fullImage ? ExtractImage(file.view(), nullptr, &meta) : previewImage(file.view(), meta);
        if (fullImage && isConvertedPhotoExtension(lowerExtension(path))) {
            // The full photo stands in for the file the service cannot take: it keeps its date.
            const bool gps = Prefs::boolPrefForKey(QLatin1String(PrefKey::CameraGPSInfo), false);
            jpeg = encodeJpeg(image, kJpegQualityConverted);
            if (!jpeg.isEmpty())
                jpeg = jpegWithExif(jpeg, meta, gps);
        } else {
            jpeg = encodeJpeg(image, fullImage ? kJpegQualityFull : kJpegQualityPreview);
        }
    }
    if (jpeg.isEmpty()) {
        qCWarning(lfShare).noquote() << QStringLiteral("cannot decode %1").arg(path);
        if (errorStr)
            *errorStr = QString::fromLatin1(kErrorCouldNotEncode).arg(path);
    }
    path = replaceExtension(path, QStringLiteral("jpg"));
    return jpeg.isEmpty() ? PhotoBytes() : PhotoBytes(jpeg);
}

QImage prepareDroppedPhoto(const QString &path, QByteArrayView bytes, QVariantMap *metadata) {
    const QVariantMap meta = ExtractMetaData(bytes);
    if (metadata)
        *metadata = meta;
    if (meta.isEmpty())
        return {};
    // A file sent as it is needs no preview: decoded at the thumbnail's scale only.
    if (bytes.size() <= kLargePhotoBytes)
        return scaledThumbnail(bytes, meta, kDropThumbnailSize, true, kDropThumbnailStroke);
    const QImage preview = previewImage(bytes, meta);
    if (preview.isNull())
        return {};
    PreviewCache::instance().put(path, encodeJpeg(preview, kJpegQualityPreview));
    return thumbnail(preview, kDropThumbnailSize, true, kDropThumbnailStroke);
}

QByteArray encodeJpeg(const QImage &image, int quality) {
    if (image.isNull())
        return {};
    QImage clean;
    if (image.hasAlphaChannel()) {
        // Transparent parts become white, not black.
        clean = QImage(image.size(), QImage::Format_RGB32);
        clean.fill(Qt::white);
        QPainter painter(&clean);
        painter.drawImage(0, 0, image);
    } else {
        // A view of the same pixels without the image's text entries, which the encoder
        // would otherwise write into the file as comments.
        clean
            = QImage(image.constBits(), image.width(), image.height(), image.bytesPerLine(), image.format());
        if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono
            || image.format() == QImage::Format_MonoLSB)
            clean.setColorTable(image.colorTable());
    }
    clean.setColorSpace(image.colorSpace());
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(clean))
        return {};
    return out;
}

QByteArray jpgDataForImage(const QImage &image, const QVariantMap &location) {
    Q_UNUSED(location) // a photo's location never leaves the machine inside the file
    return encodeJpeg(image, kJpegQualityFull);
}

bool writeJpegFile(const QImage &image, const QString &path, const QVariantMap &location, QString *error) {
    const QByteArray jpeg = jpgDataForImage(image, location);
    if (jpeg.isEmpty()) {
        if (error)
            *error = QStringLiteral("cannot encode the image");
        return false;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error)
            *error = QStringLiteral("cannot create the folder of ") + path;
        return false;
    }
    return writeFileAtomically(path, jpeg, error);
}

int CompareByDate(const QVariantMap &a, const QVariantMap &b) {
    const QVariant x = a.value(QLatin1String(kDateKey));
    const QVariant y = b.value(QLatin1String(kDateKey));
    if (!x.isValid() || !y.isValid())
        return int(x.isValid()) - int(y.isValid());
    const double dx = dateValue(x);
    const double dy = dateValue(y);
    return dx < dy ? -1 : (dx > dy ? 1 : 0);
}

} // namespace lf
