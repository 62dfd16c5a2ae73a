#include "toolkit/Artwork.h"

#include <QGuiApplication>
#include <QPixmapCache>

namespace lf::Artwork {

namespace {

QString bareName(const QString &name) {
    if (name.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        return name.left(name.size() - 4);
    return name;
}

} // namespace

const QStringList &imageNames() {
    static const QStringList names = [] {
        QStringList list {
            "1xUX_list_graphic",
            "1xUX_photos_graphic",
            "addBadge",
            "check",
            "contact_icon",
            "delX",
            "deleteBadge",
            "deleteBadgePressed",
            "error_close",
            "error_close_pressed",
            "group_icon",
            "iconPhotoPanel",
            "iconPhotoPanelPressed",
            "icon_cancel",
            "icon_save",
            "lantern_tag",
            "logo",
            "pinstripe",
            "support_normal",
            "support_pressed",
        };
        for (int i = 0; i < kLanternFrameCount; ++i)
            list << QStringLiteral("lantern_%1").arg(i);
        return list;
    }();
    return names;
}

bool hasImage(const QString &name) {
    return imageNames().contains(bareName(name));
}

QString resourcePath(const QString &name, int scale) {
    const QString bare = bareName(name);
    return scale > 1 ? QStringLiteral(":/images/%1@2x.png").arg(bare)
                     : QStringLiteral(":/images/%1.png").arg(bare);
}

QPixmap pixmap(const QString &name, qreal devicePixelRatio) {
    if (!hasImage(name))
        return {};
    const int scale = devicePixelRatio > 1.0 ? 2 : 1;
    const QString path = resourcePath(name, scale);
    QPixmap pm;
    if (!QPixmapCache::find(path, &pm)) {
        pm.load(path);
        pm.setDevicePixelRatio(scale);
        QPixmapCache::insert(path, pm);
    }
    return pm;
}

QPixmap pixmap(const QString &name) {
    const qreal ratio
        = qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ? qGuiApp->devicePixelRatio() : 1.0;
    return pixmap(name, ratio);
}

QIcon icon(const QString &name) {
    QIcon result;
    if (!hasImage(name))
        return result;
    // Both files under one logical size: QIcon picks the scale-2 file on high-density screens.
    result.addFile(resourcePath(name, 1));
    result.addFile(resourcePath(name, 2));
    return result;
}

const QList<int> &applicationIconSizes() {
    static const QList<int> sizes {16, 22, 24, 32, 48, 64, 128, 256, 512};
    return sizes;
}

QString applicationIconPath(int size) {
    return QStringLiteral(":/icons/hicolor/%1x%1/%2.png").arg(size).arg(QLatin1String(kApplicationIconName));
}

QIcon applicationIcon() {
    QIcon result;
    for (int size : applicationIconSizes())
        result.addFile(applicationIconPath(size), QSize(size, size));
    return result;
}

} // namespace lf::Artwork
