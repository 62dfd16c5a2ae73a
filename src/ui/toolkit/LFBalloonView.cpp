#include "toolkit/LFBalloonView.h"

#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>
#include <vector>

namespace lf {

namespace {

constexpr qreal kMargin = 4.0; // room for the shadow and the outer half of the outline
constexpr qreal kShadowOffset = 3.0;
constexpr qreal kShadowBlur = 3.5;
constexpr qreal kStrokeWidth = 2.0;

// An arc in y-up coordinates (angles counter-clockwise from the x axis), on a path kept in
// y-up coordinates until it is flipped into the widget's.
void arcUp(QPainterPath &path, qreal cx, qreal cy, qreal r, qreal startDegrees, qreal sweepDegrees) {
    path.arcTo(QRectF(cx - r, cy - r, 2 * r, 2 * r), -startDegrees, -sweepDegrees);
}

// Separable Gaussian blur of the alpha channel of a black premultiplied image.
void blurAlpha(QImage &image, qreal sigma) {
    if (sigma <= 0)
        return;
    const int radius = int(std::ceil(sigma * 3));
    std::vector<float> kernel(2 * radius + 1);
    float sum = 0;
    for (int i = -radius; i <= radius; ++i) {
        kernel[i + radius] = std::exp(-(i * i) / float(2 * sigma * sigma));
        sum += kernel[i + radius];
    }
    for (float &k : kernel)
        k /= sum;

    const int w = image.width();
    const int h = image.height();
    std::vector<float> src(size_t(w) * h), tmp(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < w; ++x)
            src[size_t(y) * w + x] = qAlpha(line[x]);
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float acc = 0;
            for (int k = -radius; k <= radius; ++k) {
                const int xx = std::clamp(x + k, 0, w - 1);
                acc += kernel[k + radius] * src[size_t(y) * w + xx];
            }
            tmp[size_t(y) * w + x] = acc;
        }
    for (int y = 0; y < h; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            float acc = 0;
            for (int k = -radius; k <= radius; ++k) {
                const int yy = std::clamp(y + k, 0, h - 1);
                acc += kernel[k + radius] * tmp[size_t(yy) * w + x];
            }
            line[x] = qRgba(0, 0, 0, std::clamp(int(acc + 0.5f), 0, 255));
        }
    }
}

} // namespace

LFBalloonView::LFBalloonView(QWidget *parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setStrokeColor(LFTheme::errorBalloonColor());
}

LFBalloonView *LFBalloonView::balloonViewAround(QWidget *view) {
    QWidget *former = view->parentWidget();
    const QPoint formerPos = view->pos();
    auto *balloon = new LFBalloonView(former);
    balloon->resize(view->width() + 30, view->height() + 18);
    view->setParent(balloon);
    // 6 points from the left and from the bottom edge.
    view->move(6, balloon->height() - 6 - view->height());
    view->show();
    if (former)
        balloon->move(formerPos);
    return balloon;
}

void LFBalloonView::setCornerRadius(qreal radius) {
    m_cornerRadius = radius;
    update();
}

void LFBalloonView::setPointDepth(qreal depth) {
    m_pointDepth = depth;
    update();
}

void LFBalloonView::setPointSide(int side) {
    m_pointSide = side;
    update();
}

void LFBalloonView::setPointPosition(qreal position) {
    m_pointPosition = std::clamp(position, 0.0, 1.0);
    update();
}

void LFBalloonView::setStrokeColor(const QColor &color) {
    m_strokeColor = color;
    m_gradient = getColorGradient();
    update();
}

void LFBalloonView::setGradient(const LFGradient &gradient) {
    m_gradient = gradient;
    update();
}

LFGradient LFBalloonView::getColorGradient() const {
    float h, s, b, a;
    m_strokeColor.toHsv().getHsvF(&h, &s, &b, &a);
    const float b1 = std::min(1.0f, b * 1.5f);
    return {QColor::fromHsvF(h, s * 0.5f, b1, a).toRgb(),
        QColor::fromHsvF(h, s * 0.05f, std::min(1.0f, b1 * 1.5f), a).toRgb()};
}

// Body and tip are worked out with y growing upwards, as the outline is defined, and flipped into
// the widget's y-down coordinates at the end: "bottom" stays the bottom on screen.
QRectF LFBalloonView::bodyRect(const QSizeF &size) const {
    qreal minX = kMargin, minY = kMargin;
    qreal maxX = size.width() - kMargin, maxY = size.height() - kMargin;
    switch (m_pointSide) {
    case Left:
        minX += m_pointDepth;
        break;
    case Bottom:
        minY += m_pointDepth;
        break;
    case Right:
        maxX -= m_pointDepth;
        break;
    case Top:
        maxY -= m_pointDepth;
        break;
    default:
        break;
    }
    return QRectF(QPointF(minX, minY), QPointF(maxX, maxY)); // y-up
}

qreal LFBalloonView::freeLength(const QRectF &body) const {
    const qreal edge = (m_pointSide == Left || m_pointSide == Right) ? body.height() : body.width();
    return std::max(0.0, edge - 2 * m_cornerRadius - 2 * m_pointDepth);
}

QPainterPath LFBalloonView::balloonPath() const {
    return balloonPath(QSizeF(size()));
}

