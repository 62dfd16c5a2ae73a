#include "recipients/MacBubbleEditor.h"

#include "recipients/Bubble.h"
#include "recipients/LFAddressField.h"

#include "contacts/AddressBookUtil.h"
#include "foundation/LogCategories.h"
#include "foundation/MainThread.h"
#include "foundation/Strings.h"
#include "foundation/TextMatch.h"
#include "foundation/TextRules.h"
#include "foundation/Workers.h"
#include "toolkit/ClockTimer.h"
#include "toolkit/LFAlert.h"

#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <exception>

namespace lf {

namespace {

constexpr QChar kBubbleChar = QChar::ObjectReplacementCharacter;

bool isSeparator(QChar c) {
    return c == QLatin1Char(',') || c == QLatin1Char(';');
}

} // namespace

MacBubbleEditor::MacBubbleEditor(BubbleEditorDelegate *delegate, QObject *parent)
    : QObject(parent)
    , m_delegate(delegate)
    , m_completionTimer(new ClockTimer(this))
    , m_parseTimer(new ClockTimer(this)) {
    connect(m_completionTimer, &ClockTimer::timeout, this, &MacBubbleEditor::completionFired);
    connect(m_parseTimer, &ClockTimer::timeout, this, [this] {
        m_parseTimer->stop();
        finalizeText();
    });
}

MacBubbleEditor::~MacBubbleEditor() = default;

void MacBubbleEditor::attachToText(LFAddressField *field) {
    m_field = field;
    field->setEditor(this);
    Bubble::install(field->document());
    connect(field, &QTextEdit::textChanged, this, &MacBubbleEditor::textDidChange);
}

bool MacBubbleEditor::completionPending() const {
    return m_completionTimer->isActive();
}

void MacBubbleEditor::rewrite(const std::function<void()> &edit) {
    const bool was = m_rewriting;
    m_rewriting = true;
    edit();
    m_rewriting = was;
}

void MacBubbleEditor::textDidChange() {
    // A paste is parsed once it is in whole; the document must not change under the insertion.
    if (m_rewriting || !m_field || m_field->isInserting())
        return;
    LFAlert::cleanup();
    const bool pasting = m_field->isPasting();
    if (pasting) {
        // Pasted line breaks and tabs become spaces, and the bubbles text again to be parsed anew.
        const QString raw = rawStringValue();
        QString flat = raw;
        flat.replace(QLatin1Char('\n'), QLatin1Char(' '))
            .replace(QLatin1Char('\r'), QLatin1Char(' '))
            .replace(QLatin1Char('\t'), QLatin1Char(' '))
            .replace(QChar::ParagraphSeparator, QLatin1Char(' '))
            .replace(QChar::LineSeparator, QLatin1Char(' '));
        if (!equalCaseIns(flat, raw))
            rewrite([&] { m_field->setPlainText(flat); });
    }
    parse(m_programmatic || pasting, false);
    if (m_field->document()->isEmpty())
        m_field->viewport()->update();
}

void MacBubbleEditor::textDidEndEditing(int movement) {
    if (movement == kMovementReturn) {
        cancelPendingParse();
        finalizeText();
    } else {
        m_parseTimer->start(kFinishDelayMs);
    }
}

void MacBubbleEditor::deleteBackward(const std::function<void()> &deletion) {
    deleteQuietly(deletion);
}

void MacBubbleEditor::deleteQuietly(const std::function<void()> &deletion) {
    const bool was = m_autoMutex;
    m_autoMutex = true;
    deletion();
    m_autoMutex = was;
    m_completionTimer->stop();
    cancelAutoFill();
}

void MacBubbleEditor::bubbleClicked(int position) {
    if (!m_field || Bubble::recipientAt(m_field->document(), position).isNull())
        return;
    rewrite([&] {
        QTextCursor cursor(m_field->document());
        cursor.setPosition(position);
        cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    });
    parse(false, true);
    m_field->viewport()->update();
}

void MacBubbleEditor::cancelAutoFill() {
    m_delegate->cancelAutoFill();
}

void MacBubbleEditor::cancelPendingParse() {
    m_parseTimer->stop();
}

QString MacBubbleEditor::replaceableText() const {
    return m_field->document()->toPlainText();
}

QString MacBubbleEditor::rawStringValue() const {
    if (!m_field)
        return {};
    const QString text = replaceableText();
    QString raw;
    raw.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QString recipient
            = text.at(i) == kBubbleChar ? Bubble::recipientAt(m_field->document(), i) : QString();
        if (!recipient.isNull())
            raw += recipient + QStringLiteral(", ");
        else
            raw += text.at(i);
    }
    return raw;
}

