#include "intake/ThumbnailCache.h"

#include "foundation/FileRules.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QStandardPaths>
#include <QUrl>

#include <cstring>

namespace lf::ThumbnailCache {

namespace {

const char *folderName(Size size) {
    switch (size) {
    case Size::Normal:
        return "normal";
    case Size::Large:
        return "large";
    case Size::XLarge:
        return "x-large";
    }
    return "normal";
}

QString modificationTime(const QFileInfo &info) {
    return QString::number(info.lastModified().toSecsSinceEpoch());
}

} // namespace

QString cacheFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
        + QStringLiteral("/thumbnails");
}

QByteArray fileUri(const QString &file) {
    // Escaped as GLib escapes a path (g_filename_to_uri): the cache's file names are the MD5 of
    // this text, so one differing byte and neither side finds the other's thumbnails. Kept as
    // they are: letters, digits and -._~!$&'()*+,=:@/ ; every other byte becomes %XX.
    static constexpr char kKept[] = "-._~!$&'()*+,=:@/";
    const QByteArray path = QFile::encodeName(QDir::cleanPath(QFileInfo(file).absoluteFilePath()));
    QByteArray uri("file://");
    uri.reserve(7 + path.size() * 3);
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9')
            || (byte != 0 && std::strchr(kKept, c))) {
            uri.append(c);
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            uri.append('%').append(kHex[byte >> 4]).append(kHex[byte & 0xF]);
        }
    }
    return uri;
}

QString thumbnailPath(const QString &file, Size size) {
    const QByteArray md5 = QCryptographicHash::hash(fileUri(file), QCryptographicHash::Md5).toHex();
    return QStringLiteral("%1/%2/%3.png")
        .arg(cacheFolder(), QLatin1String(folderName(size)), QLatin1String(md5));
}

QImage cached(const QString &file, Size size) {
    const QFileInfo info(file);
    if (!info.isFile())
        return {};
    // Read whole: the reader's header texts split keys at ":", which "Thumb::URI" holds. A
    // thumbnail is small.
    const QImage image(thumbnailPath(file, size), "png");
    if (image.text(QStringLiteral("Thumb::URI")).toUtf8() != fileUri(file)
        || image.text(QStringLiteral("Thumb::MTime")) != modificationTime(info))
        return {};
    return image;
}

QImage thumbnail(const QString &file, Size size) {
    if (QImage image = cached(file, size); !image.isNull())
        return image;
    const QFileInfo info(file);
    QImageReader reader(file);
    reader.setAutoTransform(true);
    const int edge = int(size);
    const QSize full = reader.size();
    if (full.isValid() && (full.width() > edge || full.height() > edge))
        reader.setScaledSize(full.scaled(edge, edge, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        return {};
    image.setText(QStringLiteral("Thumb::URI"), QString::fromUtf8(fileUri(file)));
    image.setText(QStringLiteral("Thumb::MTime"), modificationTime(info));
    image.setText(QStringLiteral("Thumb::Size"), QString::number(info.size()));
    if (full.isValid()) {
        image.setText(QStringLiteral("Thumb::Image::Width"), QString::number(full.width()));
        image.setText(QStringLiteral("Thumb::Image::Height"), QString::number(full.height()));
    }
    image.setText(QStringLiteral("Software"), QStringLiteral("Lanternfish"));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    // The cache is private to the user; a failed write only costs the next reader the decoding.
    // The cache tells which files the user has: the folders are theirs alone, as the
    // thumbnail rules require, and so is each file.
    const QString path = thumbnailPath(file, size);
    if (writer.write(image) && makePrivateFolder(cacheFolder()) && makePrivateFolder(QFileInfo(path).path()))
        writeFileAtomically(path, png, nullptr, 0600);
    return image;
}

} // namespace lf::ThumbnailCache
