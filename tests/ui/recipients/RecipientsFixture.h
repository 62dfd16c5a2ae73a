#pragma once

#include "../shell/ShellFixture.h"

#include "recipients/MRUTableController.h"

#include <QString>
#include <QStringList>

#include <ostream>

class QWidget;

// Failures print the text, not its bytes.
inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}

namespace lf::test {

// The window's recipients area, signed in as the demo user against the in-process server.
class RecipientsTest : public ShellTest {
protected:
    void SetUp() override;

    static void key(
        QWidget *widget, int code, const QString &text = {}, Qt::KeyboardModifiers mods = Qt::NoModifier);
    static void type(QWidget *widget, const QString &text);
    static void clickAt(QWidget *widget, const QPoint &at);
    // Makes the main window the active one (shortcuts, Tab and focus events need it), the
    // keyboard in `focus`.
    void activate(QWidget *focus);
    // Types into whatever has the keyboard now, as a real keyboard does, one key at a time.
    static void typeToFocus(const QString &text);
    static void keyToFocus(int code, Qt::KeyboardModifiers mods = Qt::NoModifier);
    // Types into the address field.
    void typeAddress(const QString &text) { type(field(), text); }
    LFAddressField *field() const { return area->addressField(); }
    // The field's text with bubbles as "<recipient>".
    QString shownText() const;
    int rowOf(const QString &name) const;
    // Waits for the session's change notifications of work started so far to be handled.
    void settle();
    // The server's address book, fetched anew.
    QVariantList serverContacts();
    QVariantMap serverEntry(const QString &name);
    // The addresses of a group's members, sorted.
    static QStringList memberEmails(const QVariantMap &group, const QVariantList &contacts);

    MRUTableController *area = nullptr;
};

} // namespace lf::test
