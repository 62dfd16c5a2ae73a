#include "RecipientsFixture.h"

#include "recipients/Bubble.h"
#include "recipients/LFAddressField.h"
#include "shell/MainController.h"

#include "foundation/Workers.h"
#include "session/AddressBookSync.h"
#include "session/Service.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>

namespace lf::test {

void RecipientsTest::SetUp() {
    ShellTest::SetUp();
    launch();
    ASSERT_TRUE(waitUntil([this] { return signInRequests == 1; }));
    signIn();
    area = dynamic_cast<MRUTableController *>(app->mainController()->recipientsArea());
    ASSERT_NE(area, nullptr);
    area->window()->show();
    settle();
    ASSERT_FALSE(area->contacts().isEmpty());
}

void RecipientsTest::key(QWidget *widget, int code, const QString &text, Qt::KeyboardModifiers mods) {
    QKeyEvent press(QEvent::KeyPress, code, mods, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, code, mods, text);
    QApplication::sendEvent(widget, &release);
}

void RecipientsTest::type(QWidget *widget, const QString &text) {
    for (const QChar c : text)
        key(widget, c.toUpper().unicode(), QString(c));
}

void RecipientsTest::clickAt(QWidget *widget, const QPoint &at) {
    for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(t, QPointF(at), widget->mapToGlobal(QPointF(at)), Qt::LeftButton,
            t == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
}

void RecipientsTest::activate(QWidget *focus) {
    QWidget *window = focus->window();
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    focus->setFocus(Qt::OtherFocusReason);
    QCoreApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), focus);
}

void RecipientsTest::typeToFocus(const QString &text) {
    for (const QChar c : text) {
        QWidget *target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr) << "nothing has the keyboard";
        QTest::keyClick(target, c.toLatin1());
        QCoreApplication::processEvents();
    }
}

void RecipientsTest::keyToFocus(int code, Qt::KeyboardModifiers mods) {
    QWidget *target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr) << "nothing has the keyboard";
    QTest::keyClick(target, Qt::Key(code), mods);
    QCoreApplication::processEvents();
}

QString RecipientsTest::shownText() const {
    const QString text = field()->document()->toPlainText();
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        const QString recipient = Bubble::recipientAt(field()->document(), i);
        out += recipient.isNull() ? QString(text.at(i)) : QStringLiteral("<%1>").arg(recipient);
    }
    return out;
}

int RecipientsTest::rowOf(const QString &name) const {
    const QVariantList contacts = area->contacts();
    for (qsizetype i = 0; i < contacts.size(); ++i) {
        if (contacts.at(i).toMap().value(ContactKey::Name).toString() == name)
            return int(i);
    }
    return -1;
}

void RecipientsTest::settle() {
    for (int i = 0; i < 3; ++i) {
        Workers::instance().waitForAll(10000);
        deliverMainThreadWork();
    }
}

QVariantList RecipientsTest::serverContacts() {
    settle();
    Service::currentService()->loadContacts();
    settle();
    return Service::currentService()->contacts();
}

QVariantMap RecipientsTest::serverEntry(const QString &name) {
    for (const QVariant &item : serverContacts()) {
        if (item.toMap().value(ContactKey::Name).toString() == name)
            return item.toMap();
    }
    return {};
}

QStringList RecipientsTest::memberEmails(const QVariantMap &group, const QVariantList &contacts) {
    QStringList out;
    for (const QString &guid : group.value(ContactKey::Entries).toStringList()) {
        for (const QVariant &item : contacts) {
            if (item.toMap().value(ContactKey::Guid).toString() == guid)
                out.append(item.toMap().value(ContactKey::Email).toString());
        }
    }
    out.sort();
    return out;
}

} // namespace lf::test
