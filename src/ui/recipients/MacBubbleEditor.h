#pragma once

#include "recipients/LFAddressField.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>

namespace lf {

class ClockTimer;

// What the bubble editor asks of its owner (the recent-recipients list).
class BubbleEditorDelegate {
public:
    virtual ~BubbleEditorDelegate() = default;
    // The display name of a recipient string; empty when it gets no bubble.
    virtual QString nameForEmail(const QString &recipient) = 0;
    // The completion to run on a worker thread for a typed text (first candidate or empty);
    // none when this owner does not complete.
    virtual std::function<QString(const QString &)> autoFiller() { return {}; }
    // The field's recipients after a parse that changed them.
    virtual void recipientsUpdated(const QStringList &) { }
    virtual void cancelAutoFill() { }
};

// Turns the address field's typed entries into bubbles, keeps the field's recipients, and
// completes the entry being typed after a pause in typing.
class MacBubbleEditor : public QObject {
    Q_OBJECT
public:
    struct Range {
        int location = -1;
        int length = 0;
        int end() const { return location + length; }
    };

    static constexpr int kCompletionDelayMs = 200;
    static constexpr int kFinishDelayMs = 100;
    // The end-of-editing movement of Return, Tab and Shift-Tab.
    static constexpr int kMovementReturn = 16;

    explicit MacBubbleEditor(BubbleEditorDelegate *delegate, QObject *parent = nullptr);
    ~MacBubbleEditor() override;

    void attachToText(LFAddressField *field);
    LFAddressField *textView() const { return m_field; }

    // Tokenizes the field and turns its finished entries into bubbles. `finish` finishes the entry
    // under the caret too; `addPartial` keeps an unfinished entry's text among the recipients.
    // Whether an invalid entry was found (its balloon is then showing).
    bool parse(bool finish, bool addPartial);
    void finalizeText() { parse(true, true); }
    // Renders the list into the field as bubbles.
    void mungeRecipients(const QStringList &recipients);
    void addRecipient(const QString &recipient);
    void chooseAutoFill(const QString &candidate, bool byArrow);
    // The field's text with each bubble written as "recipient, ".
    QString rawStringValue() const;
    void cancelAutoFill();
    void cancelPendingParse();
    // Replaces the text as a script does: every entry is finished.
    void setText(const QString &text);

    QStringList recipients() const { return m_recipients; }
    Range autofillRange() const { return m_autofillRange; }
    bool completionPending() const;

    // Events of the field.
    void textDidChange();
    void textDidEndEditing(int movement);
    void deleteBackward(const std::function<void()> &deletion);
    // Deletes the text with no new completion (Escape's type-ahead removal).
    void deleteQuietly(const std::function<void()> &deletion);
    void bubbleClicked(int position);

private:
    void completionFired();
    void autoFillDone(const QString &candidate);
    // Runs `edit` on the document without reacting to it as the user's edit.
    void rewrite(const std::function<void()> &edit);
    QString replaceableText() const;

    BubbleEditorDelegate *m_delegate;
    QPointer<LFAddressField> m_field;
    QStringList m_recipients;
    Range m_autofillRange;
    QString m_autoFillStr;
    bool m_autoMutex = false;
    bool m_rewriting = false;
    bool m_programmatic = false;
    ClockTimer *m_completionTimer = nullptr;
    ClockTimer *m_parseTimer = nullptr;
};

} // namespace lf
