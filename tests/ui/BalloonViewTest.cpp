#include "toolkit/LFBalloonView.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace lf {
namespace {

TEST(BalloonViewTest, DefaultsAndTheGradientFollowTheStroke) {
    LFBalloonView view;
    EXPECT_EQ(view.cornerRadius(), 6.0);
    EXPECT_EQ(view.pointDepth(), 12.0);
    EXPECT_EQ(view.pointSide(), LFBalloonView::Bottom);
    EXPECT_EQ(view.pointPosition(), 0.0);
    EXPECT_EQ(view.strokeColor(), LFTheme::errorBalloonColor());

    // Far from the tip a light tint of the stroke, near it nearly white.
    float h, s, b, a;
    LFTheme::errorBalloonColor().toHsv().getHsvF(&h, &s, &b, &a);
    const LFGradient g = view.gradient();
    float h1, s1, b1, a1, h2, s2, b2, a2;
    g.start.toHsv().getHsvF(&h1, &s1, &b1, &a1);
    g.end.toHsv().getHsvF(&h2, &s2, &b2, &a2);
    EXPECT_NEAR(h1, h, 2e-3);
    EXPECT_NEAR(s1, s * 0.5, 2e-3);
    EXPECT_NEAR(b1, std::min(1.0f, b * 1.5f), 2e-3);
    EXPECT_NEAR(s2, s * 0.05, 2e-3);
    EXPECT_NEAR(b2, 1.0, 2e-3);
    EXPECT_EQ(a1, a);

    view.setStrokeColor(QColor(20, 60, 200));
    EXPECT_EQ(view.gradient(), view.getColorGradient());
    EXPECT_NE(view.gradient(), g);
}

// With y growing downwards on screen: the tip on the left or right is placed from the bottom
// (position 0 is the lowest), on the top or bottom from the left.
TEST(BalloonViewTest, OutlineAndTipOnEverySide) {
    LFBalloonView view;
    view.resize(200, 100);
    const struct {
        int side;
        qreal position;
        QPointF apex;
    } cases[] = {
        // Top: body x 4...196, free length 192 - 12 - 24 = 156; base starts at 4 + 6 + 78.
        {LFBalloonView::Top, 0.5, {100, 4}},
        {LFBalloonView::Bottom, 0.0, {22, 96}},
        {LFBalloonView::Bottom, 1.0, {178, 96}},
        // Left: body y 4...96, free length 92 - 12 - 24 = 56.
        {LFBalloonView::Left, 0.0, {4, 78}},
        {LFBalloonView::Right, 1.0, {196, 22}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "side " << c.side << " at " << c.position);
        view.setPointSide(c.side);
        view.setPointPosition(c.position);
        EXPECT_EQ(view.tipApex(), c.apex);
        const QPainterPath path = view.balloonPath();
        // The outline fills the 4-point margin exactly, tip included.
        EXPECT_EQ(path.boundingRect(), QRectF(4, 4, 192, 92));
        // The apex is on the outline: just inside it is inside, just beyond it is not.
        const QPointF unit = c.side == LFBalloonView::Top ? QPointF(0, 1)
            : c.side == LFBalloonView::Bottom             ? QPointF(0, -1)
            : c.side == LFBalloonView::Left               ? QPointF(1, 0)
                                                          : QPointF(-1, 0);
        EXPECT_TRUE(path.contains(c.apex + unit * 1.5));
        EXPECT_FALSE(path.contains(c.apex - unit * 1.5));
        // The body leaves a strip as deep as the tip on the tip's side.
        const QRectF body = view.bodyRect();
        const qreal strip = c.side == LFBalloonView::Top ? body.top() - 4
            : c.side == LFBalloonView::Bottom            ? 96 - body.bottom()
            : c.side == LFBalloonView::Left              ? body.left() - 4
                                                         : 196 - body.right();
        EXPECT_EQ(strip, 12);
        EXPECT_NEAR(
            view.pointPositionFor(
                c.side == LFBalloonView::Left || c.side == LFBalloonView::Right ? c.apex.y() : c.apex.x()),
            c.position, 1e-9);
    }
}

TEST(BalloonViewTest, GrowsAroundAViewInItsPlace) {
    QWidget parent;
    auto *inner = new QWidget(&parent);
    inner->setGeometry(30, 20, 100, 40);
    LFBalloonView *balloon = LFBalloonView::balloonViewAround(inner);
    EXPECT_EQ(balloon->parentWidget(), &parent);
    EXPECT_EQ(balloon->geometry(), QRect(30, 20, 130, 58));
    EXPECT_EQ(inner->parentWidget(), balloon);
    // 6 from the left and 6 from the bottom.
    EXPECT_EQ(inner->geometry(), QRect(6, 12, 100, 40));
}

QImage render(LFBalloonView &view, qreal dpr) {
    QImage image(view.size() * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

TEST(BalloonViewTest, PaintsShadowGradientAndACrispOutlineAtEveryPixelRatio) {
    LFBalloonView view;
    view.setPointSide(LFBalloonView::Top);
    view.setPointPosition(0.5);
    view.resize(200, 100);
    for (const qreal dpr : {1.0, 2.0}) {
        SCOPED_TRACE(dpr);
        const QImage image = render(view, dpr);
        auto at = [&](qreal x, qreal y) { return image.pixelColor(int(x * dpr), int(y * dpr)); };
        // The left edge of the body (x = 4): the 2-point stroke covers 3...5 in full colour,
        // not smeared by scaling.
        const QColor edge = at(4.0, 60);
        EXPECT_EQ(edge.red(), 236);
        EXPECT_EQ(edge.green(), 30);
        EXPECT_EQ(edge.alpha(), 255);
        // Inside: gradient from a light tint at the bottom to nearly white under the tip.
        const QColor low = at(100, 92), high = at(100, 20);
        EXPECT_EQ(low.alpha(), 255);
        EXPECT_GT(high.green(), low.green());
        EXPECT_GT(high.green(), 220);
        EXPECT_LT(low.green(), 200);
        // The shadow falls right and down, not up and left.
        EXPECT_GT(at(197.5, 60).alpha(), 10);
        EXPECT_EQ(at(1, 60).alpha(), 0);
        EXPECT_EQ(at(60, 1).alpha(), 0);
    }

    // With the tip below, the gradient turns round: nearly white at the bottom. (Drawing no gradient
    // there would leave the body filled with the shadow pass alone.)
    view.setPointSide(LFBalloonView::Bottom);
    const QImage below = render(view, 1.0);
    const QColor top = below.pixelColor(100, 8), bottom = below.pixelColor(100, 80);
    EXPECT_EQ(top.alpha(), 255);
    EXPECT_GT(bottom.green(), 220);
    EXPECT_LT(top.green(), 200);
}

} // namespace
} // namespace lf