bool MacBubbleEditor::parse(bool finish, bool addPartial) {
    if (!m_field)
        return false;
    QTextDocument *doc = m_field->document();
    const QTextCursor selection = m_field->textCursor();
    const int selStart = selection.selectionStart();
    const int selEnd = selection.selectionEnd();
    const QStringList before = m_recipients;
    m_recipients.clear();
    QStringList partials;
    m_autofillRange.length = 0;
    bool invalid = false;

    // Tokenize: entries end at separators outside brackets, at a space once they hold "@" or "%",
    // and at bubbles; the bubbles' recipients come first.
    const QString text = replaceableText();
    struct Entry {
        Range range;
        // Ended by a separator or space the tokenizer took as one (not inside brackets).
        bool separated = false;
    };
    QList<Entry> entries;
    int start = -1;
    bool inBrackets = false, hasAt = false, hasPercent = false;
    auto record = [&](int end, bool separated) {
        if (start >= 0 && end > start)
            entries.append({{start, end - start}, separated});
        start = -1;
        hasAt = hasPercent = false;
    };
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == kBubbleChar) {
            const QString recipient = Bubble::recipientAt(doc, i);
            if (!recipient.isNull()) {
                record(i, false);
                inBrackets = false;
                m_recipients.append(recipient);
                continue;
            }
        }
        if (start < 0)
            start = i;
        if (c == QLatin1Char('[')) {
            inBrackets = true;
        } else if (c == QLatin1Char(']')) {
            inBrackets = false;
        } else if (isSeparator(c) && !inBrackets) {
            record(i + 1, true);
        } else if (c == QLatin1Char(' ') && !inBrackets && (hasAt || hasPercent)) {
            record(i + 1, true);
        } else if (c == QLatin1Char('@')) {
            hasAt = true;
        } else if (c == QLatin1Char('%')) {
            hasPercent = true;
        }
    }
    record(text.size(), false);

    // Resolve from the last entry to the first, so a replaced entry moves none before it.
    try {
        for (qsizetype n = entries.size() - 1; n >= 0; --n) {
            const Range e = entries.at(n).range;
            const bool caretInside = selStart == selEnd && e.location < selStart && selStart < e.end();
            bool current = (e.location < selEnd && selStart < e.end()) || caretInside || e.end() == selStart
                || e.location == selEnd;
            QString t = text.mid(e.location, e.length);
            const QChar last = t.back();
            // A comma inside a group's brackets finishes nothing.
            if (entries.at(n).separated
                && (isSeparator(last) || (last == QLatin1Char(' ') && t.contains(QLatin1Char('@'))))) {
                if (current)
                    current = false;
                else
                    t.chop(1);
            }
            const QString trimmed = t.trimmed();
            // Two separators in a row: the second is no entry of its own.
            QString core = trimmed;
            while (!core.isEmpty() && isSeparator(core.back()))
                core.chop(1);
            if (core.trimmed().isEmpty()) {
                // Separators typed after a bubble end no entry: they go.
                const QString raw = text.mid(e.location, e.length);
                if (std::any_of(raw.begin(), raw.end(), isSeparator)) {
                    QTextCursor cursor(doc);
                    cursor.setPosition(e.location);
                    cursor.setPosition(e.end(), QTextCursor::KeepAnchor);
                    rewrite([&] { cursor.removeSelectedText(); });
                }
                continue;
            }
            if (current && !finish) {
                m_autofillRange = e;
                if (!m_autoMutex && m_delegate->autoFiller()) {
                    m_autoFillStr = text.mid(e.location, e.length);
                    m_completionTimer->start(kCompletionDelayMs);
                }
                if (addPartial) {
                    m_recipients.append(text.mid(e.location, e.length));
                    partials.append(m_recipients.constLast());
                }
                continue;
            }
            QString friendly;
            const QString address = AddressBookUtil::extractEmail(trimmed, &friendly);
            if (!validEmail(address) && !address.startsWith(kSiteRecipientPrefix)
                && !address.startsWith(kGroupRecipientPrefix)) {
                // While typing, only the entry the last key ended is told about, and the caret
                // stays after it: the keys that follow land there, not on the entry.
                const bool justEnded = entries.at(n).separated && selStart == selEnd && e.end() == selStart;
                if (!finish && !justEnded)
                    continue;
                if (finish) {
                    QTextCursor cursor(doc);
                    cursor.setPosition(e.location);
                    cursor.setPosition(e.end(), QTextCursor::KeepAnchor);
                    m_field->setTextCursor(cursor);
                }
                LFAlert::alertWithString(localizedString(QStringLiteral("[invalidemail]")), m_field);
                invalid = true;
                continue;
            }
            QTextCursor cursor(doc);
            cursor.setPosition(e.location);
            // Group and site names are matched ignoring case, and so are addresses.
            if (m_recipients.contains(address, Qt::CaseInsensitive)) {
                cursor.setPosition(e.end(), QTextCursor::KeepAnchor);
                rewrite([&] { cursor.removeSelectedText(); });
                continue;
            }
            QString display = friendly;
            if (!display.isEmpty())
                AddressBookUtil::singleton().hintEmail(address, display);
            else
                display = m_delegate->nameForEmail(address);
            if (display.isEmpty())
                continue;
            const QTextCharFormat format = Bubble::format(display, address, m_field->devicePixelRatioF());
            if (!format.isValid())
                continue;
            // What follows is read from the document as it is now: a later entry may already be
            // a bubble there, which the extension must not swallow.
            int end = e.end();
            const int docEnd = doc->characterCount() - 1;
            while (end < docEnd
                && (doc->characterAt(end) == QLatin1Char(' ') || isSeparator(doc->characterAt(end))))
                ++end;
            cursor.setPosition(end, QTextCursor::KeepAnchor);
            rewrite([&] { cursor.insertText(QString(kBubbleChar), format); });
            m_recipients.append(address);
        }
    } catch (const std::exception &error) {
        qCWarning(lfUi, "exception in MacBubbleEditor parse:addPartial:\nerror = %s", error.what());
    }
    // The recipients in the order the field shows them (the entries were resolved last first),
    // so that a later rendering from the list keeps what a paste of several addresses showed.
    QStringList shown;
    const QString now = replaceableText();
    for (int i = 0; i < now.size(); ++i) {
        const QString recipient = now.at(i) == kBubbleChar ? Bubble::recipientAt(doc, i) : QString();
        if (!recipient.isNull())
            shown.append(recipient);
    }
    m_recipients = shown + partials;

    if (m_recipients != before)
        m_delegate->recipientsUpdated(m_recipients);
    if (m_autofillRange.length == 0) {
        // The entry being typed is finished: a completion still to come would offer it again.
        m_completionTimer->stop();
        cancelAutoFill();
    }
    m_field->ensureCursorVisible();
    return invalid;
}

