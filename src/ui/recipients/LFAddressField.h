#pragma once

#include <QTextEdit>

#include <functional>

namespace lf {

class MacBubbleEditor;

// The one-line address field: typed text and bubbles. Special keys, copy, paste and drops go to
// the bubble editor and the list controller; a grey placeholder shows while it is empty.
class LFAddressField : public QTextEdit {
    Q_OBJECT
public:
    explicit LFAddressField(QWidget *parent = nullptr);

    void setEditor(MacBubbleEditor *editor) { m_editor = editor; }
    QString placeholder() const { return m_placeholder; }
    void setPlaceholder(const QString &text);
    bool isPasting() const { return m_pasting; }
    // While pasted text is going in.
    bool isInserting() const { return m_inserting; }

    // The controller's key actions: up and down answer whether they were taken (the pop-up
    // shows); otherwise the caret moves as usual.
    std::function<bool()> upAction;
    std::function<bool()> downAction;
    std::function<void()> escAction;
    // Whether Escape has something to undo here (a balloon, a completion, the pop-up); then it
    // comes to the field before the window's Escape, which cancels the whole share.
    std::function<bool()> escWanted;

    // The position of the bubble under `point` (viewport coordinates), or -1.
    int bubbleAt(const QPoint &point) const;
    // Where the bubble character at `position` is drawn, in viewport coordinates.
    QRect bubbleRect(int position) const;

    // Text only: a drag or paste that carries file names is refused.
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    QMimeData *createMimeDataFromSelection() const override;

private:
    void plainTyping();
    void endEditing();

    MacBubbleEditor *m_editor = nullptr;
    QString m_placeholder;
    bool m_pasting = false;
    bool m_inserting = false;
};

} // namespace lf
