#include "share/ImageMetaData.h"

#include "foundation/LogCategories.h"

#include <QBuffer>
#include <QImageReader>
#include <QStringDecoder>

#include <exiv2/exiv2.hpp>

#include <cmath>
#include <mutex>

namespace lf {

namespace {

std::mutex g_xmpMutex;

void lockXmp(void *, bool lock) {
    if (lock)
        g_xmpMutex.lock();
    else
        g_xmpMutex.unlock();
}

// Exiv2's XMP toolkit must be set up once before threads use it, and its warnings about
// damaged files would only clutter standard error.
void initExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(lockXmp, nullptr);
    });
}

QString decodeText(std::string text, bool utf8Declared) {
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    const QByteArray raw = QByteArray::fromStdString(text);
    if (!utf8Declared) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = utf8(raw);
        if (!utf8.hasError())
            return decoded;
        return QString::fromLatin1(raw);
    }
    return QString::fromUtf8(raw);
}

const Exiv2::Exifdatum *findExif(const Exiv2::ExifData &exif, const char *key) {
    const auto it = exif.findKey(Exiv2::ExifKey(key));
    return (it == exif.end() || it->count() == 0) ? nullptr : &*it;
}

const Exiv2::Iptcdatum *findIptc(const Exiv2::IptcData &iptc, const char *key) {
    const auto it = iptc.findKey(Exiv2::IptcKey(key));
    return (it == iptc.end() || it->size() == 0) ? nullptr : &*it;
}

double degrees(const Exiv2::Exifdatum &d) {
    double value = 0;
    double unit = 1;
    for (long i = 0; i < d.count() && i < 3; ++i, unit *= 60)
        value += double(d.toFloat(i)) / unit;
    return value;
}

QVariantMap readGps(const Exiv2::ExifData &exif) {
    QVariantMap gps;
    const auto text = [&](const char *key, const char *name) {
        if (const auto *d = findExif(exif, key))
            gps.insert(QLatin1String(name), decodeText(d->toString(), false));
    };
    const auto real = [&](const char *key, const char *name) {
        if (const auto *d = findExif(exif, key)) {
            const double v = double(d->toFloat(0));
            if (std::isfinite(v))
                gps.insert(QLatin1String(name), v);
        }
    };
    if (const auto *d = findExif(exif, "Exif.GPSInfo.GPSLatitude"))
        gps.insert(QLatin1String(kGPSLatitude), degrees(*d));
    text("Exif.GPSInfo.GPSLatitudeRef", kGPSLatitudeRef);
    if (const auto *d = findExif(exif, "Exif.GPSInfo.GPSLongitude"))
        gps.insert(QLatin1String(kGPSLongitude), degrees(*d));
    text("Exif.GPSInfo.GPSLongitudeRef", kGPSLongitudeRef);
    real("Exif.GPSInfo.GPSAltitude", kGPSAltitude);
    if (const auto *d = findExif(exif, "Exif.GPSInfo.GPSAltitudeRef"))
        gps.insert(QLatin1String(kGPSAltitudeRef), int(d->toLong(0)));
    if (const auto *d = findExif(exif, "Exif.GPSInfo.GPSTimeStamp"); d && d->count() >= 3) {
        gps.insert(QLatin1String(kGPSTimeStamp),
            QString::asprintf(
                "%02d:%02d:%05.2f", int(d->toFloat(0)), int(d->toFloat(1)), double(d->toFloat(2))));
    }
    text("Exif.GPSInfo.GPSDateStamp", kGPSDateStamp);
    real("Exif.GPSInfo.GPSImgDirection", kGPSImgDirection);
    text("Exif.GPSInfo.GPSImgDirectionRef", kGPSImgDirectionRef);
    real("Exif.GPSInfo.GPSSpeed", kGPSSpeed);
    text("Exif.GPSInfo.GPSSpeedRef", kGPSSpeedRef);
    for (auto it = gps.begin(); it != gps.end();) {
        if (it.value().typeId() == QMetaType::Double && !std::isfinite(it.value().toDouble()))
            it = gps.erase(it);
        else
            ++it;
    }
    return gps;
}

