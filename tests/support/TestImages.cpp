#include "support/TestImages.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QPainter>

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace lf::test {

QImage quadrantImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    const int hw = width / 2;
    const int hh = height / 2;
    p.fillRect(0, 0, hw, hh, kTopLeft);
    p.fillRect(hw, 0, width - hw, hh, kTopRight);
    p.fillRect(0, hh, hw, height - hh, kBottomLeft);
    p.fillRect(hw, hh, width - hw, height - hh, kBottomRight);
    return image;
}

namespace {

// Qt reads GIF but does not write it: a small encoder for the four quadrant colours. The LZW
// stream restarts (clear code) every two pixels, so every code stays 3 bits wide.
QByteArray gifBytes(const QImage &image) {
    const QColor palette[] = {kTopLeft, kTopRight, kBottomLeft, kBottomRight};
    QByteArray out("GIF89a");
    const auto le16 = [&](int v) {
        out.append(char(v & 0xff));
        out.append(char((v >> 8) & 0xff));
    };
    le16(image.width());
    le16(image.height());
    out.append(char(0x91)).append(char(0)).append(char(0));
    for (const QColor &c : palette)
        out.append(char(c.red())).append(char(c.green())).append(char(c.blue()));
    out.append(char(0x2c));
    le16(0);
    le16(0);
    le16(image.width());
    le16(image.height());
    out.append(char(0)).append(char(2));

    QByteArray data;
    quint32 bits = 0;
    int count = 0;
    const auto code = [&](int c) {
        bits |= quint32(c) << count;
        count += 3;
        while (count >= 8) {
            data.append(char(bits & 0xff));
            bits >>= 8;
            count -= 8;
        }
    };
    int run = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (run++ % 2 == 0)
                code(4);
            const QColor c = image.pixelColor(x, y);
            int best = 0;
            for (int i = 1; i < 4; ++i) {
                const auto d = [&](const QColor &p) {
                    return std::abs(p.red() - c.red()) + std::abs(p.green() - c.green())
                        + std::abs(p.blue() - c.blue());
                };
                if (d(palette[i]) < d(palette[best]))
                    best = i;
            }
            code(best);
        }
    }
    code(5);
    if (count > 0)
        data.append(char(bits & 0xff));
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const QByteArray block = data.mid(at, 255);
        out.append(char(block.size())).append(block);
    }
    out.append(char(0)).append(char(0x3b));
    return out;
}

} // namespace

QByteArray encoded(const QImage &image, const char *format, int quality) {
    if (QByteArray(format) == "gif")
        return gifBytes(image);
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    const QImage source = QByteArray(format) == "ico" ? image.convertToFormat(QImage::Format_ARGB32) : image;
    if (!writer.write(source))
        return {};
    return out;
}

