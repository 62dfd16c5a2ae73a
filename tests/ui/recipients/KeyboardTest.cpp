// Keys as a keyboard sends them: to whatever has the keyboard, through the shortcut map.
#include "RecipientsFixture.h"

#include "recipients/LFAddressField.h"
#include "recipients/LFAddressPicker.h"
#include "recipients/MacBubbleEditor.h"
#include "recipients/PersonVC.h"

#include "foundation/Clock.h"
#include "foundation/Strings.h"
#include "session/AddressBookSync.h"
#include "session/Service.h"
#include "share/PhotoInfo.h"
#include "share/ShareTask.h"
#include "shell/MainController.h"
#include "toolkit/ClockTimer.h"
#include "toolkit/LFAlert.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

namespace lf::test {
namespace {

using KeyboardTest = RecipientsTest;

QStringList shared() {
    return ShareTask::singleton()->recipients()->list();
}

TEST_F(KeyboardTest, TabAndShiftTabFinishTheEntryAndMoveOn) {
    // No completion comes between the keys, however slowly they arrive.
    ScopedFakeClock fake;
    ASSERT_NO_FATAL_FAILURE(activate(field()));
    typeToFocus(QStringLiteral("tab@new.example"));
    keyToFocus(Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), field());
    EXPECT_EQ(shownText(), QStringLiteral("<tab@new.example>"));
    EXPECT_EQ(shared(), QStringList {QStringLiteral("tab@new.example")});

    ASSERT_NO_FATAL_FAILURE(activate(field()));
    typeToFocus(QStringLiteral("back@new.example"));
    keyToFocus(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_NE(QApplication::focusWidget(), field());
    EXPECT_EQ(shownText(), QStringLiteral("<tab@new.example><back@new.example>"));
    EXPECT_EQ(shared().size(), 2);
}

// The balloon about an invalid entry hangs under the field without taking its keyboard: what is
// typed next lands in the field, after the entry, which stays for correcting.
TEST_F(KeyboardTest, KeysTypedAfterAnInvalidEntryLandInTheField) {
    ScopedFakeClock fake;
    ASSERT_NO_FATAL_FAILURE(activate(field()));
    typeToFocus(QStringLiteral("bob,"));
    EXPECT_EQ(balloonText(), localizedString(QStringLiteral("[invalidemail]")));
    EXPECT_EQ(QApplication::focusWidget(), field());
    EXPECT_FALSE(LFAlert::current()->window()->isActiveWindow());
    typeToFocus(QStringLiteral(" ann.friend@lanternfish.test,"));
    EXPECT_EQ(shownText(), QStringLiteral("bob,<ann.friend@lanternfish.test>"));
    EXPECT_EQ(shared(), QStringList {QStringLiteral("ann.friend@lanternfish.test")});

    // Finished with Return, the entry is selected under the balloon; typing replaces it.
    keyToFocus(Qt::Key_Return);
    EXPECT_FALSE(balloonText().isEmpty());
    EXPECT_EQ(field()->textCursor().selectedText(), QStringLiteral("bob,"));
    typeToFocus(QStringLiteral("bob@example.net"));
    keyToFocus(Qt::Key_Return);
    EXPECT_TRUE(balloonText().isEmpty());
    EXPECT_EQ(shownText(), QStringLiteral("<bob@example.net><ann.friend@lanternfish.test>"));
    // Escape closes a balloon before it touches the text.
    typeToFocus(QStringLiteral("eve"));
    keyToFocus(Qt::Key_Return);
    ASSERT_FALSE(balloonText().isEmpty());
    keyToFocus(Qt::Key_Escape);
    EXPECT_TRUE(balloonText().isEmpty());
    // Where the caret stood after the replaced entry decides the place; the text is what counts.
    EXPECT_TRUE(shownText().contains(QLatin1String("eve"))) << shownText().toStdString();
    ASSERT_TRUE(ShareTask::singleton()->hasRecipients());
    // The completion offered for "eve" goes next; then, with nothing left for the field to undo,
    // Escape is the window's Cancel.
    keyToFocus(Qt::Key_Escape);
    EXPECT_FALSE(field()->escWanted());
    EXPECT_TRUE(ShareTask::singleton()->hasRecipients());
    keyToFocus(Qt::Key_Escape);
    EXPECT_FALSE(ShareTask::singleton()->hasRecipients());
}

TEST_F(KeyboardTest, TheContactEditorsOffendingFieldKeepsTheKeyboard) {
    area->editRow(rowOf(QStringLiteral("Ivan Petrov")));
    PersonVC *editor = area->personVC();
    ASSERT_NE(editor, nullptr);
    ASSERT_NO_FATAL_FAILURE(activate(editor->emailField()));
    editor->emailField()->selectAll();
    typeToFocus(QStringLiteral("carla@example.org"));
    keyToFocus(Qt::Key_Return);
    ASSERT_FALSE(balloonText().isEmpty());
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), editor->emailField());
    // The correction goes into the field and the balloon goes with the first key.
    typeToFocus(QStringLiteral("x"));
    EXPECT_EQ(editor->emailField()->text(), QStringLiteral("carla@example.orgx"));
    EXPECT_TRUE(balloonText().isEmpty());
}

