#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QTextCharFormat>
#include <QTextObjectInterface>

class QTextDocument;

namespace lf {

// A bubble in the address field: one object-replacement character whose format carries the
// recipient string and the image drawn for it.
namespace Bubble {

inline constexpr int kObjectType = QTextFormat::UserObject + 1;
inline constexpr int kRecipientProperty = QTextFormat::UserProperty + 1;
inline constexpr int kImageProperty = QTextFormat::UserProperty + 2;

// 2 for a site ("@"), 1 for a group ("%"), 0 for an address.
int kind(const QString &recipient);
// The rounded image with the display name (or the program's image of that name) and the delete
// mark; null when nothing can be drawn (a "png" name that names no image, an empty name).
QImage image(const QString &displayName, int kind, qreal devicePixelRatio = 1.0);
// The width of the delete mark's area at the image's right end, in points.
qreal deleteMarkWidth();
// The format of the bubble character; invalid (no bubble) when no image can be drawn.
QTextCharFormat format(const QString &displayName, const QString &recipient, qreal devicePixelRatio = 1.0);
// The recipient string of the character at `position`, or a null string when it is no bubble.
QString recipientAt(const QTextDocument *document, int position);
// Registers the drawing of bubbles with the document's layout (once per document).
void install(QTextDocument *document);

} // namespace Bubble

// Draws the bubble characters of a document.
class BubbleTextObject : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
public:
    using QObject::QObject;
    QSizeF intrinsicSize(QTextDocument *doc, int posInDocument, const QTextFormat &format) override;
    void drawObject(QPainter *painter, const QRectF &rect, QTextDocument *doc, int posInDocument,
        const QTextFormat &format) override;
};

} // namespace lf
