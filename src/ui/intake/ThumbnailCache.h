#pragma once

#include <QImage>
#include <QString>

namespace lf {

// The desktop's shared thumbnail cache ($XDG_CACHE_HOME/thumbnails), the one file managers
// fill: a PNG per image, named by the MD5 of the image's file URI, that says which file and which
// modification time it shows (Thumb::URI, Thumb::MTime). A thumbnail the file manager made is
// used as it is; one made here is written there for the others.
namespace ThumbnailCache {

// The cache's size classes by their longest side: "normal" 128, "large" 256, "x-large" 512.
enum class Size { Normal = 128, Large = 256, XLarge = 512 };

QString cacheFolder();
// The URI the cache names a file by, and the PNG that holds its thumbnail in that size class.
QByteArray fileUri(const QString &file);
QString thumbnailPath(const QString &file, Size size);

// The cached thumbnail when it is there and still shows the file as it is now; else null.
QImage cached(const QString &file, Size size);
// The cached thumbnail, or one made from the file (and stored in the cache); null when the file
// is not an image.
QImage thumbnail(const QString &file, Size size);

} // namespace ThumbnailCache

} // namespace lf
