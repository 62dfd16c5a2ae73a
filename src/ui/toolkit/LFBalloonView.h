#pragma once

#include "toolkit/LFTheme.h"

#include <QImage>
#include <QPainterPath>
#include <QWidget>

namespace lf {

// The balloon: a rounded body with a pointed tip on one side, a shadow, a gradient that runs
// towards the tip and a 2-point outline. Geometry follows the widget's own coordinates.
class LFBalloonView : public QWidget {
    Q_OBJECT
public:
    enum PointSide { Left = 0, Bottom = 1, Right = 2, Top = 3 };

    explicit LFBalloonView(QWidget *parent = nullptr);

    // A balloon grown around `view`: 30 points wider and 18 higher, `view` moved into it 6 points
    // from its left and bottom edges, and the balloon put where `view` was in its parent.
    static LFBalloonView *balloonViewAround(QWidget *view);

    qreal cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(qreal radius);
    qreal pointDepth() const { return m_pointDepth; }
    void setPointDepth(qreal depth);
    int pointSide() const { return m_pointSide; }
    void setPointSide(int side);
    qreal pointPosition() const { return m_pointPosition; }
    void setPointPosition(qreal position);
    QColor strokeColor() const { return m_strokeColor; }
    // Also derives the gradient anew.
    void setStrokeColor(const QColor &color);
    LFGradient gradient() const { return m_gradient; }
    void setGradient(const LFGradient &gradient);

    // The gradient derived from the stroke colour: a lightened tint far from the tip, nearly
    // white near it.
    LFGradient getColorGradient() const;

    // The outline for the current size.
    QPainterPath balloonPath() const;
    // The outline for a rectangle of `size` at 0, 0.
    QPainterPath balloonPath(const QSizeF &size) const;
    // The body without the tip strip and the 4-point margin.
    QRectF bodyRect() const;
    // Where the tip's apex is, in the view's coordinates.
    QPointF tipApex() const;
    // The pointPosition that puts the apex nearest `x` (top or bottom tip) or `y` (left or right).
    qreal pointPositionFor(qreal coordinate) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QRectF bodyRect(const QSizeF &size) const;
    qreal freeLength(const QRectF &body) const;
    const QImage &shadowImage(qreal devicePixelRatio);

    qreal m_cornerRadius = 6.0;
    qreal m_pointDepth = 12.0;
    int m_pointSide = Bottom;
    qreal m_pointPosition = 0.0;
    QColor m_strokeColor;
    LFGradient m_gradient;
    QImage m_shadow;
    QString m_shadowKey;
};

} // namespace lf
