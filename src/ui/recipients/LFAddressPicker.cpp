#include "recipients/LFAddressPicker.h"

#include "foundation/Strings.h"
#include "toolkit/LFBalloonView.h"
#include "toolkit/LFTheme.h"

#include <QListWidget>

namespace lf {

LFAddressPicker::LFAddressPicker(AddressPickerDelegate *delegate, QObject *parent)
    : QObject(parent)
    , m_delegate(delegate) { }

LFAddressPicker::~LFAddressPicker() {
    delete m_balloon;
}

QWidget *LFAddressPicker::balloon() const {
    return m_balloon;
}

void LFAddressPicker::build(QWidget *window) {
    if (m_balloon && m_balloon->window() == window)
        return;
    delete m_balloon;
    m_list = new QListWidget(window);
    m_list->setObjectName(QStringLiteral("addressPicker"));
    m_list->setAccessibleName(localizedString(QStringLiteral("[Suggestions]")));
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setUniformItemSizes(true);
    m_list->setStyleSheet(QStringLiteral("QListWidget { background: transparent; }"));
    connect(m_list, &QListWidget::itemClicked, this,
        [this](QListWidgetItem *item) { report(m_list->row(item), false); });
    m_balloon = LFBalloonView::balloonViewAround(m_list);
    m_balloon->setObjectName(QStringLiteral("addressPickerBalloon"));
    m_balloon->setStrokeColor(LFTheme::primaryColor());
    m_balloon->setPointSide(LFBalloonView::Top);
    m_balloon->hide();
}

void LFAddressPicker::setAddresses(const QStringList &addresses) {
    m_addresses = addresses;
    if (!m_list)
        return;
    m_list->clear();
    m_list->addItems(addresses);
    if (addresses.isEmpty()) {
        hide();
        return;
    }
    place();
    m_balloon->show();
    m_balloon->raise();
    m_list->setCurrentRow(0);
}

void LFAddressPicker::glomToView(QWidget *view) {
    m_view = view;
    build(view->window());
    setAddresses(m_addresses);
}

void LFAddressPicker::place() {
    if (!m_view || !m_balloon)
        return;
    const int rows = qBound(1, int(m_addresses.size()), kMaxRows);
    const int rowHeight = qMax(m_list->sizeHintForRow(0), m_list->fontMetrics().height() + 4);
    int width = qMax(m_view->width() / 2, 260);
    for (const QString &address : m_addresses)
        width = qMax(width, m_list->fontMetrics().horizontalAdvance(address) + 24);
    width = qMin(width, m_view->window()->width() - 40);
    m_list->resize(width, rows * rowHeight + 4);
    m_list->move(6, m_balloon->pointDepth() + 6);
    m_balloon->resize(m_list->width() + 30, m_list->height() + 18 + int(m_balloon->pointDepth()));
    m_list->move(12, int(m_balloon->pointDepth()) + 6);
    const QPoint bottomLeft = m_view->mapTo(m_view->window(), QPoint(0, m_view->height()));
    m_balloon->move(bottomLeft.x(), bottomLeft.y() - kOverlap);
    m_balloon->setPointPosition(m_balloon->pointPositionFor(24));
}

bool LFAddressPicker::isVisible() const {
    return m_balloon && m_balloon->isVisible();
}

void LFAddressPicker::hide() {
    if (!m_balloon)
        return;
    m_balloon->hide();
    m_list->clearSelection();
    m_list->setCurrentRow(-1);
}

int LFAddressPicker::selectedRow() const {
    return m_list ? m_list->currentRow() : -1;
}

bool LFAddressPicker::upArrow() {
    if (!isVisible())
        return false;
    const int row = selectedRow();
    if (row == 0)
        return true;
    report(row < 0 ? m_list->count() - 1 : row - 1, true);
    return true;
}

bool LFAddressPicker::downArrow() {
    if (!isVisible())
        return false;
    const int row = selectedRow();
    if (row >= m_list->count() - 1)
        return true;
    report(row + 1, true);
    return true;
}

void LFAddressPicker::report(int row, bool byArrow) {
    if (row < 0 || row >= m_addresses.size())
        return;
    m_list->setCurrentRow(row);
    m_list->scrollToItem(m_list->item(row));
    m_delegate->addressClicked(m_addresses.at(row), byArrow);
}

} // namespace lf
