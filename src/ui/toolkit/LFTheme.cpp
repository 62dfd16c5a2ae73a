#include "toolkit/LFTheme.h"

#include "toolkit/Artwork.h"

#include <algorithm>
#include <cmath>

namespace lf {

namespace {

// Components are reals in 0...1; QColor keeps 16 bits each, and a byte b is exactly b * 257 there.
QColor fromBytes(quint32 r, quint32 g, quint32 b, quint32 a) {
    QColor c;
    c.setRgba64(QRgba64::fromRgba64(quint16((r & 0xFF) * 257), quint16((g & 0xFF) * 257),
        quint16((b & 0xFF) * 257), quint16((a & 0xFF) * 257)));
    return c;
}

QColor grey(int level) {
    return colorWithRedByte(level, level, level, 255);
}

QColor transparent() {
    return colorWithRedByte(0, 0, 0, 0);
}

// Relative luminance of a colour in the sRGB space.
double luminance(const QColor &color) {
    const auto linear
        = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor colorWithWebColor(quint32 web) {
    const quint32 alpha = web >> 24;
    return fromBytes(web >> 16, web >> 8, web, alpha == 0 ? 255 : alpha);
}

QColor colorWithRedByte(int red, int green, int blue, int alpha) {
    return fromBytes(quint32(red), quint32(green), quint32(blue), quint32(alpha));
}

void getRedByte(const QColor &color, int *red, int *green, int *blue, int *alpha) {
    // From the 16-bit components in double precision: a byte colour gives its bytes back exactly,
    // where float components times 255 may land just under the integer and truncate one too low.
    const QRgba64 c = color.rgba64();
    auto byte = [](quint16 v) { return int(std::floor(v / 257.0 + 1e-9)); };
    if (red)
        *red = byte(c.red());
    if (green)
        *green = byte(c.green());
    if (blue)
        *blue = byte(c.blue());
    if (alpha)
        *alpha = byte(c.alpha());
}

QColor colorByLightening(const QColor &color) {
    float h, s, v, a;
    color.toHsv().getHsvF(&h, &s, &v, &a);
    return QColor::fromHsvF(h, s * 0.5f, std::min(1.0f, v * 1.5f), a).toRgb();
}

QColor colorByDarkening(const QColor &color) {
    float h, s, v, a;
    color.toHsv().getHsvF(&h, &s, &v, &a);
    return QColor::fromHsvF(h, s, v * 0.77f, a).toRgb();
}

QLinearGradient LFGradient::linear(const QPointF &from, const QPointF &to) const {
    QLinearGradient g(from, to);
    g.setColorAt(0, start);
    g.setColorAt(1, end);
    g.setSpread(QGradient::PadSpread);
    return g;
}

QColor LFTheme::zoneColor() {
    return colorWithRedByte(255, 255, 255, 128);
}
QColor LFTheme::mainWindowBackgroundColor() {
    return colorWithWebColor(0xD6D6D6);
}
QColor LFTheme::userTextColor() {
    return colorWithWebColor(0x505050);
}
QColor LFTheme::primaryColor() {
    return colorWithWebColor(0xAE3B93);
}
QColor LFTheme::primaryColorEnd() {
    return colorWithWebColor(0x939393);
}
QColor LFTheme::warningColor() {
    return colorWithWebColor(0xFF0000);
}
QColor LFTheme::warningColorEnd() {
    return colorWithWebColor(0xFFDDDD);
}
QColor LFTheme::secondaryColor() {
    return colorWithRedByte(105, 105, 105, 255);
}
QColor LFTheme::secondaryColorEnd() {
    return colorWithRedByte(200, 200, 200, 255);
}
QColor LFTheme::navBarColor() {
    return colorWithRedByte(61, 61, 61, 255);
}
QColor LFTheme::hilightColor() {
    return colorWithRedByte(232, 195, 224, 255);
}
QColor LFTheme::separatorColor() {
    return hilightColor();
}

QBrush LFTheme::backgroundColor() {
    QBrush brush(Artwork::pixmap(QStringLiteral("pinstripe")));
    return brush;
}

QColor LFTheme::tableBackgroundColor() {
    return colorWithWebColor(0xA0A0A0);
}
QColor LFTheme::tableHoverColor() {
    return colorWithWebColor(0x707070);
}
QColor LFTheme::bezelBackgroundColor() {
    return colorWithRedByte(213, 213, 213, 255);
}
QColor LFTheme::backgroundColorX() {
    return colorWithRedByte(239, 239, 239, 51);
}
QColor LFTheme::textColor() {
    return colorWithWebColor(0x666666);
}
QColor LFTheme::buttonTextColor() {
    return colorWithWebColor(0xFFFFFF);
}
QColor LFTheme::tableTextColor() {
    return colorWithRedByte(255, 255, 255, 255);
}
QColor LFTheme::tableTextSelectedColor() {
    return colorWithRedByte(156, 41, 128, 255);
}
QColor LFTheme::errorBalloonColor() {
    return colorWithRedByte(236, 30, 36, 255);
}

QColor LFTheme::bubbleColor(bool flag) {
    return colorWithWebColor(flag ? 0xCCCCCC : 0x80AE3B93);
}
QColor LFTheme::bubbleSiteColor(bool flag) {
    return colorWithWebColor(flag ? 0xCCCCCC : 0x50FFFFFF);
}
QColor LFTheme::bubbleTextColor(bool flag) {
    return colorWithWebColor(flag ? 0x333333 : 0xEEEEEE);
}

QColor LFTheme::bubbleStrokeColor(bool flag) {
    return flag ? colorWithRedByte(253, 190, 231, 255) : transparent();
}

QColor LFTheme::bubbleStrokeColor(bool flag, int kind) {
    if (!flag)
        return transparent();
    switch (kind) {
    case 0:
        return colorWithRedByte(253, 190, 231, 255);
    case 1:
        return colorWithRedByte(190, 253, 231, 255);
    case 2:
        return colorWithRedByte(253, 231, 190, 255);
    default:
        return transparent();
    }
}

LFGradient LFTheme::lfGradient() {
    return {grey(149), grey(186)};
}
LFGradient LFTheme::toolbarGradient() {
    return {grey(196), grey(178)};
}
QRectF LFTheme::navButtonRect() {
    return QRectF(0, 0, 60, 30);
}

QColor LFTheme::listBackgroundColor() {
    return colorWithWebColor(0x595959);
}
QColor LFTheme::listSelectedRowColor() {
    // The highlight colour halfway to white.
    return colorWithRedByte(243, 225, 239, 255);
}

LFGradient LFTheme::windowGradient() {
    return {colorWithRedByte(200, 201, 202, 255), colorWithRedByte(169, 170, 171, 255)};
}

} // namespace lf
