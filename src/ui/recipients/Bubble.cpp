#include "recipients/Bubble.h"

#include "contacts/AddressBookUtil.h"
#include "toolkit/Artwork.h"
#include "toolkit/LFTheme.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QTextCursor>
#include <QTextDocument>

namespace lf::Bubble {

namespace {

constexpr qreal kTextInset = 8.0;
constexpr qreal kMarkArea = 16.0;
constexpr qreal kMarkSize = 9.0;
constexpr qreal kMaxTextWidth = 200.0;
constexpr qreal kImageSide = 15.0;

// The desktop's own text size: the bubbles sit in a line of typed text.
QFont bubbleFont() {
    return QApplication::font();
}

} // namespace

int kind(const QString &recipient) {
    if (recipient.startsWith(kSiteRecipientPrefix))
        return 2;
    if (recipient.startsWith(kGroupRecipientPrefix))
        return 1;
    return 0;
}

qreal deleteMarkWidth() {
    return kMarkArea;
}

QImage image(const QString &displayName, int kind, qreal devicePixelRatio) {
    if (displayName.trimmed().isEmpty())
        return {};
    // A name like one of the program's images shows that image; a "png" name that is none of them
    // is not drawable.
    QPixmap picture;
    if (Artwork::hasImage(displayName))
        picture = Artwork::pixmap(displayName, devicePixelRatio);
    else if (displayName.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        return {};

    const QFont font = bubbleFont();
    const QFontMetricsF metrics(font);
    const QString text
        = picture.isNull() ? metrics.elidedText(displayName, Qt::ElideRight, kMaxTextWidth) : QString();
    const qreal contentWidth = picture.isNull() ? metrics.horizontalAdvance(text) : kImageSide;
    const qreal height = std::ceil(metrics.height() + 4);
    const QSizeF size(std::ceil(kTextInset + contentWidth + kMarkArea + 2), height);

    QImage out((size * devicePixelRatio).toSize(), QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(devicePixelRatio);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body = QRectF(QPointF(0, 0), size).adjusted(0.75, 0.75, -0.75, -0.75);
    QPainterPath path;
    path.addRoundedRect(body, body.height() / 2, body.height() / 2);
    p.fillPath(path, LFTheme::bubbleColor(true));
    p.setPen(QPen(LFTheme::bubbleStrokeColor(true, kind), 1.5));
    p.drawPath(path);

    const QRectF content(kTextInset, 0, contentWidth, height);
    if (picture.isNull()) {
        p.setFont(font);
        p.setPen(LFTheme::bubbleTextColor(true));
        p.drawText(content, Qt::AlignCenter, text);
    } else {
        const QRectF target(content.left(), (height - kImageSide) / 2, kImageSide, kImageSide);
        p.drawPixmap(target, picture, picture.rect());
    }
    const QPixmap mark = Artwork::pixmap(QStringLiteral("delX"), devicePixelRatio);
    const QRectF markRect(size.width() - kMarkArea + (kMarkArea - kMarkSize) / 2 - 3,
        (height - kMarkSize) / 2, kMarkSize, kMarkSize);
    p.drawPixmap(markRect, mark, mark.rect());
    return out;
}

QTextCharFormat format(const QString &displayName, const QString &recipient, qreal devicePixelRatio) {
    const QImage drawn = image(displayName, kind(recipient), devicePixelRatio);
    if (drawn.isNull())
        return {};
    QTextCharFormat f;
    f.setObjectType(kObjectType);
    f.setProperty(kRecipientProperty, recipient);
    f.setProperty(kImageProperty, drawn);
    f.setVerticalAlignment(QTextCharFormat::AlignMiddle);
    return f;
}

QString recipientAt(const QTextDocument *document, int position) {
    if (document->characterAt(position) != QChar::ObjectReplacementCharacter)
        return {};
    QTextCursor cursor(const_cast<QTextDocument *>(document));
    cursor.setPosition(position + 1);
    const QTextCharFormat f = cursor.charFormat();
    if (f.objectType() != kObjectType)
        return {};
    return f.property(kRecipientProperty).toString();
}

void install(QTextDocument *document) {
    QAbstractTextDocumentLayout *layout = document->documentLayout();
    if (layout->handlerForObject(kObjectType))
        return;
    layout->registerHandler(kObjectType, new BubbleTextObject(document));
}

} // namespace lf::Bubble

namespace lf {

QSizeF BubbleTextObject::intrinsicSize(QTextDocument *, int, const QTextFormat &format) {
    const QImage drawn = format.property(Bubble::kImageProperty).value<QImage>();
    return QSizeF(drawn.size()) / drawn.devicePixelRatio() + QSizeF(2, 0);
}

void BubbleTextObject::drawObject(
    QPainter *painter, const QRectF &rect, QTextDocument *, int, const QTextFormat &format) {
    const QImage drawn = format.property(Bubble::kImageProperty).value<QImage>();
    painter->drawImage(QPointF(rect.left() + 1, rect.top()), drawn);
}

} // namespace lf
