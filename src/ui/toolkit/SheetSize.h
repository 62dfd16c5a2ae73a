#pragma once

#include <QSize>

class QWidget;

namespace lf {

// Sizes a sheet to `wanted`, but no larger than the window it belongs to less a margin, so it
// reads as part of that window; never smaller than what its layout needs.
void fitSheetToWindow(QWidget *sheet, QSize wanted);

} // namespace lf
