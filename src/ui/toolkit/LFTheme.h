#pragma once

#include <QBrush>
#include <QColor>
#include <QLinearGradient>
#include <QRectF>

namespace lf {

// Colour constructors and derivations shared by every custom-drawn surface.
//
// A web colour is 0xAARRGGBB; a zero top byte means opaque, so 0x505050 is opaque grey and
// 0x80AE3B93 is purple at alpha 128. Byte colours keep only the low eight bits of each argument.
QColor colorWithWebColor(quint32 web);
QColor colorWithRedByte(int red, int green, int blue, int alpha);
// Each component times 255, truncated.
void getRedByte(const QColor &color, int *red, int *green, int *blue, int *alpha);
// Same hue; saturation halved; brightness times 1.5 (at most 1); alpha kept.
QColor colorByLightening(const QColor &color);
// Same hue and saturation; brightness times 0.77; alpha kept.
QColor colorByDarkening(const QColor &color);

// The contrast ratio of two opaque colours by their relative luminance, from 1 (the same) to 21
// (black on white); 4.5 is the least that normal-sized text needs to be easily read.
double contrastRatio(const QColor &a, const QColor &b);

// A two-stop linear gradient with evenly spaced stops.
struct LFGradient {
    QColor start;
    QColor end;

    // The gradient laid from `from` (start colour) to `to` (end colour), padded beyond both ends.
    QLinearGradient linear(const QPointF &from, const QPointF &to) const;
    bool operator==(const LFGradient &) const = default;
};

// The program's colours. Stateless: every call builds a new value.
class LFTheme {
public:
    static QColor zoneColor();
    static QColor mainWindowBackgroundColor();
    static QColor userTextColor();
    static QColor primaryColor();
    static QColor primaryColorEnd();
    static QColor warningColor();
    static QColor warningColorEnd();
    static QColor secondaryColor();
    static QColor secondaryColorEnd();
    static QColor navBarColor();
    static QColor hilightColor();
    static QColor separatorColor();
    // The pinstripe tile ("pinstripe.png") as a brush; needs the program's images (lfui).
    static QBrush backgroundColor();
    static QColor tableBackgroundColor();
    static QColor tableHoverColor();
    static QColor bezelBackgroundColor();
    static QColor backgroundColorX();
    static QColor textColor();
    static QColor buttonTextColor();
    static QColor tableTextColor();
    static QColor tableTextSelectedColor();
    static QColor errorBalloonColor();

    // Address bubbles: `flag` set for the bubbles of the address field.
    static QColor bubbleColor(bool flag);
    static QColor bubbleSiteColor(bool flag);
    static QColor bubbleTextColor(bool flag);
    static QColor bubbleStrokeColor(bool flag);
    // Kind 0 an e-mail address, 1 a group, 2 a site; anything else has no stroke.
    static QColor bubbleStrokeColor(bool flag, int kind);

    static LFGradient lfGradient();
    static LFGradient toolbarGradient();
    static QRectF navButtonRect();

    // The recipients list behind its rows: dark enough for the white row text (and the lighter
    // hover background) to keep a contrast of 4.5:1, which tableBackgroundColor does not.
    static QColor listBackgroundColor();
    // Behind a selected row: light enough for tableTextSelectedColor at 4.5:1.
    static QColor listSelectedRowColor();

    // Window background of the main window, top to bottom.
    static LFGradient windowGradient();
};

} // namespace lf
