#include "toolkit/LFTheme.h"

#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

namespace lf {
namespace {

struct Bytes {
    int r, g, b, a;
    bool operator==(const Bytes &) const = default;
};

Bytes bytes(const QColor &c) {
    Bytes out {};
    getRedByte(c, &out.r, &out.g, &out.b, &out.a);
    return out;
}

void PrintTo(const Bytes &b, std::ostream *os) {
    *os << b.r << ", " << b.g << ", " << b.b << ", " << b.a;
}

TEST(ThemeColourTest, WebColoursTakeTheTopByteAsAlphaOnlyWhenItIsSet) {
    EXPECT_EQ(bytes(colorWithWebColor(0x00FF0000)), (Bytes {255, 0, 0, 255}));
    EXPECT_EQ(bytes(colorWithWebColor(0x01FF0000)), (Bytes {255, 0, 0, 1}));
    EXPECT_DOUBLE_EQ(colorWithWebColor(0x01FF0000).alphaF(), float(1 / 255.0));
    EXPECT_EQ(bytes(colorWithWebColor(0x505050)), (Bytes {0x50, 0x50, 0x50, 255}));
    EXPECT_EQ(bytes(colorWithWebColor(0x80AE3B93)), (Bytes {0xAE, 0x3B, 0x93, 128}));
}

TEST(ThemeColourTest, ByteColoursKeepTheLowEightBitsAndComeBackExactly) {
    EXPECT_EQ(bytes(colorWithRedByte(256 + 10, -1, 512, 0x1FF)), (Bytes {10, 255, 0, 255}));
    // Every byte survives the trip through the real-valued components (truncation, not rounding,
    // would lose one wherever the product lands a hair under the integer).
    for (int v = 0; v < 256; ++v) {
        const Bytes b = bytes(colorWithRedByte(v, 255 - v, v, v));
        ASSERT_EQ(b, (Bytes {v, 255 - v, v, v})) << v;
    }
    EXPECT_NEAR(colorWithRedByte(105, 0, 0, 255).redF(), 105 / 255.0, 1e-6);
}

TEST(ThemeColourTest, EveryThemeValueHasItsComponents) {
    const struct {
        const char *name;
        QColor colour;
        Bytes expected;
    } table[] = {
        {"zoneColor", LFTheme::zoneColor(), {255, 255, 255, 128}},
        {"mainWindowBackgroundColor", LFTheme::mainWindowBackgroundColor(), {0xD6, 0xD6, 0xD6, 255}},
        {"userTextColor", LFTheme::userTextColor(), {0x50, 0x50, 0x50, 255}},
        {"primaryColor", LFTheme::primaryColor(), {0xAE, 0x3B, 0x93, 255}},
        {"primaryColorEnd", LFTheme::primaryColorEnd(), {0x93, 0x93, 0x93, 255}},
        {"warningColor", LFTheme::warningColor(), {255, 0, 0, 255}},
        {"warningColorEnd", LFTheme::warningColorEnd(), {0xFF, 0xDD, 0xDD, 255}},
        {"secondaryColor", LFTheme::secondaryColor(), {105, 105, 105, 255}},
        {"secondaryColorEnd", LFTheme::secondaryColorEnd(), {200, 200, 200, 255}},
        {"navBarColor", LFTheme::navBarColor(), {61, 61, 61, 255}},
        {"hilightColor", LFTheme::hilightColor(), {232, 195, 224, 255}},
        {"separatorColor", LFTheme::separatorColor(), {232, 195, 224, 255}},
        {"tableBackgroundColor", LFTheme::tableBackgroundColor(), {0xA0, 0xA0, 0xA0, 255}},
        {"tableHoverColor", LFTheme::tableHoverColor(), {0x70, 0x70, 0x70, 255}},
        {"bezelBackgroundColor", LFTheme::bezelBackgroundColor(), {213, 213, 213, 255}},
        {"backgroundColorX", LFTheme::backgroundColorX(), {239, 239, 239, 51}},
        {"textColor", LFTheme::textColor(), {0x66, 0x66, 0x66, 255}},
        {"buttonTextColor", LFTheme::buttonTextColor(), {255, 255, 255, 255}},
        {"tableTextColor", LFTheme::tableTextColor(), {255, 255, 255, 255}},
        {"tableTextSelectedColor", LFTheme::tableTextSelectedColor(), {156, 41, 128, 255}},
        {"errorBalloonColor", LFTheme::errorBalloonColor(), {236, 30, 36, 255}},
        {"bubbleColor set", LFTheme::bubbleColor(true), {0xCC, 0xCC, 0xCC, 255}},
        {"bubbleColor clear", LFTheme::bubbleColor(false), {0xAE, 0x3B, 0x93, 0x80}},
        {"bubbleSiteColor set", LFTheme::bubbleSiteColor(true), {0xCC, 0xCC, 0xCC, 255}},
        {"bubbleSiteColor clear", LFTheme::bubbleSiteColor(false), {255, 255, 255, 0x50}},
        {"bubbleTextColor set", LFTheme::bubbleTextColor(true), {0x33, 0x33, 0x33, 255}},
        {"bubbleTextColor clear", LFTheme::bubbleTextColor(false), {0xEE, 0xEE, 0xEE, 255}},
        {"bubbleStrokeColor set", LFTheme::bubbleStrokeColor(true), {253, 190, 231, 255}},
        {"bubbleStrokeColor clear", LFTheme::bubbleStrokeColor(false), {0, 0, 0, 0}},
        {"stroke kind 0", LFTheme::bubbleStrokeColor(true, 0), {253, 190, 231, 255}},
        {"stroke kind 1", LFTheme::bubbleStrokeColor(true, 1), {190, 253, 231, 255}},
        {"stroke kind 2", LFTheme::bubbleStrokeColor(true, 2), {253, 231, 190, 255}},
        {"stroke kind 3", LFTheme::bubbleStrokeColor(true, 3), {0, 0, 0, 0}},
        {"stroke kind -1", LFTheme::bubbleStrokeColor(true, -1), {0, 0, 0, 0}},
        {"stroke kind 1, flag clear", LFTheme::bubbleStrokeColor(false, 1), {0, 0, 0, 0}},
    };
    for (const auto &row : table)
        EXPECT_EQ(bytes(row.colour), row.expected) << row.name;
}

TEST(ThemeColourTest, GradientsAndTheNavigationButton) {
    EXPECT_EQ(bytes(LFTheme::lfGradient().start), (Bytes {149, 149, 149, 255}));
    EXPECT_EQ(bytes(LFTheme::lfGradient().end), (Bytes {186, 186, 186, 255}));
    EXPECT_EQ(bytes(LFTheme::toolbarGradient().start), (Bytes {196, 196, 196, 255}));
    EXPECT_EQ(bytes(LFTheme::toolbarGradient().end), (Bytes {178, 178, 178, 255}));
    EXPECT_EQ(bytes(LFTheme::windowGradient().start), (Bytes {200, 201, 202, 255}));
    EXPECT_EQ(bytes(LFTheme::windowGradient().end), (Bytes {169, 170, 171, 255}));
    EXPECT_EQ(LFTheme::navButtonRect(), QRectF(0, 0, 60, 30));

    // Two evenly spaced stops, padded beyond the ends.
    const QLinearGradient g = LFTheme::toolbarGradient().linear(QPointF(0, 0), QPointF(0, 36));
    ASSERT_EQ(g.stops().size(), 2);
    EXPECT_EQ(g.stops()[0].first, 0.0);
    EXPECT_EQ(g.stops()[1].first, 1.0);
    EXPECT_EQ(g.spread(), QGradient::PadSpread);
}

TEST(ThemeColourTest, LighteningAndDarkeningWorkInBrightness) {
    // Brightness above 2/3 times 1.5 is capped at exactly 1.
    const QColor light = colorByLightening(colorWithRedByte(180, 60, 120, 77));
    float h, s, v, a;
    light.toHsv().getHsvF(&h, &s, &v, &a);
    EXPECT_EQ(v, 1.0f);
    EXPECT_NEAR(a, 77 / 255.0, 1e-4);
    float h0, s0, v0, a0;
    colorWithRedByte(180, 60, 120, 77).toHsv().getHsvF(&h0, &s0, &v0, &a0);
    EXPECT_NEAR(h, h0, 1e-3);
    EXPECT_NEAR(s, s0 * 0.5, 1e-3);

    // A dark colour: brightness times 1.5, not capped.
    colorByLightening(colorWithRedByte(40, 20, 80, 255)).toHsv().getHsvF(&h, &s, &v, &a);
    EXPECT_NEAR(v, 80 / 255.0 * 1.5, 1e-3);

    const QColor dark = colorByDarkening(LFTheme::primaryColor());
    LFTheme::primaryColor().toHsv().getHsvF(&h0, &s0, &v0, &a0);
    dark.toHsv().getHsvF(&h, &s, &v, &a);
    EXPECT_NEAR(v, v0 * 0.77, 1e-3);
    EXPECT_NEAR(s, s0, 1e-3);
    EXPECT_NEAR(h, h0, 1e-3);

    // Grey has no hue; lightening keeps it grey.
    const Bytes grey = bytes(colorByLightening(colorWithWebColor(0x606060)));
    EXPECT_EQ(grey.r, grey.g);
    EXPECT_EQ(grey.g, grey.b);
}

TEST(ThemeColourTest, ContrastRatioRunsFromOneToTwentyOneEitherWayRound) {
    EXPECT_NEAR(contrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio(Qt::white, Qt::black), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio(LFTheme::primaryColor(), LFTheme::primaryColor()), 1.0, 1e-9);
    // White on the theme's table grey is the pairing that reads badly (about 2.6).
    EXPECT_LT(contrastRatio(LFTheme::tableTextColor(), LFTheme::tableBackgroundColor()), 3.0);
    // Mid grey #777777 is the usual boundary case: just under 4.5 against white.
    EXPECT_NEAR(contrastRatio(colorWithWebColor(0x777777), Qt::white), 4.48, 0.01);
}

TEST(ThemeColourTest, BackgroundTilesThePinstripe) {
    const QBrush brush = LFTheme::backgroundColor();
    ASSERT_EQ(brush.style(), Qt::TexturePattern);
    const QImage tile = brush.texture().toImage();
    ASSERT_FALSE(tile.isNull());
    // A stripe: rows differ, and the tile is opaque.
    EXPECT_NE(tile.pixel(0, 0), tile.pixel(0, tile.height() / 4));
    EXPECT_EQ(qAlpha(tile.pixel(0, 0)), 255);
}

} // namespace
} // namespace lf
