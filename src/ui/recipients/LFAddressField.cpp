#include "recipients/LFAddressField.h"

#include "recipients/Bubble.h"
#include "recipients/MacBubbleEditor.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTextCursor>

namespace lf {

namespace {

constexpr int kFieldMargin = 4;

} // namespace

LFAddressField::LFAddressField(QWidget *parent)
    : QTextEdit(parent) {
    setObjectName(QStringLiteral("addressField"));
    setAcceptRichText(false);
    setLineWrapMode(QTextEdit::NoWrap);
    setWordWrapMode(QTextOption::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
    document()->setDocumentMargin(kFieldMargin);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(sizeHint().height());
}

void LFAddressField::setPlaceholder(const QString &text) {
    m_placeholder = text;
    viewport()->update();
}

QSize LFAddressField::sizeHint() const {
    const int line = qMax(fontMetrics().height() + 6, 24);
    return {240, line + 2 * kFieldMargin + 2 * frameWidth()};
}

QSize LFAddressField::minimumSizeHint() const {
    return {80, sizeHint().height()};
}

void LFAddressField::plainTyping() {
    // Typing after a bubble must not take the bubble's format.
    if (currentCharFormat().objectType() == Bubble::kObjectType)
        setCurrentCharFormat(QTextCharFormat());
}

void LFAddressField::endEditing() {
    if (m_editor)
        m_editor->textDidEndEditing(MacBubbleEditor::kMovementReturn);
}

void LFAddressField::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Up:
        if (upAction && upAction())
            return;
        break;
    case Qt::Key_Down:
        if (downAction && downAction())
            return;
        break;
    case Qt::Key_Escape:
        if (escAction) {
            escAction();
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        endEditing();
        return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        // Only when there is nothing to move the focus to (the focus change finishes otherwise).
        endEditing();
        return;
    case Qt::Key_Backspace:
        if (m_editor) {
            m_editor->deleteBackward([&] { QTextEdit::keyPressEvent(event); });
            return;
        }
        break;
    default:
        break;
    }
    plainTyping();
    QTextEdit::keyPressEvent(event);
}

bool LFAddressField::event(QEvent *event) {
    // The window's Share shortcut (Ctrl+Return) comes before the key reaches the field: what is
    // typed becomes a recipient first, so one press shares it.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            && (key->modifiers() & Qt::ControlModifier))
            endEditing();
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier && escWanted && escWanted()) {
            event->accept();
            return true;
        }
    }
    return QTextEdit::event(event);
}

void LFAddressField::focusOutEvent(QFocusEvent *event) {
    QTextEdit::focusOutEvent(event);
    if (!m_editor)
        return;
    // Tab and Shift-Tab move the focus before the field sees the key: they finish at once, as
    // Return does. Other focus changes finish after a moment, unless a candidate of the pop-up
    // is chosen first.
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
        endEditing();
    else
        m_editor->textDidEndEditing(0);
}

QRect LFAddressField::bubbleRect(int position) const {
    QTextCursor cursor(document());
    cursor.setPosition(position + 1);
    const QTextCharFormat f = cursor.charFormat();
    const QImage image = f.property(Bubble::kImageProperty).value<QImage>();
    cursor.setPosition(position);
    const QRect caret = cursorRect(cursor);
    const QSize size = (QSizeF(image.size()) / image.devicePixelRatio()).toSize();
    return {caret.left(), caret.center().y() - size.height() / 2, size.width() + 2, size.height()};
}

int LFAddressField::bubbleAt(const QPoint &point) const {
    const int near = cursorForPosition(point).position();
    for (int position : {near - 1, near}) {
        if (position < 0 || Bubble::recipientAt(document(), position).isNull())
            continue;
        if (bubbleRect(position).contains(point))
            return position;
    }
    return -1;
}

void LFAddressField::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton && m_editor) {
        const int bubble = bubbleAt(event->position().toPoint());
        if (bubble >= 0) {
            m_editor->bubbleClicked(bubble);
            event->accept();
            return;
        }
    }
    QTextEdit::mousePressEvent(event);
}

void LFAddressField::paintEvent(QPaintEvent *event) {
    QTextEdit::paintEvent(event);
    if (!document()->isEmpty() || m_placeholder.isEmpty())
        return;
    QPainter p(viewport());
    p.setPen(palette().color(QPalette::PlaceholderText));
    p.drawText(viewport()->rect(), Qt::AlignCenter, m_placeholder);
}

QMimeData *LFAddressField::createMimeDataFromSelection() const {
    // Copying gives the whole field as plain addresses, whatever the selection.
    auto *mime = new QMimeData;
    mime->setText(m_editor ? m_editor->rawStringValue() : toPlainText());
    return mime;
}

bool LFAddressField::canInsertFromMimeData(const QMimeData *source) const {
    return source->hasText() && !source->hasUrls();
}

void LFAddressField::insertFromMimeData(const QMimeData *source) {
    if (!canInsertFromMimeData(source))
        return;
    // A stray object character from elsewhere is no bubble of ours; line breaks and tabs become
    // spaces before the text goes in, so the field sees one edit of one line.
    QString text = source->text();
    text.remove(QChar::ObjectReplacementCharacter);
    for (QChar &c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t'))
            c = QLatin1Char(' ');
    }
    plainTyping();
    m_inserting = true;
    QTextCursor cursor = textCursor();
    cursor.insertText(text, QTextCharFormat());
    setTextCursor(cursor);
    m_inserting = false;
    m_pasting = true;
    if (m_editor)
        m_editor->textDidChange();
    m_pasting = false;
}

} // namespace lf