void MacBubbleEditor::mungeRecipients(const QStringList &recipients) {
    m_recipients = recipients;
    if (!m_field) {
        m_autofillRange = {};
        return;
    }
    // What is typed and not yet a bubble stays, after the bubbles: a re-render never eats it, nor
    // moves the caret, the type-ahead selection or the entry being completed within it.
    const QString text = replaceableText();
    QString typed;
    QList<int> typedBefore(text.size() + 1, 0);
    for (int i = 0; i < text.size(); ++i) {
        typedBefore[i] = int(typed.size());
        if (Bubble::recipientAt(m_field->document(), i).isNull())
            typed += text.at(i);
    }
    typedBefore[text.size()] = int(typed.size());
    int lead = 0;
    while (lead < typed.size() && typed.at(lead).isSpace())
        ++lead;
    typed = typed.mid(lead);
    if (typed.trimmed().isEmpty())
        typed.clear();
    const auto inTyped = [&](int position) {
        return qBound(0, typedBefore[qBound(0, position, int(text.size()))] - lead, int(typed.size()));
    };
    const QTextCursor old = m_field->textCursor();
    const int anchor = inTyped(old.anchor()), caret = inTyped(old.position());
    const Range fill = m_autofillRange;
    const int fillStart = fill.length > 0 ? inTyped(fill.location) : 0;
    const int fillEnd = fill.length > 0 ? inTyped(fill.end()) : 0;
    rewrite([&] {
        m_field->clear();
        QTextCursor cursor(m_field->document());
        for (const QString &recipient : recipients) {
            const QString display = m_delegate->nameForEmail(recipient);
            if (display.isEmpty())
                continue;
            const QTextCharFormat format = Bubble::format(display, recipient, m_field->devicePixelRatioF());
            if (format.isValid())
                cursor.insertText(QString(kBubbleChar), format);
        }
        const int bubbles = cursor.position();
        cursor.insertText(typed, QTextCharFormat());
        cursor.setPosition(bubbles + anchor);
        cursor.setPosition(bubbles + caret, QTextCursor::KeepAnchor);
        m_field->setTextCursor(cursor);
        m_field->setCurrentCharFormat(QTextCharFormat());
        m_autofillRange = fillEnd > fillStart ? Range {bubbles + fillStart, fillEnd - fillStart} : Range {};
    });
    m_field->ensureCursorVisible();
    m_field->viewport()->update();
}

