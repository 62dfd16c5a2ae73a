#include "toolkit/LFIconButton.h"

#include "toolkit/Artwork.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace lf {

LFIconButton::LFIconButton(const QString &image, const QString &pressedImage, QWidget *parent)
    : QAbstractButton(parent) {
    setCursor(Qt::ArrowCursor);
    setFocusPolicy(Qt::TabFocus);
    setImages(image, pressedImage);
}

void LFIconButton::setImages(const QString &image, const QString &pressedImage) {
    m_image = image;
    m_pressedImage = pressedImage;
    setFixedSize(sizeHint());
    update();
}

QSize LFIconButton::sizeHint() const {
    const QPixmap pm = Artwork::pixmap(m_image, 1.0);
    return pm.isNull() ? QSize(16, 16) : pm.size();
}

void LFIconButton::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const bool pressed = isDown() && !m_pressedImage.isEmpty();
    const QPixmap pm = Artwork::pixmap(pressed ? m_pressedImage : m_image, devicePixelRatioF());
    if (!isEnabled())
        p.setOpacity(0.4);
    if (!pm.isNull())
        p.drawPixmap(QRectF(rect()), pm, QRectF(pm.rect()));
    p.setOpacity(1.0);
    if (hasFocus()) {
        QStyleOptionFocusRect opt;
        opt.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &p, this);
    }
}

} // namespace lf
