#include "RecipientsFixture.h"

#include "recipients/LFAddressField.h"
#include "recipients/LFAddressPicker.h"
#include "recipients/MacBubbleEditor.h"

#include "foundation/Clock.h"
#include "foundation/Strings.h"
#include "share/ShareTask.h"
#include "toolkit/ClockTimer.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QListWidget>
#include <QMimeData>

namespace lf::test {
namespace {

using AddressFieldTest = RecipientsTest;

const QString kInvalid = QStringLiteral("[invalidemail]");

TEST_F(AddressFieldTest, SeparatorsFinishEntriesIntoBubbles) {
    // A comma or semicolon takes itself and the following spaces with the bubble.
    typeAddress(QStringLiteral("x1@example.net,  "));
    EXPECT_EQ(shownText(), QStringLiteral("<x1@example.net>  "));
    typeAddress(QStringLiteral("x2@example.net;"));
    EXPECT_EQ(shownText(), QStringLiteral("<x1@example.net><x2@example.net>"));
    // A space ends an entry holding "@"; a name's spaces do not, so the angle form is one entry.
    typeAddress(QStringLiteral("x3@example.net Ann Lee <lee@example.net>"));
    EXPECT_EQ(shownText(),
        QStringLiteral("<x1@example.net><x2@example.net><x3@example.net>Ann Lee <lee@example.net>"));
    key(field(), Qt::Key_Return);
    EXPECT_EQ(
        shownText(), QStringLiteral("<x1@example.net><x2@example.net><x3@example.net><lee@example.net>"));
    // Two separators in a row make no empty entry (and no balloon).
    typeAddress(QStringLiteral("x4@example.net,,;"));
    key(field(), Qt::Key_Return);
    EXPECT_TRUE(balloonText().isEmpty());
    EXPECT_TRUE(shownText().endsWith(QStringLiteral("<x4@example.net>")));
    const QStringList expected {QStringLiteral("x1@example.net"), QStringLiteral("x2@example.net"),
        QStringLiteral("x3@example.net"), QStringLiteral("lee@example.net"),
        QStringLiteral("x4@example.net")};
    EXPECT_EQ(area->bubbleEditor()->recipients(), expected);
    EXPECT_EQ(ShareTask::singleton()->recipients()->list(), expected);
    EXPECT_EQ(area->bubbleEditor()->rawStringValue(),
        QStringLiteral("x1@example.net, x2@example.net, x3@example.net, lee@example.net, x4@example.net, "));
}

TEST_F(AddressFieldTest, GroupsSitesInvalidEntriesAndDuplicates) {
    // A group candidate's comma and spaces sit inside brackets: one entry, the group.
    typeAddress(QStringLiteral("Family [Ann Friend, Bob Friend]"));
    key(field(), Qt::Key_Return);
    EXPECT_EQ(shownText(), QStringLiteral("<%Family>"));
    EXPECT_EQ(area->tableSelection(), QList<int> {rowOf(QStringLiteral("Family"))});
    // The same group typed again, in any case, collapses into the bubble already there.
    typeAddress(QStringLiteral("%family,%Family,"));
    EXPECT_EQ(shownText(), QStringLiteral("<%Family>"));
    // A site that is not linked gets no bubble and stays as typed.
    typeAddress(QStringLiteral("@nowhere"));
    key(field(), Qt::Key_Return);
    EXPECT_EQ(shownText(), QStringLiteral("<%Family>@nowhere"));
    EXPECT_EQ(area->bubbleEditor()->recipients().size(), 1);

    // A word that is no address: the balloon, the entry selected, nothing added.
    area->bubbleEditor()->setText(QStringLiteral("bob"));
    EXPECT_EQ(balloonText(), localizedString(kInvalid));
    EXPECT_EQ(field()->textCursor().selectedText(), QStringLiteral("bob"));
    EXPECT_TRUE(area->bubbleEditor()->recipients().isEmpty());
    // The next edit closes it.
    key(field(), Qt::Key_End);
    typeAddress(QStringLiteral("@example.net"));
    EXPECT_TRUE(balloonText().isEmpty());
    key(field(), Qt::Key_Return);
    EXPECT_EQ(shownText(), QStringLiteral("<bob@example.net>"));
}

TEST_F(AddressFieldTest, CopyGivesAddressesAndPasteIsFlattenedAndParsed) {
    typeAddress(QStringLiteral("a@example.net, b@example.net,"));
    field()->selectAll();
    field()->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("a@example.net, b@example.net, "));

    QGuiApplication::clipboard()->setText(QStringLiteral("c@example.net\nd@example.net\t e@example.net"));
    field()->moveCursor(QTextCursor::End);
    field()->paste();
    EXPECT_EQ(shownText(),
        QStringLiteral("<a@example.net><b@example.net><c@example.net><d@example.net><e@example.net>"));