void MacBubbleEditor::addRecipient(const QString &recipient) {
    if (!m_field || m_recipients.contains(recipient, Qt::CaseInsensitive))
        return;
    if (parse(true, true))
        return;
    rewrite([&] {
        QTextCursor cursor(m_field->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(recipient, QTextCharFormat());
        m_field->setTextCursor(cursor);
    });
    parse(true, true);
    m_field->ensureCursorVisible();
}

void MacBubbleEditor::setText(const QString &text) {
    if (!m_field)
        return;
    m_programmatic = true;
    m_field->setPlainText(text);
    m_programmatic = false;
}

void MacBubbleEditor::chooseAutoFill(const QString &candidate, bool byArrow) {
    cancelPendingParse();
    if (!m_field)
        return;
    QTextCursor caret = m_field->textCursor();
    const int p = caret.selectionStart();
    Range range = m_autofillRange;
    if (range.location < 0 || range.length == 0)
        range = {p, 0};
    rewrite([&] {
        QTextCursor cursor(m_field->document());
        cursor.setPosition(range.location);
        cursor.setPosition(range.end(), QTextCursor::KeepAnchor);
        cursor.insertText(candidate, QTextCharFormat());
    });
    if (byArrow) {
        QTextCursor select(m_field->document());
        select.setPosition(qMin(p, range.location + int(candidate.size())));
        select.setPosition(range.location + int(candidate.size()), QTextCursor::KeepAnchor);
        m_field->setTextCursor(select);
        m_autofillRange = {range.location, int(candidate.size())};
        return;
    }
    m_autofillRange = {};
    const bool was = m_autoMutex;
    m_autoMutex = true;
    parse(true, true);
    m_autoMutex = was;
}

void MacBubbleEditor::completionFired() {
    m_completionTimer->stop();
    const auto filler = m_delegate->autoFiller();
    if (!filler)
        return;
    const QString typed = m_autoFillStr;
    QPointer<MacBubbleEditor> self(this);
    Workers::instance().start(QStringLiteral("address completion"), [filler, typed, self] {
        const QString first = filler(typed);
        if (first.isEmpty())
            return;
        runOnMainThread([self, first] {
            if (self)
                self->autoFillDone(first);
        });
    });
}

void MacBubbleEditor::autoFillDone(const QString &candidate) {
    // Applies to the entry being typed now; none when it was finished meanwhile.
    if (!m_field || m_autofillRange.location < 0 || m_autofillRange.length == 0)
        return;
    const QString text = replaceableText();
    const Range range = m_autofillRange;
    if (range.end() > text.size())
        return;
    const QString typed = text.mid(range.location, range.length);
    const QString typedLead = typed.trimmed();
    // Type-ahead only continues what was typed; other candidates wait in the pop-up.
    if (typedLead.isEmpty() || !candidate.startsWith(typedLead, Qt::CaseInsensitive)
        || candidate.size() <= typedLead.size())
        return;
    const int offset = int(typed.indexOf(typedLead));
    rewrite([&] {
        QTextCursor cursor(m_field->document());
        cursor.setPosition(range.location + offset);
        cursor.setPosition(range.end(), QTextCursor::KeepAnchor);
        cursor.insertText(candidate, QTextCharFormat());
    });
    const int candidateStart = range.location + offset;
    QTextCursor select(m_field->document());
    select.setPosition(candidateStart + int(typedLead.size()));
    select.setPosition(candidateStart + int(candidate.size()), QTextCursor::KeepAnchor);
    m_field->setTextCursor(select);
    m_autofillRange = {range.location, offset + int(candidate.size())};
}

} // namespace lf
