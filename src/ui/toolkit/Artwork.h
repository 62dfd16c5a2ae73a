#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace lf::Artwork {

// Name of the application icon, of the desktop entry and of the bus name.
inline constexpr const char *kApplicationIconName = "com.Lanternfish.MacClient";
// Frames of the upload animation, "lantern_0" to "lantern_6".
inline constexpr int kLanternFrameCount = 7;

// Every image the program shows, by the name its callers use (without ".png"). Each exists at
// scale 1 ("name.png") and scale 2 ("name@2x.png").
const QStringList &imageNames();
// Whether `name` (with or without ".png", any case of the extension) is one of them.
bool hasImage(const QString &name);
// The resource path of an image at scale 1 or 2.
QString resourcePath(const QString &name, int scale);

// The image drawn for `devicePixelRatio`: the scale-2 rendering above a ratio of 1, with the
// ratio set so that it lays out at its size in points. Null for an unknown name.
QPixmap pixmap(const QString &name, qreal devicePixelRatio);
// The same for the application's highest screen ratio.
QPixmap pixmap(const QString &name);
// Both scales, for buttons and labels that pick their own.
QIcon icon(const QString &name);

// The application icon at every size of the hicolor theme (16 to 512 pixels).
const QList<int> &applicationIconSizes();
QString applicationIconPath(int size);
QIcon applicationIcon();

} // namespace lf::Artwork