void readExiv2(QByteArrayView bytes, QVariantMap &meta) {
    initExiv2();
    try {
        auto image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte *>(bytes.data()), long(bytes.size()));
        if (!image.get())
            return;
        image->readMetadata();
        const Exiv2::ExifData &exif = image->exifData();
        const Exiv2::IptcData &iptc = image->iptcData();

        QVariantMap tiff;
        if (const auto *d = findExif(exif, "Exif.Image.Orientation")) {
            const int orientation = int(d->toLong(0));
            tiff.insert(QLatin1String(kMetaOrientation), orientation);
            meta.insert(QLatin1String(kMetaOrientation), orientation);
        }
        if (const auto *d = findExif(exif, "Exif.Image.ImageDescription"))
            tiff.insert(QLatin1String(kMetaImageDescription), decodeText(d->toString(), false));
        if (!tiff.isEmpty())
            meta.insert(QLatin1String(kMetaTIFF), tiff);

        // ESC % G in the envelope declares UTF-8; otherwise guess between UTF-8 and Latin-1.
        bool utf8 = false;
        if (const auto *d = findIptc(iptc, "Iptc.Envelope.CharacterSet"))
            utf8 = d->toString() == "\x1b%G";
        QVariantMap iptcMap;
        if (const auto *d = findIptc(iptc, "Iptc.Application2.Caption"))
            iptcMap.insert(QLatin1String(kMetaCaptionAbstract), decodeText(d->toString(), utf8));
        if (const auto *d = findIptc(iptc, "Iptc.Application2.ObjectName"))
            iptcMap.insert(QLatin1String(kMetaObjectName), decodeText(d->toString(), utf8));
        if (!iptcMap.isEmpty())
            meta.insert(QLatin1String(kMetaIPTC), iptcMap);

        const QVariantMap gps = readGps(exif);
        if (!gps.isEmpty())
            meta.insert(QLatin1String(kMetaGPS), gps);
    } catch (const std::exception &e) {
        // Damaged metadata still leaves a usable image; the pixel size came from the decoder.
        qCWarning(lfShare).noquote()
            << QStringLiteral("metadata unreadable: %1").arg(QString::fromUtf8(e.what()));
    } catch (...) {
        qCWarning(lfShare).noquote() << QStringLiteral("metadata unreadable");
    }
}

// Spaces and tabs only: a caption's line breaks are its own.
QString trimSpacesAndTabs(const QString &s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(s.at(begin)))
        ++begin;
    while (end > begin && blank(s.at(end - 1)))
        --end;
    return s.mid(begin, end - begin);
}

QString captionFrom(const QVariantMap &dict, const char *key, const char *complaint) {
    const auto it = dict.constFind(QLatin1String(key));
    if (it == dict.cend())
        return {};
    if (it.value().typeId() != QMetaType::QString) {
        qCInfo(lfShare).noquote() << QLatin1String(complaint);
        return {};
    }
    return trimSpacesAndTabs(it.value().toString());
}

} // namespace

QVariantMap ExtractMetaData(QByteArrayView bytes) {
    if (bytes.isEmpty())
        return {};
    QByteArray raw = QByteArray::fromRawData(bytes.data(), bytes.size());
    QBuffer buffer(&raw);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!reader.canRead())
        return {};
    const QSize size = reader.size();
    if (!size.isValid())
        return {};
    QVariantMap meta;
    meta.insert(QLatin1String(kMetaPixelWidth), size.width());
    meta.insert(QLatin1String(kMetaPixelHeight), size.height());
    readExiv2(bytes, meta);
    return meta;
}

QString ExtractBestCaption(QByteArrayView bytes) {
    return ExtractBestCaption(ExtractMetaData(bytes));
}

QString ExtractBestCaption(const QVariantMap &metadata) {
    const QVariantMap iptc = metadata.value(QLatin1String(kMetaIPTC)).toMap();
    const QVariantMap tiff = metadata.value(QLatin1String(kMetaTIFF)).toMap();
    QString caption = captionFrom(
        iptc, kMetaCaptionAbstract, "WTF??? kCGImagePropertyIPTCDictionary->Caption/Abstract isn't a string");
    if (caption.isEmpty()) {
        caption = captionFrom(tiff, kMetaImageDescription,
            "WTF??? kCGImagePropertyTIFFDictionary->ImageDescription isn't a string");
    }
    if (caption.isEmpty()) {
        caption = captionFrom(
            iptc, kMetaObjectName, "WTF??? kCGImagePropertyIPTCDictionary->ObjecxtName isn't a string");
    }
    return caption.isEmpty() ? QString() : caption;
}

int orientationOf(const QVariantMap &metadata) {
    QVariant v = metadata.value(QLatin1String(kMetaTIFF)).toMap().value(QLatin1String(kMetaOrientation));
    if (!v.isValid())
        v = metadata.value(QLatin1String(kMetaOrientation));
    bool ok = false;
    const int orientation = v.toInt(&ok);
    return ok && orientation >= 1 && orientation <= 8 ? orientation : 1;
}

} // namespace lf
