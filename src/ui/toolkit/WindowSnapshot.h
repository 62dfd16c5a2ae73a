#pragma once

#include <QColor>
#include <QImage>
#include <QList>

class QWidget;

namespace lf {

// Paints widgets (top-level windows, or a page of one) into one image at their places on the
// screen, in the order given, as the screen would show them stacked: the image covers all of them
// plus `margin`, `background` fills what none covers. Each widget renders itself, so sheets and
// balloons come out right even where a capture of the screen shows them black (no compositing
// manager); a window cut to its outline shows only inside its mask. The image has the screen's
// pixel ratio.
QImage snapshotWindows(
    const QList<QWidget *> &widgets, int margin = 0, const QColor &background = Qt::transparent);

// The visible top-level windows of the program, bottom to top as they stack over `main`: main,
// then tool windows beside it, then dialogs (a dialog over a dialog higher), then balloons, pop-ups
// and menus.
QList<QWidget *> stackedWindows(QWidget *main);

} // namespace lf
