#include "toolkit/SheetSize.h"

#include <QWidget>

namespace lf {

namespace {

// Room left around a sheet, so the window's edges and its header show.
constexpr int kSideMargin = 16;
constexpr int kTopMargin = 48;

} // namespace

void fitSheetToWindow(QWidget *sheet, QSize wanted) {
    // A sheet over a sheet still belongs to the window at the bottom of the pile.
    const QWidget *owner = sheet->parentWidget();
    while (owner && owner->parentWidget())
        owner = owner->parentWidget();
    QSize size = wanted;
    if (owner)
        size = size.boundedTo(owner->size() - QSize(2 * kSideMargin, kTopMargin + kSideMargin));
    sheet->resize(size.expandedTo(sheet->minimumSizeHint()).expandedTo(sheet->minimumSize()));
}

} // namespace lf
