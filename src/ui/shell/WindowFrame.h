#pragma once

#include <QList>
#include <QRect>

#include <optional>

class QWidget;

namespace lf::WindowFrame {

// Height of the strip along the top of a frame that must be on a screen for the frame to be used.
inline constexpr int kTitleStripHeight = 24;
// Part of that strip that must lie on one screen.
inline constexpr double kVisibleShare = 0.2;

// The frame stored under "MainWindowFrame", if there is a usable one.
std::optional<QRect> saved();
// Stores `frame` under "MainWindowFrame" ("x", "y", "width", "height").
void store(const QRect &frame);
// Whether the title strip of `frame` is on one of `screens` well enough to grab it.
bool titleStripVisible(const QRect &frame, const QList<QRect> &screens);
// Gives `window` the saved frame when its title strip is on a screen; whether it did.
bool restore(QWidget *window);

} // namespace lf::WindowFrame