QPainterPath LFBalloonView::balloonPath(const QSizeF &size) const {
    const QRectF body = bodyRect(size);
    const qreal minX = body.left(), maxX = body.right(), minY = body.top(), maxY = body.bottom();
    const qreal r = m_cornerRadius, d = m_pointDepth;
    const qreal along = freeLength(body) * m_pointPosition;
    const qreal tx = minX + r + along; // tip base start on a horizontal edge
    const qreal ty = minY + r + along; // on a vertical edge, counted from the bottom

    QPainterPath p;
    p.moveTo(minX + r, minY);
    if (m_pointSide == Bottom) {
        p.lineTo(tx, minY);
        p.lineTo(tx + d, minY - d);
        p.lineTo(tx + 2 * d, minY);
    }
    p.lineTo(maxX - r, minY);
    arcUp(p, maxX - r, minY + r, r, -90, 90);
    if (m_pointSide == Right) {
        p.lineTo(maxX, ty);
        p.lineTo(maxX + d, ty + d);
        p.lineTo(maxX, ty + 2 * d);
    }
    p.lineTo(maxX, maxY - r);
    arcUp(p, maxX - r, maxY - r, r, 0, 90);
    if (m_pointSide == Top) {
        p.lineTo(tx + 2 * d, maxY);
        p.lineTo(tx + d, maxY + d);
        p.lineTo(tx, maxY);
    }
    p.lineTo(minX + r, maxY);
    arcUp(p, minX + r, maxY - r, r, 90, 90);
    if (m_pointSide == Left) {
        p.lineTo(minX, ty + 2 * d);
        p.lineTo(minX - d, ty + d);
        p.lineTo(minX, ty);
    }
    p.lineTo(minX, minY + r);
    arcUp(p, minX + r, minY + r, r, 180, 90);
    p.closeSubpath();

    return QTransform(1, 0, 0, -1, 0, size.height()).map(p);
}

QRectF LFBalloonView::bodyRect() const {
    const QRectF up = bodyRect(QSizeF(size()));
    return QRectF(up.left(), height() - up.bottom(), up.width(), up.height());
}

QPointF LFBalloonView::tipApex() const {
    const QRectF body = bodyRect(QSizeF(size()));
    const qreal r = m_cornerRadius, d = m_pointDepth;
    const qreal along = freeLength(body) * m_pointPosition;
    QPointF up;
    switch (m_pointSide) {
    case Left:
        up = QPointF(body.left() - d, body.top() + r + along + d);
        break;
    case Bottom:
        up = QPointF(body.left() + r + along + d, body.top() - d);
        break;
    case Right:
        up = QPointF(body.right() + d, body.top() + r + along + d);
        break;
    default:
        up = QPointF(body.left() + r + along + d, body.bottom() + d);
        break;
    }
    return QPointF(up.x(), height() - up.y());
}

qreal LFBalloonView::pointPositionFor(qreal coordinate) const {
    const QRectF body = bodyRect(QSizeF(size()));
    const qreal free = freeLength(body);
    if (free <= 0)
        return 0.5;
    const qreal r = m_cornerRadius, d = m_pointDepth;
    qreal along;
    if (m_pointSide == Left || m_pointSide == Right)
        along = (height() - coordinate) - body.top() - r - d;
    else
        along = coordinate - body.left() - r - d;
    return std::clamp(along / free, 0.0, 1.0);
}

const QImage &LFBalloonView::shadowImage(qreal dpr) {
    const QString key = QStringLiteral("%1x%2@%3/%4/%5/%6/%7")
                            .arg(width())
                            .arg(height())
                            .arg(dpr)
                            .arg(m_pointSide)
                            .arg(m_pointPosition)
                            .arg(m_pointDepth)
                            .arg(m_cornerRadius);
    if (key == m_shadowKey)
        return m_shadow;
    m_shadowKey = key;
    m_shadow = QImage(QSize(int(std::ceil(width() * dpr)), int(std::ceil(height() * dpr))),
        QImage::Format_ARGB32_Premultiplied);
    m_shadow.fill(Qt::transparent);
    {
        QPainter p(&m_shadow);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(dpr, dpr);
        p.translate(kShadowOffset, kShadowOffset);
        // The usual window-shadow tone: black at a third.
        p.fillPath(balloonPath(), QColor(0, 0, 0, 85));
    }
    blurAlpha(m_shadow, kShadowBlur / 2 * dpr);
    m_shadow.setDevicePixelRatio(dpr);
    return m_shadow;
}

void LFBalloonView::resizeEvent(QResizeEvent *event) {
    m_shadowKey.clear();
    QWidget::resizeEvent(event);
}

void LFBalloonView::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawImage(QPointF(0, 0), shadowImage(devicePixelRatioF()));

    const QPainterPath outline = balloonPath();
    const QRectF body = bodyRect();
    // First colour on the edge away from the tip, second on the tip's edge.
    QPointF from, to;
    switch (m_pointSide) {
    case Left:
        from = QPointF(body.right(), 0), to = QPointF(body.left(), 0);
        break;
    case Bottom:
        from = QPointF(0, body.top()), to = QPointF(0, body.bottom());
        break;
    case Right:
        from = QPointF(body.left(), 0), to = QPointF(body.right(), 0);
        break;
    default:
        from = QPointF(0, body.bottom()), to = QPointF(0, body.top());
        break;
    }
    p.fillPath(outline, m_gradient.linear(from, to));

    QPen pen(m_strokeColor, kStrokeWidth);
    pen.setJoinStyle(Qt::BevelJoin);
    p.strokePath(outline, pen);
}

} // namespace lf
