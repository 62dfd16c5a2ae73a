#include "Assets.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include <zlib.h>

#include <cmath>

namespace lf::dev {

namespace {

QByteArray encodeImage(const QImage &image, const char *format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (quality >= 0)
        writer.setQuality(quality);
    if (!writer.write(image))
        return {};
    return bytes;
}

QByteArray gzip(const QByteArray &data) {
    z_stream stream {};
    // 15 window bits plus 16 asks zlib for a gzip wrapper.
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))) + 64, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int rc = deflate(&stream, Z_FINISH);
    out.resize(int(stream.total_out));
    deflateEnd(&stream);
    return rc == Z_STREAM_END ? out : QByteArray();
}

// One ustar member: a 512-byte header, then the content padded to 512 bytes. `type` is the
// ustar type ('0' file, '5' folder, '2' symbolic link, '6' FIFO); `link` the link's target.
// `declaredSize` overrides the size in the header (the content is then left out).
void appendTarMember(QByteArray &tar, const QByteArray &name, const QByteArray &content, char type,
    const char *mode = nullptr, const QByteArray &link = {}, qint64 declaredSize = -1) {
    QByteArray header(512, '\0');
    auto put = [&header](int offset, const QByteArray &text) {
        std::copy(text.begin(), text.end(), header.begin() + offset);
    };
    const bool hasContent = type == '0' && declaredSize < 0;
    put(0, name.left(99));
    put(100, mode ? mode : type == '5' ? "0000755" : "0000644");
    put(108, "0000000");
    put(116, "0000000");
    const qint64 size = declaredSize >= 0 ? declaredSize : hasContent ? content.size() : 0;
    put(124, QByteArray::number(size, 8).rightJustified(11, '0'));
    put(136, QByteArray::number(qint64(1300000000), 8).rightJustified(11, '0'));
    put(148, "        ");
    header[156] = type;
    put(157, link.left(99));
    put(257,
        QByteArray("ustar\0"
                   "00",
            8));
    put(265, "lanternfish");
    put(297, "lanternfish");
    unsigned sum = 0;
    for (char c : header)
        sum += static_cast<unsigned char>(c);
    put(148, QByteArray::number(sum, 8).rightJustified(6, '0') + QByteArray("\0 ", 2));
    tar += header;
    if (hasContent) {
        tar += content;
        tar += QByteArray((512 - content.size() % 512) % 512, '\0');
    }
}

// The program of a served package: answers --version like the real one and, when started by
// the updater, tells it that it runs.
QByteArray standInProgram(const QByteArray &version, const QString &kind) {
    const QByteArray answer = kind == QLatin1String("exit-1") ? "echo 'cannot start' >&2; exit 1"
        : kind == QLatin1String("hang")                       ? "exec sleep 60"
                                        : "echo \"lanternfish " + version + "\"; exit 0";
    const QByteArray started = kind == QLatin1String("no-answer")
        ? "exit 1\n"
        : "[ -n \"$LANTERNFISH_UPDATE_ACK\" ] && echo " + version
            + " > \"$LANTERNFISH_UPDATE_ACK\"\nexit 0\n";
    return "#!/bin/sh\n# Stand-in for Lanternfish " + version
        + ", served by the reference server.\n"
          "if [ \"$1\" = --version ]; then "
        + answer + "; fi\n" + started;
}

} // namespace

QByteArray iconPng(unsigned rgb, bool wide) {
    const int height = wide ? 40 : 64;
    const int width = wide ? 180 : 64;
    QImage image(width, height, QImage::Format_ARGB32);
    const QRgb fill = qRgb((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff);
    const double radius = height / 4.0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // Rounded corners, and a light disc as the site's mark.
            const double cx = std::clamp(double(x), radius, width - 1 - radius);
            const double cy = std::clamp(double(y), radius, height - 1 - radius);
            const bool inside = std::hypot(x - cx, y - cy) <= radius;
            const bool mark = std::hypot(x - height / 2.0, y - height / 2.0) < height / 4.0;
            image.setPixel(x, y, !inside ? qRgba(0, 0, 0, 0) : mark ? qRgb(255, 255, 255) : fill);
        }
    }
    return encodeImage(image, "PNG");
}

