#include "share/ImageMetaData.h"

#include "foundation/LogCategories.h"
#include "share/HeifImage.h"

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

void readExif(const Exiv2::ExifData &exif, const Exiv2::IptcData &iptc, QVariantMap &meta) {
    QVariantMap tiff;
    if (const auto *d = findExif(exif, "Exif.Image.Orientation")) {
        const int orientation = int(d->toLong(0));
        tiff.insert(QLatin1String(kMetaOrientation), orientation);
        meta.insert(QLatin1String(kMetaOrientation), orientation);
    }
    if (const auto *d = findExif(exif, "Exif.Image.ImageDescription"))
        tiff.insert(QLatin1String(kMetaImageDescription), decodeText(d->toString(), false));
    if (const auto *d = findExif(exif, "Exif.Image.DateTime"))
        tiff.insert(QLatin1String(kMetaDateTime), decodeText(d->toString(), false));
    if (!tiff.isEmpty())
        meta.insert(QLatin1String(kMetaTIFF), tiff);
    QVariantMap dates;
    if (const auto *d = findExif(exif, "Exif.Photo.DateTimeOriginal"))
        dates.insert(QLatin1String(kMetaDateTimeOriginal), decodeText(d->toString(), false));
    if (const auto *d = findExif(exif, "Exif.Photo.DateTimeDigitized"))
        dates.insert(QLatin1String(kMetaDateTimeDigitized), decodeText(d->toString(), false));
    if (!dates.isEmpty())
        meta.insert(QLatin1String(kMetaExif), dates);

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
}

template<typename Read> void guarded(Read read) {
    initExiv2();
    try {
        read();
    } catch (const std::exception &e) {
        // Damaged metadata still leaves a usable image; the pixel size came from the decoder.
        qCWarning(lfShare).noquote()
            << QStringLiteral("metadata unreadable: %1").arg(QString::fromUtf8(e.what()));
    } catch (...) {
        qCWarning(lfShare).noquote() << QStringLiteral("metadata unreadable");
    }
}

void readExiv2(QByteArrayView bytes, QVariantMap &meta) {
    guarded([&] {
        auto image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte *>(bytes.data()), long(bytes.size()));
        if (!image.get())
            return;
        image->readMetadata();
        readExif(image->exifData(), image->iptcData(), meta);
    });
}

// A HEIF file's Exif comes from libheif; its orientation is what is left after the file's own
// turns, so a photo is never turned twice.
void readHeifMeta(const HeifInfo &info, QVariantMap &meta) {
    guarded([&] {
        Exiv2::ExifData exif;
        if (!info.exif.isEmpty()) {
            Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte *>(info.exif.constData()),
                uint32_t(info.exif.size()));
        }
        readExif(exif, Exiv2::IptcData(), meta);
    });
    QVariantMap tiff = meta.value(QLatin1String(kMetaTIFF)).toMap();
    tiff.insert(QLatin1String(kMetaOrientation), info.orientation);
    meta.insert(QLatin1String(kMetaTIFF), tiff);
    meta.insert(QLatin1String(kMetaOrientation), info.orientation);
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

void writeGps(const QVariantMap &gps, Exiv2::ExifData &exif) {
    const auto rational = [&](const char *key, const QString &text) {
        auto value = Exiv2::Value::create(Exiv2::unsignedRational);
        if (value->read(text.toStdString()) == 0)
            exif.add(Exiv2::ExifKey(key), value.get());
    };
    const auto text = [&](const char *key, const char *name) {
        const QString v = gps.value(QLatin1String(name)).toString();
        if (!v.isEmpty())
            exif[key] = v.toStdString();
    };
    // Degrees as degrees, minutes and hundredths of seconds.
    const auto dms = [](double degrees) {
        const qint64 hundredths = qRound64(qAbs(degrees) * 360000.0);
        return QStringLiteral("%1/1 %2/1 %3/100")
            .arg(hundredths / 360000)
            .arg(hundredths / 6000 % 60)
            .arg(hundredths % 6000);
    };
    const auto real = [&](const char *key, const char *name) {
        bool ok = false;
        const double v = gps.value(QLatin1String(name)).toDouble(&ok);
        if (ok && std::isfinite(v) && v >= 0)
            rational(key, QStringLiteral("%1/1000").arg(qRound64(v * 1000)));
    };
    bool ok = false;
    if (const double lat = gps.value(QLatin1String(kGPSLatitude)).toDouble(&ok); ok && std::isfinite(lat))
        rational("Exif.GPSInfo.GPSLatitude", dms(lat));
    text("Exif.GPSInfo.GPSLatitudeRef", kGPSLatitudeRef);
    if (const double lon = gps.value(QLatin1String(kGPSLongitude)).toDouble(&ok); ok && std::isfinite(lon))
        rational("Exif.GPSInfo.GPSLongitude", dms(lon));
    text("Exif.GPSInfo.GPSLongitudeRef", kGPSLongitudeRef);
    real("Exif.GPSInfo.GPSAltitude", kGPSAltitude);
    if (gps.contains(QLatin1String(kGPSAltitudeRef)))
        exif["Exif.GPSInfo.GPSAltitudeRef"]
            = uint8_t(gps.value(QLatin1String(kGPSAltitudeRef)).toInt() ? 1 : 0);
    text("Exif.GPSInfo.GPSDateStamp", kGPSDateStamp);
    real("Exif.GPSInfo.GPSImgDirection", kGPSImgDirection);
    text("Exif.GPSInfo.GPSImgDirectionRef", kGPSImgDirectionRef);
    real("Exif.GPSInfo.GPSSpeed", kGPSSpeed);
    text("Exif.GPSInfo.GPSSpeedRef", kGPSSpeedRef);
    if (!exif.empty())
        exif["Exif.GPSInfo.GPSVersionID"] = std::string("2 2 0 0");
}