bool writeBytes(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

namespace {

void addExif(Exiv2::ExifData &exif, const Meta &meta) {
    if (meta.orientation)
        exif["Exif.Image.Orientation"] = uint16_t(*meta.orientation);
    if (meta.description)
        exif["Exif.Image.ImageDescription"] = meta.description->toStdString();
    if (meta.dateTaken)
        exif["Exif.Photo.DateTimeOriginal"] = meta.dateTaken->toStdString();
    if (meta.gps) {
        const auto rationals = [&](const char *key, const char *text) {
            auto value = Exiv2::Value::create(Exiv2::unsignedRational);
            value->read(text);
            exif.add(Exiv2::ExifKey(key), value.get());
        };
        rationals("Exif.GPSInfo.GPSLatitude", "48/1 51/1 24/1");
        exif["Exif.GPSInfo.GPSLatitudeRef"] = std::string("N");
        rationals("Exif.GPSInfo.GPSLongitude", "2/1 21/1 72/10");
        exif["Exif.GPSInfo.GPSLongitudeRef"] = std::string("E");
        rationals("Exif.GPSInfo.GPSAltitude", "35/1");
    }
}

} // namespace

QByteArray exifBlock(const Meta &meta) {
    Exiv2::ExifData exif;
    addExif(exif, meta);
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    return QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
}

bool writeMeta(const QString &path, const Meta &meta) {
    try {
        auto image = Exiv2::ImageFactory::open(path.toStdString());
        image->readMetadata();
        Exiv2::ExifData &exif = image->exifData();
        Exiv2::IptcData &iptc = image->iptcData();
        addExif(exif, meta);
        if (meta.caption || meta.objectName)
            iptc["Iptc.Envelope.CharacterSet"] = std::string("\x1b%G");
        if (meta.caption)
            iptc["Iptc.Application2.Caption"] = meta.caption->toStdString();
        if (meta.objectName)
            iptc["Iptc.Application2.ObjectName"] = meta.objectName->toStdString();
        image->writeMetadata();
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

QByteArray heifEncoded(const QImage &image, const Heif &options) {
    std::unique_ptr<heif_context, void (*)(heif_context *)> context(heif_context_alloc(), heif_context_free);
    const bool av1 = QByteArray(options.codec) == "avif";
    heif_encoder *encoder = nullptr;
    if (heif_context_get_encoder_for_format(
            context.get(), av1 ? heif_compression_AV1 : heif_compression_HEVC, &encoder)
            .code
        != heif_error_Ok)
        return {};
    heif_encoder_set_lossy_quality(encoder, 90);
    if (av1)
        heif_encoder_set_parameter(encoder, "speed", "9");
    const auto add = [&](const QImage &picture, int turn) -> heif_image_handle * {
        const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
        heif_image *pixels = nullptr;
        heif_image_create(
            rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &pixels);
        heif_image_add_plane(pixels, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
        int stride = 0;
        uint8_t *plane = heif_image_get_plane(pixels, heif_channel_interleaved, &stride);
        for (int y = 0; y < rgb.height(); ++y)
            std::memcpy(plane + qsizetype(y) * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
        heif_encoding_options *encoding = heif_encoding_options_alloc();
        encoding->image_orientation = heif_orientation(turn);
        heif_image_handle *handle = nullptr;
        const heif_error e = heif_context_encode_image(context.get(), pixels, encoder, encoding, &handle);
        heif_encoding_options_free(encoding);
        heif_image_release(pixels);
        return e.code == heif_error_Ok ? handle : nullptr;
    };
    if (!options.before.isNull()) {
        heif_image_handle *first = add(options.before, 1);
        if (!first)
            return {};
        heif_image_handle_release(first);
    }
    heif_image_handle *primary = add(image, options.turn);
    heif_encoder_release(encoder);
    if (!primary)
        return {};
    heif_context_set_primary_image(context.get(), primary);
    if (!options.exif.isEmpty())
        heif_context_add_exif_metadata(
            context.get(), primary, options.exif.constData(), int(options.exif.size()));
    heif_image_handle_release(primary);
    QByteArray out;
    heif_writer writer {};
    writer.writer_api_version = 1;
    writer.write = [](heif_context *, const void *data, size_t size, void *into) {
        static_cast<QByteArray *>(into)->append(static_cast<const char *>(data), qsizetype(size));
        return heif_error {heif_error_Ok, heif_suberror_Unspecified, "ok"};
    };
    if (heif_context_write(context.get(), &writer, &out).code != heif_error_Ok)
        return {};
    return out;
}

bool near(const QColor &a, const QColor &b) {
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40
        && std::abs(a.blue() - b.blue()) < 40;
}

int jpegLumaDc(const QByteArray &jpeg) {
    const qsizetype at = jpeg.indexOf("\xFF\xDB");
    if (at < 0 || at + 5 >= jpeg.size())
        return -1;
    // FF DB, two length bytes, one precision/table byte, then the table in zig-zag order.
    return uchar(jpeg.at(at + 5));
}

} // namespace lf::test
