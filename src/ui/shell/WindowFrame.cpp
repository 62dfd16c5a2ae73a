#include "shell/WindowFrame.h"

#include "foundation/Prefs.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVariantMap>
#include <QWidget>

namespace lf::WindowFrame {

namespace {
constexpr const char *kX = "x", *kY = "y", *kWidth = "width", *kHeight = "height";
} // namespace

std::optional<QRect> saved() {
    const QVariantMap frame = Prefs::prefForKey(QLatin1String(PrefKey::MainWindowFrame)).toMap();
    if (frame.isEmpty())
        return std::nullopt;
    const QRect rect(qRound(Prefs::toFloat(frame.value(kX))), qRound(Prefs::toFloat(frame.value(kY))),
        qRound(Prefs::toFloat(frame.value(kWidth))), qRound(Prefs::toFloat(frame.value(kHeight))));
    // A frame written by hand or by a broken run must not make an invisible window.
    if (rect.width() < 100 || rect.height() < 100)
        return std::nullopt;
    return rect;
}

void store(const QRect &frame) {
    // Single-precision reals, as the original store kept them.
    const QVariantMap map {{kX, float(frame.x())}, {kY, float(frame.y())}, {kWidth, float(frame.width())},
        {kHeight, float(frame.height())}};
    if (Prefs::prefForKey(QLatin1String(PrefKey::MainWindowFrame)).toMap() != map)
        Prefs::setPref(map, QLatin1String(PrefKey::MainWindowFrame));
}

bool titleStripVisible(const QRect &frame, const QList<QRect> &screens) {
    const QRect strip(frame.x(), frame.y(), frame.width(), kTitleStripHeight);
    const double stripArea = double(strip.width()) * strip.height();
    if (stripArea <= 0)
        return false;
    for (const QRect &screen : screens) {
        const QRect shared = strip.intersected(screen);
        if (!shared.isEmpty() && double(shared.width()) * shared.height() / stripArea > kVisibleShare)
            return true;
    }
    return false;
}

bool restore(QWidget *window) {
    const std::optional<QRect> frame = saved();
    if (!frame)
        return false;
    QList<QRect> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens.append(screen->availableGeometry());
    if (!titleStripVisible(*frame, screens))
        return false;
    window->setGeometry(*frame);
    return true;
}

} // namespace lf::WindowFrame