TEST_F(KeyboardTest, CtrlReturnSharesATypedAddressInOnePress) {
    ScopedFakeClock fake;
    const QString photo = home.filePath(QStringLiteral("one.jpg"));
    ASSERT_TRUE(QImage(32, 24, QImage::Format_RGB32).save(photo));
    ShareTask::singleton()->pushPhoto(PhotoInfo {{QString::fromLatin1(kPhotoUrl), photo}});
    QPushButton *share = app->mainController()->shareButton();
    QSignalSpy pressed(share, &QPushButton::clicked);
    ASSERT_NO_FATAL_FAILURE(activate(field()));
    typeToFocus(QStringLiteral("once@new.example"));
    ASSERT_FALSE(share->isEnabled());
    keyToFocus(Qt::Key_Return, Qt::ControlModifier);
    // The button shows the press before it clicks.
    EXPECT_TRUE(pressed.count() == 1 || pressed.wait(2000));
    EXPECT_EQ(pressed.count(), 1);
    settle();
}

TEST_F(KeyboardTest, AReRenderKeepsTheTypeAheadSelection) {
    ScopedFakeClock fake;
    area->clickedRow(rowOf(QStringLiteral("Family")));
    ASSERT_NO_FATAL_FAILURE(activate(field()));
    typeToFocus(QStringLiteral("Ko"));
    fake.clock.advance(std::chrono::milliseconds(210));
    ClockTimer::checkDueTimers();
    settle();
    const QString candidate = QStringLiteral("kofi@example.org");
    ASSERT_EQ(shownText(), QStringLiteral("<%Family>") + candidate);
    // The address book changes meanwhile (a contact made slowly, a reload): the field is
    // rendered anew.
    Service::currentService()->loadContacts();
    settle();
    EXPECT_EQ(field()->textCursor().selectedText(), candidate.mid(2));
    typeToFocus(QStringLiteral("f"));
    EXPECT_EQ(shownText(), QStringLiteral("<%Family>kof"));
}

TEST_F(KeyboardTest, OnePastesNewContactsGetNamesOfTheirOwn) {
    ASSERT_NO_FATAL_FAILURE(activate(field()));
    QGuiApplication::clipboard()->setText(QStringLiteral("pat@one.example, pat@two.example"));
    keyToFocus(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(shownText(), QStringLiteral("<pat@one.example><pat@two.example>"));
    EXPECT_EQ(shared(), (QStringList {QStringLiteral("pat@one.example"), QStringLiteral("pat@two.example")}));
    settle();
    QStringList made {serverEntry(QStringLiteral("Pat")).value(ContactKey::Email).toString(),
        serverEntry(QStringLiteral("Pat-1")).value(ContactKey::Email).toString()};
    made.sort();
    EXPECT_EQ(made, (QStringList {QStringLiteral("pat@one.example"), QStringLiteral("pat@two.example")}));
    // In the order pasted, once the server has made both.
    EXPECT_EQ(shownText(), QStringLiteral("<pat@one.example><pat@two.example>"));
    // Each can be edited: no other contact has its name.
    area->editRow(rowOf(QStringLiteral("Pat-1")));
    ASSERT_NE(area->personVC(), nullptr);
    area->personVC()->emailField()->setText(QStringLiteral("pat@three.example"));
    area->personVC()->save();
    EXPECT_TRUE(balloonText().isEmpty());
    EXPECT_EQ(serverEntry(QStringLiteral("Pat-1")).value(ContactKey::Email).toString(),
        QStringLiteral("pat@three.example"));
}

TEST_F(KeyboardTest, GroupsAndAddressesDifferingInCaseAndStraySeparatorsMakeNoBubbles) {
    ScopedFakeClock fake;
    ASSERT_NO_FATAL_FAILURE(activate(field()));
    typeToFocus(QStringLiteral("%Family,%family,"));
    EXPECT_EQ(shownText(), QStringLiteral("<%Family>"));
    typeToFocus(QStringLiteral("ann@example.net;ANN@example.net;"));
    EXPECT_EQ(shownText(), QStringLiteral("<%Family><ann@example.net>"));
    // Separators after a bubble end nothing and stay nowhere.
    typeToFocus(QStringLiteral(",; ,"));
    EXPECT_EQ(shownText().trimmed(), QStringLiteral("<%Family><ann@example.net>"));
    keyToFocus(Qt::Key_Return);
    EXPECT_TRUE(balloonText().isEmpty());
    EXPECT_EQ(shared(), (QStringList {QStringLiteral("%Family"), QStringLiteral("ann@example.net")}));
}

} // namespace
} // namespace lf::test
