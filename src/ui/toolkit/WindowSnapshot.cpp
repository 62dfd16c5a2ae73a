#include "toolkit/WindowSnapshot.h"

#include <QApplication>
#include <QPainter>
#include <QRect>
#include <QWidget>

#include <algorithm>

namespace lf {

QImage snapshotWindows(const QList<QWidget *> &widgets, int margin, const QColor &background) {
    QRect area;
    qreal ratio = 1;
    for (QWidget *w : widgets) {
        area |= QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
        ratio = std::max(ratio, w->devicePixelRatioF());
    }
    area.adjust(-margin, -margin, margin, margin);
    QImage image((QSizeF(area.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(background);
    QPainter p(&image);
    for (QWidget *w : widgets) {
        const QPoint at = w->mapToGlobal(QPoint(0, 0)) - area.topLeft();
        p.save();
        if (w->isWindow() && !w->mask().isEmpty())
            p.setClipRegion(w->mask().translated(at));
        p.drawPixmap(at, w->grab());
        p.restore();
    }
    return image;
}

namespace {

int stackingRank(QWidget *w, QWidget *main) {
    if (w == main)
        return 0;
    const Qt::WindowType type = w->windowType();
    if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::SplashScreen
        || (type == Qt::Tool && w->windowFlags().testFlag(Qt::FramelessWindowHint)))
        return 100;
    if (type == Qt::Dialog || type == Qt::Sheet) {
        int depth = 2;
        for (QWidget *p = w->parentWidget(); p; p = p->parentWidget())
            if (p->isWindow() && p != main)
                ++depth;
        return depth;
    }
    return 1;
}

} // namespace

QList<QWidget *> stackedWindows(QWidget *main) {
    QList<QWidget *> windows;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible() && !w->isMinimized())
            windows.append(w);
    std::stable_sort(windows.begin(), windows.end(),
        [main](QWidget *a, QWidget *b) { return stackingRank(a, main) < stackingRank(b, main); });
    return windows;
}

} // namespace lf