// Where an APP1 segment goes: after the start marker and a JFIF APP0 segment, if any.
qsizetype exifInsertPoint(const QByteArray &jpeg) {
    if (jpeg.size() < 4 || uchar(jpeg[0]) != 0xFF || uchar(jpeg[1]) != 0xD8)
        return -1;
    qsizetype at = 2;
    if (jpeg.size() >= at + 4 && uchar(jpeg[at]) == 0xFF && uchar(jpeg[at + 1]) == 0xE0)
        at += 2 + (uchar(jpeg[at + 2]) << 8 | uchar(jpeg[at + 3]));
    return at <= jpeg.size() ? at : -1;
}

} // namespace

QByteArray jpegWithExif(const QByteArray &jpeg, const QVariantMap &metadata, bool withGps) {
    const qsizetype at = exifInsertPoint(jpeg);
    if (at < 0)
        return jpeg;
    QByteArray segment;
    guarded([&] {
        Exiv2::ExifData exif;
        exif["Exif.Image.Orientation"] = uint16_t(1);
        const QVariantMap tiff = metadata.value(QLatin1String(kMetaTIFF)).toMap();
        const QVariantMap dates = metadata.value(QLatin1String(kMetaExif)).toMap();
        const auto date = [&](const char *key, const QVariantMap &from, const char *name) {
            const QString v = from.value(QLatin1String(name)).toString();
            if (!v.isEmpty())
                exif[key] = v.toStdString();
        };
        date("Exif.Image.DateTime", tiff, kMetaDateTime);
        date("Exif.Photo.DateTimeOriginal", dates, kMetaDateTimeOriginal);
        date("Exif.Photo.DateTimeDigitized", dates, kMetaDateTimeDigitized);
        if (withGps)
            writeGps(metadata.value(QLatin1String(kMetaGPS)).toMap(), exif);
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, Exiv2::bigEndian, exif);
        const qsizetype length = 2 + 6 + qsizetype(blob.size());
        if (blob.empty() || length > 0xFFFF)
            return;
        segment.append("\xFF\xE1", 2);
        segment.append(char(length >> 8)).append(char(length & 0xFF));
        segment.append("Exif\0\0", 6);
        segment.append(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
    });
    if (segment.isEmpty())
        return jpeg;
    QByteArray out = jpeg;
    out.insert(at, segment);
    return out;
}

QVariantMap ExtractMetaData(QByteArrayView bytes) {
    if (bytes.isEmpty())
        return {};
    QByteArray raw = QByteArray::fromRawData(bytes.data(), bytes.size());
    QBuffer buffer(&raw);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!reader.canRead())
        return {};
    const QByteArray format = reader.format();
    const bool heif = format == "heif" || format == "avif";
    const HeifInfo info = heif ? readHeifInfo(bytes) : HeifInfo();
    const QSize size = heif ? info.size : reader.size();
    if (!size.isValid() || !info.error.isEmpty())
        return {};
    QVariantMap meta;
    meta.insert(QLatin1String(kMetaPixelWidth), size.width());
    meta.insert(QLatin1String(kMetaPixelHeight), size.height());
    if (heif)
        readHeifMeta(info, meta);
    else
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