    // Drops of files are refused; text is taken.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/x.jpg"))});
    files.setText(QStringLiteral("/tmp/x.jpg"));
    field()->insertFromMimeData(&files);
    EXPECT_EQ(area->bubbleEditor()->recipients().size(), 5);
}

TEST_F(AddressFieldTest, ClickingABubbleRemovesItAndDeselectsItsRow) {
    const int ann = rowOf(QStringLiteral("Ann Friend"));
    area->clickedRow(ann);
    EXPECT_EQ(shownText(), QStringLiteral("<ann.friend@lanternfish.test>"));
    typeAddress(QStringLiteral("BOB.friend@lanternfish.test,"));
    // An address differing only in case selects the contact's row.
    const int bob = rowOf(QStringLiteral("Bob Friend"));
    ASSERT_EQ(area->tableSelection(), (QList<int> {qMin(ann, bob), qMax(ann, bob)}));

    const QRect bubble = field()->bubbleRect(0);
    clickAt(field()->viewport(), bubble.center());
    EXPECT_EQ(shownText(), QStringLiteral("<BOB.friend@lanternfish.test>"));
    EXPECT_EQ(area->tableSelection(), QList<int> {bob});
    EXPECT_FALSE(
        ShareTask::singleton()->recipients()->list().contains(QStringLiteral("ann.friend@lanternfish.test")));
}

TEST_F(AddressFieldTest, CompletionWaitsForAPauseAndThePopUpFollowsTheKeys) {
    ScopedFakeClock fake;
    auto advance = [&](int ms) {
        fake.clock.advance(std::chrono::milliseconds(ms));
        ClockTimer::checkDueTimers();
        settle();
    };
    MacBubbleEditor *editor = area->bubbleEditor();
    typeAddress(QStringLiteral("Ann F"));
    advance(150);
    EXPECT_TRUE(editor->completionPending());
    typeAddress(QStringLiteral("r"));
    advance(150);
    // Each keystroke moves the firing 0.2 s on: still nothing.
    EXPECT_TRUE(editor->completionPending());
    EXPECT_EQ(shownText(), QStringLiteral("Ann Fr"));
    advance(60);
    EXPECT_FALSE(editor->completionPending());

    // Type-ahead: the completed tail is selected, so typing on replaces it.
    const QString candidate = QStringLiteral("Ann Friend <ann.friend@lanternfish.test>");
    EXPECT_EQ(shownText(), candidate);
    EXPECT_EQ(field()->textCursor().selectedText(), candidate.mid(6));
    ASSERT_TRUE(area->picker()->isVisible());
    EXPECT_EQ(area->picker()->addresses().value(0), candidate);

    // A backward deletion hides the pop-up and starts nothing.
    key(field(), Qt::Key_Backspace);
    EXPECT_FALSE(area->picker()->isVisible());
    EXPECT_FALSE(editor->completionPending());
    EXPECT_EQ(shownText(), QStringLiteral("Ann Fr"));

    // Arrows walk the candidates, Escape drops the completed part, Return finishes.
    typeAddress(QStringLiteral("i"));
    advance(210);
    ASSERT_TRUE(area->picker()->isVisible());
    key(field(), Qt::Key_Down);
    EXPECT_EQ(area->picker()->selectedRow(), area->picker()->addresses().size() > 1 ? 1 : 0);
    key(field(), Qt::Key_Up);
    EXPECT_EQ(area->picker()->selectedRow(), 0);
    EXPECT_EQ(shownText(), candidate);
    key(field(), Qt::Key_Escape);
    EXPECT_FALSE(area->picker()->isVisible());
    EXPECT_EQ(shownText(), QStringLiteral("Ann Fri"));
    typeAddress(QStringLiteral("end <ann.friend@lanternfish.test>"));
    key(field(), Qt::Key_Return);
    EXPECT_EQ(shownText(), QStringLiteral("<ann.friend@lanternfish.test>"));
    // Finished before the pause: no pop-up follows for the entry that became a bubble, neither
    // from the pending completion nor from one already running.
    EXPECT_FALSE(editor->completionPending());
    advance(210);
    EXPECT_FALSE(area->picker()->isVisible());
    typeAddress(QStringLiteral("carla@example.org"));
    fake.clock.advance(std::chrono::milliseconds(210));
    ClockTimer::checkDueTimers();
    key(field(), Qt::Key_Return);
    settle();
    EXPECT_FALSE(area->picker()->isVisible());
    key(field(), Qt::Key_Backspace);
    EXPECT_EQ(shownText(), QStringLiteral("<ann.friend@lanternfish.test>"));

    // A click on a candidate finishes it into a bubble.
    typeAddress(QStringLiteral("Bob"));
    advance(210);
    ASSERT_TRUE(area->picker()->isVisible());
    area->addressClicked(area->picker()->addresses().value(0), false);
    EXPECT_EQ(shownText(), QStringLiteral("<ann.friend@lanternfish.test><bob.friend@lanternfish.test>"));
    EXPECT_FALSE(area->picker()->isVisible());
}

// A quick typist ends the address and picks a row before the pause: nothing pops up for the
// finished address afterwards, and both stay recipients.
TEST_F(AddressFieldTest, AnAddressFinishedBeforeThePauseGetsNoCompletion) {
    ScopedFakeClock fake;
    typeAddress(QStringLiteral("ann.friend@lanternfish.test, "));
    EXPECT_FALSE(area->bubbleEditor()->completionPending());
    area->clickedRow(rowOf(QStringLiteral("Family")));
    fake.clock.advance(std::chrono::milliseconds(210));
    ClockTimer::checkDueTimers();
    settle();
    EXPECT_FALSE(area->picker()->isVisible());
    EXPECT_EQ(ShareTask::singleton()->recipients()->list(),
        (QStringList {QStringLiteral("ann.friend@lanternfish.test"), QStringLiteral("%Family")}));
    EXPECT_EQ(shownText(), QStringLiteral("<ann.friend@lanternfish.test><%Family>"));
}

} // namespace
} // namespace lf::test