QByteArray demoPhoto(int seed, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int r = (x * 255 / std::max(1, width - 1) + seed * 40) % 256;
            const int g = (y * 255 / std::max(1, height - 1) + seed * 90) % 256;
            const int b = ((x + y) * 128 / std::max(1, width + height) + seed * 60) % 256;
            image.setPixel(x, y, qRgb(r, g, b));
        }
    }
    QByteArray jpeg = encodeImage(image, "JPEG", 85);
    return jpeg.isEmpty() ? encodeImage(image, "PNG") : jpeg;
}

QByteArray termsPdf(const QString &dateText) {
    const QByteArray text = "BT /F1 18 Tf 72 720 Td (Lanternfish Terms of Service) Tj ET\n"
                            "BT /F1 11 Tf 72 690 Td (Effective "
        + dateText.toLatin1()
        + ") Tj ET\n"
          "BT /F1 11 Tf 72 660 Td (Share kindly. Only share photos you may share.) Tj ET\n";
    const QByteArray objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
        " /Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + QByteArray::number(text.size()) + " >>\nstream\n" + text + "endstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < int(std::size(objects)); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(qint64(offset)).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n"
        + QByteArray::number(qint64(xref)) + "\n%%EOF\n";
    return pdf;
}

QByteArray clientPackage(const QString &version, const QString &kind) {
    const QByteArray v = version.toUtf8();
    const QByteArray top = "Lanternfish-" + v + '/';
    auto is = [&kind](const char *name) { return kind == QLatin1String(name); };
    QByteArray tar;
    appendTarMember(tar, top, {}, '5');
    if (!is("no-marker")) {
        const QByteArray marked = is("wrong-version") ? v + ".1" : v;
        appendTarMember(tar, top + "lanternfish-app.json",
            "{\"name\": \"Lanternfish\", \"version\": \"" + marked + "\"}\n", '0');
    }
    appendTarMember(tar, top + "bin/", {}, '5');
    appendTarMember(tar, top + "bin/lanternfish", standInProgram(v, kind), '0', "0000755");
    appendTarMember(tar, top + "share/", {}, '5');
    appendTarMember(tar, top + "share/README.txt",
        "Lanternfish " + v + " (package served by the reference server)\n", '0');
    if (is("escape"))
        appendTarMember(tar, top + "../../escaped.txt", "outside\n", '0');
    else if (is("absolute"))
        appendTarMember(tar, "/tmp/lanternfish-absolute.txt", "outside\n", '0');
    else if (is("link"))
        appendTarMember(tar, top + "share/etc", {}, '2', nullptr, "/etc");
    else if (is("fifo"))
        appendTarMember(tar, top + "share/pipe", {}, '6');
    else if (is("second-folder"))
        appendTarMember(tar, "Other/README.txt", "another folder\n", '0');
    else if (is("huge"))
        appendTarMember(tar, top + "share/huge.bin", {}, '0', nullptr, {}, qint64(2) << 30);
    tar += QByteArray(1024, '\0');
    return gzip(tar);
}

QSize imageSize(const QString &path) {
    QImageReader reader(path);
    return reader.canRead() ? reader.size() : QSize();
}

QByteArray thumbnail(const QString &path, int edge) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > edge || size.height() > edge))
        reader.setScaledSize(size.scaled(edge, edge, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    if (image.isNull())
        return {};
    return encodeImage(image, "JPEG", 80);
}

QByteArray sniffMimeType(const QByteArray &head) {
    if (head.startsWith("\xff\xd8\xff"))
        return "image/jpeg";
    if (head.startsWith("\x89PNG"))
        return "image/png";
    if (head.startsWith("GIF8"))
        return "image/gif";
    if (head.startsWith("II*\0") || head.startsWith("MM\0*"))
        return "image/tiff";
    if (head.size() >= 12 && head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        return "image/webp";
    return "application/octet-stream";
}

} // namespace lf::dev
