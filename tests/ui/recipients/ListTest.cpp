#include "RecipientsFixture.h"

#include "recipients/GroupSheets.h"
#include "recipients/LFAddressField.h"
#include "recipients/MacBubbleEditor.h"
#include "recipients/PersonVC.h"

#include "foundation/NotificationCenter.h"
#include "session/AddressBookSync.h"
#include "session/Service.h"
#include "share/ShareTask.h"
#include "shell/Scripting.h"
#include "toolkit/LFTheme.h"

#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace lf::test {
namespace {

using ListTest = RecipientsTest;

QString email(const QVariantMap &entry) {
    return entry.value(ContactKey::Email).toString();
}

TEST_F(ListTest, RowsAreEveryEntryMostRecentFirstAndClicksToggleRecipients) {
    const QVariantList contacts = area->contacts();
    EXPECT_EQ(area->table()->count(), contacts.size());
    for (qsizetype i = 1; i < contacts.size(); ++i)
        EXPECT_GE(contacts.at(i - 1).toMap().value(ContactKey::LastUsed).toDouble(),
            contacts.at(i).toMap().value(ContactKey::LastUsed).toDouble());
    EXPECT_GE(rowOf(QStringLiteral("Family")), 0);
    EXPECT_FALSE(area->firstUseOverlay()->isVisible());

    const int kofi = rowOf(QStringLiteral("Kofi Mensah"));
    const int family = rowOf(QStringLiteral("Family"));
    area->clickedRow(kofi);
    EXPECT_EQ(shownText(), QStringLiteral("<kofi@example.org>"));
    EXPECT_FALSE(area->createGroupButton()->isVisibleTo(area));
    area->clickedRow(family);
    EXPECT_EQ(shownText(), QStringLiteral("<kofi@example.org><%Family>"));
    EXPECT_TRUE(area->createGroupButton()->isVisibleTo(area));
    area->clickedRow(kofi);
    EXPECT_EQ(ShareTask::singleton()->recipients()->list(), QStringList {QStringLiteral("%Family")});
    EXPECT_FALSE(area->createGroupButton()->isVisibleTo(area));
}

TEST_F(ListTest, AnAddressTypedBeforeShareBecomesAServerContact) {
    area->clickedRow(rowOf(QStringLiteral("Kofi Mensah")));
    // Typed without a separator or Return: Share must not lose it.
    typeAddress(QStringLiteral("newbie@example.net"));
    area->syncTableToRecipients(true);
    EXPECT_EQ(ShareTask::singleton()->recipients()->list(),
        (QStringList {QStringLiteral("kofi@example.org"), QStringLiteral("newbie@example.net")}));
    const QVariantMap created = serverEntry(QStringLiteral("Newbie"));
    EXPECT_EQ(email(created), QStringLiteral("newbie@example.net"));
    // One request for it, however many parses reported it.
    EXPECT_EQ(requestCount(QStringLiteral("POST"), QStringLiteral("/api/user_address_book_entries")), 1);
    settle();
    EXPECT_EQ(area->tableSelection().size(), 2);
    EXPECT_TRUE(area->tableSelection().contains(rowOf(QStringLiteral("Newbie"))));
}

TEST_F(ListTest, ARowClickedWhileANewAddressAwaitsItsContactKeepsTheAddress) {
    // Typed without a separator: the click finishes it.
    typeAddress(QStringLiteral("newbie@example.net"));
    // Before the server has made the address a contact it has no row; the click must not drop it.
    area->clickedRow(rowOf(QStringLiteral("Family")));
    const QStringList both {QStringLiteral("newbie@example.net"), QStringLiteral("%Family")};
    EXPECT_EQ(ShareTask::singleton()->recipients()->list(), both);
    settle();
    EXPECT_EQ(ShareTask::singleton()->recipients()->list(), both);
    EXPECT_EQ(shownText(), QStringLiteral("<newbie@example.net><%Family>"));

    // Once it has its row, unselecting the row takes it away.
    ASSERT_TRUE(area->tableSelection().contains(rowOf(QStringLiteral("Newbie"))));
    area->clickedRow(rowOf(QStringLiteral("Newbie")));
    EXPECT_EQ(ShareTask::singleton()->recipients()->list(), QStringList {QStringLiteral("%Family")});
}

TEST_F(ListTest, AnAddressBookReloadKeepsTheEntryBeingTyped) {
    area->clickedRow(rowOf(QStringLiteral("Kofi Mensah")));
    typeAddress(QStringLiteral("car"));
    Service::currentService()->loadContacts();
    settle();
    EXPECT_EQ(shownText(), QStringLiteral("<kofi@example.org>car"));
}

TEST_F(ListTest, AGroupMadeFromThreeRowsReachesTheServerAndReplacesItsMembers) {
    for (const char *name : {"Kofi Mensah", "Hana Sato", "Carla Mendes"})
        area->clickedRow(rowOf(QLatin1String(name)));
    ASSERT_TRUE(area->createGroupButton()->isVisibleTo(area));
    area->createGroupButton()->click();
    CreateGroupWC *sheet = area->createGroupSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->list()->count(), 3);
    EXPECT_EQ(sheet->height(), sheet->baseHeight() + CreateGroupWC::kRowGrowth);
    // No name, no saving.
    EXPECT_FALSE(sheet->saveButton()->isEnabled());
    EXPECT_FALSE(sheet->editGroupLink()->isEnabled());
    sheet->nameField()->setText(QString(300, QLatin1Char('n')));
    EXPECT_EQ(sheet->groupName().size(), kGroupNameLimit);
    EXPECT_TRUE(sheet->saveButton()->isEnabled());
    sheet->nameField()->setText(QStringLiteral("Hikers"));
    sheet->saveButton()->click();
    EXPECT_FALSE(sheet->isVisible());
    settle();

    const QVariantList contacts = serverContacts();
    QVariantMap hikers;
    for (const QVariant &item : contacts) {
        if (item.toMap().value(ContactKey::Name) == QStringLiteral("Hikers"))
            hikers = item.toMap();
    }
    ASSERT_FALSE(hikers.isEmpty());
    EXPECT_EQ(memberEmails(hikers, contacts),
        (QStringList {QStringLiteral("carla@example.org"), QStringLiteral("hana.sato@example.org"),
            QStringLiteral("kofi@example.org")}));
    EXPECT_EQ(ShareTask::singleton()->recipients()->list(), QStringList {QStringLiteral("%Hikers")});
    EXPECT_EQ(shownText(), QStringLiteral("<%Hikers>"));

    // The name is taken now: the sheet stays open with its contents.
    area->clickedRow(rowOf(QStringLiteral("Kofi Mensah")));
    area->doGroup();
    area->createGroupSheet()->nameField()->setText(QStringLiteral("hikers"));
    area->createGroupSheet()->saveButton()->click();
    EXPECT_TRUE(area->createGroupSheet()->isVisible());
    EXPECT_FALSE(balloonText().isEmpty());
}

TEST_F(ListTest, TheGroupEditorMovesMembersAndAddsTypedAddresses) {
    area->editRow(rowOf(QStringLiteral("Book Club")));
    EditGroupWC *sheet = area->editGroupSheet();
    ASSERT_NE(sheet, nullptr);
    // A member whose contact is gone shows by its guid; no group and no member on the left.
    QStringList members;
    for (const QVariant &p : sheet->people())
        members.append(p.toMap().value(ContactKey::Name).toString());
    EXPECT_TRUE(members.contains(QStringLiteral("0DEADBEE-F000-4000-8000-00000000DEAD")));
    for (const QVariant &c : sheet->contacts()) {
        EXPECT_FALSE(c.toMap().contains(ContactKey::Group));
        EXPECT_NE(email(c.toMap()), QStringLiteral("hana.sato@example.org"));
    }
    EXPECT_TRUE(sheet->deleteLink()->isVisible() || !sheet->isVisible());
    EXPECT_TRUE(sheet->saveButton()->isEnabled());

    // Everyone back to the left: nothing to save.
    sheet->select(false);
    EXPECT_TRUE(sheet->people().isEmpty());
    EXPECT_FALSE(sheet->saveButton()->isEnabled());

    // A contact's address moves it across; a member's address adds nothing.
    sheet->contactField()->setText(QStringLiteral("KOFI@example.org"));
    sheet->finishContactEntry();
    ASSERT_EQ(sheet->people().size(), 1);
    EXPECT_TRUE(sheet->saveButton()->isEnabled());
    sheet->contactField()->setText(QStringLiteral("kofi@example.org"));
    sheet->finishContactEntry();
    EXPECT_EQ(sheet->people().size(), 1);
    EXPECT_TRUE(sheet->contactField()->text().isEmpty());
    // A word that is no address: the balloon, the lists unchanged.
    sheet->contactField()->setText(QStringLiteral("kofi"));
    sheet->finishContactEntry();
    EXPECT_EQ(sheet->people().size(), 1);
    EXPECT_FALSE(balloonText().isEmpty());

    // A new address becomes a server contact named as typed, then a member.
    sheet->contactField()->setText(QStringLiteral("Ann <ann.new@example.net>"));
    sheet->finishContactEntry();
    ASSERT_TRUE(waitUntil([sheet] { return !sheet->busy(); }));
    ASSERT_EQ(sheet->people().size(), 2);
    EXPECT_EQ(sheet->people().at(1).toMap().value(ContactKey::Name).toString(), QStringLiteral("Ann"));
    EXPECT_EQ(email(serverEntry(QStringLiteral("Ann"))), QStringLiteral("ann.new@example.net"));

    sheet->saveButton()->click();
    EXPECT_FALSE(sheet->isVisible());
    const QVariantList contacts = serverContacts();
    for (const QVariant &item : contacts) {
        if (item.toMap().value(ContactKey::Name) == QStringLiteral("Book Club")) {
            EXPECT_EQ(memberEmails(item.toMap(), contacts),
                (QStringList {QStringLiteral("ann.new@example.net"), QStringLiteral("kofi@example.org")}));
        }
    }
}

TEST_F(ListTest, ScriptedAddressBookCommandsReachTheServer) {
    NotificationCenter &center = NotificationCenter::defaultCenter();
    center.post(QLatin1String(kContactCreatedNotification),
        QVariantMap {{"name", "Script Pal"}, {"email", "pal@example.net"}});
    EXPECT_EQ(email(serverEntry(QStringLiteral("Script Pal"))), QStringLiteral("pal@example.net"));

    center.post(QLatin1String(kScriptCommandNotification), {},
        {{"command", "createGroup"},
            {"parameter",
                QVariantMap {{"name", "Pals"}, {"members", QStringList {"Script Pal", "Ivan Petrov"}}}}});
    const QVariantMap pals = serverEntry(QStringLiteral("Pals"));
    ASSERT_FALSE(pals.isEmpty());
    EXPECT_EQ(memberEmails(pals, serverContacts()),
        (QStringList {QStringLiteral("ivan@example.org"), QStringLiteral("pal@example.net")}));

    // A new group takes its members' place among the recipients, or joins them.
    EXPECT_EQ(ShareTask::singleton()->recipients()->list(), QStringList {QStringLiteral("%Pals")});
    center.post(QLatin1String(kRecipientAddedNotification), QVariantMap {{"name", "julia weber"}});
    center.post(QLatin1String(kRecipientAddedNotification), QVariantMap {{"email", "%Pals"}});
    // Named as the field shows it, a group is found by that too.
    center.post(QLatin1String(kRecipientAddedNotification), QVariantMap {{"name", "%Family"}});
    EXPECT_EQ(ShareTask::singleton()->recipients()->list(),
        (QStringList {
            QStringLiteral("%Pals"), QStringLiteral("julia.weber@example.org"), QStringLiteral("%Family")}));
    EXPECT_EQ(shownText(), QStringLiteral("<%Pals><julia.weber@example.org><%Family>"));
    EXPECT_EQ(area->tableSelection().size(), 3);
    center.post(QLatin1String(kRecipientDeletedNotification), 7);
    center.post(QLatin1String(kRecipientDeletedNotification), 0);
    EXPECT_EQ(shownText(), QStringLiteral("<julia.weber@example.org><%Family>"));

    center.post(QLatin1String(kScriptCommandNotification), {},
        {{"command", "contactDeleted"}, {"parameter", "Script Pal"}});
    EXPECT_TRUE(serverEntry(QStringLiteral("Script Pal")).isEmpty());
    // The group lost its only member but one; it stays with the other.
    EXPECT_EQ(memberEmails(serverEntry(QStringLiteral("Pals")), serverContacts()),
        QStringList {QStringLiteral("ivan@example.org")});
}

TEST_F(ListTest, DeletingAGroupsLastMemberDeletesTheGroupAndItsRecipient) {
    NotificationCenter &center = NotificationCenter::defaultCenter();
    center.post(QLatin1String(kScriptCommandNotification), {},
        {{"command", "createGroup"},
            {"parameter", QVariantMap {{"name", "Solo"}, {"members", QStringList {"Ivan Petrov"}}}}});
    ASSERT_FALSE(serverEntry(QStringLiteral("Solo")).isEmpty());
    ASSERT_EQ(ShareTask::singleton()->recipients()->list(), QStringList {QStringLiteral("%Solo")});

    center.post(QLatin1String(kScriptCommandNotification), {},
        {{"command", "contactDeleted"}, {"parameter", "Ivan Petrov"}});
    EXPECT_TRUE(serverEntry(QStringLiteral("Solo")).isEmpty());
    EXPECT_TRUE(ShareTask::singleton()->recipients()->list().isEmpty());
    EXPECT_TRUE(field()->document()->isEmpty());
    EXPECT_EQ(rowOf(QStringLiteral("Solo")), -1);
}

TEST_F(ListTest, TheKeyboardTogglesRowsAndTheCreateSheetHandsOverToTheEditor) {
    area->table()->setFocus();
    area->table()->setCurrentRow(rowOf(QStringLiteral("Hana Sato")));
    key(area->table(), Qt::Key_Space, QStringLiteral(" "));
    area->table()->setCurrentRow(rowOf(QStringLiteral("Kofi Mensah")));
    key(area->table(), Qt::Key_Return);
    EXPECT_EQ(area->tableSelection().size(), 2);
    area->doGroup();
    CreateGroupWC *create = area->createGroupSheet();
    create->nameField()->setText(QStringLiteral("Walkers"));
    // Escape is Cancel: the owner ends the sheet.
    key(create, Qt::Key_Escape);
    EXPECT_FALSE(create->isVisible());

    area->doGroup();
    create = area->createGroupSheet();
    create->nameField()->setText(QStringLiteral("Walkers"));
    create->editGroupLink()->click();
    EXPECT_FALSE(create->isVisible());
    EditGroupWC *editor = area->editGroupSheet();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->groupName(), QStringLiteral("Walkers"));
    EXPECT_EQ(editor->people().size(), 2);
    EXPECT_FALSE(editor->deleteLink()->isVisibleTo(editor));
    editor->saveButton()->click();
    EXPECT_EQ(memberEmails(serverEntry(QStringLiteral("Walkers")), serverContacts()),
        (QStringList {QStringLiteral("hana.sato@example.org"), QStringLiteral("kofi@example.org")}));
}

TEST_F(ListTest, TheContactEditorSavesAndRefusesATakenAddress) {
    area->editRow(rowOf(QStringLiteral("Ivan Petrov")));
    PersonVC *editor = area->personVC();
    ASSERT_NE(editor, nullptr);
    editor->emailField()->setText(QStringLiteral("not an address"));
    editor->emailField()->textEdited(editor->emailField()->text());
    EXPECT_FALSE(editor->saveButton()->isEnabled());
    editor->emailField()->setText(QStringLiteral("carla@example.org"));
    editor->emailField()->textEdited(editor->emailField()->text());
    editor->save();
    EXPECT_TRUE(editor->isVisible());
    EXPECT_FALSE(balloonText().isEmpty());
    editor->emailField()->setText(QStringLiteral("ivan.p@example.org"));
    editor->nameField()->setText(QStringLiteral("Ivan P"));
    editor->save();
    EXPECT_EQ(email(serverEntry(QStringLiteral("Ivan P"))), QStringLiteral("ivan.p@example.org"));
}

TEST_F(ListTest, RowTextKeepsTheThemeColoursAndIsReadableInEveryState) {
    // The text colours are the theme's; what they are drawn on is chosen for 4.5:1.
    for (const bool selected : {false, true}) {
        for (const bool hover : {false, true}) {
            const MRUTableController::RowColours row = MRUTableController::rowColours(selected, hover);
            EXPECT_EQ(row.text, selected ? LFTheme::tableTextSelectedColor() : LFTheme::tableTextColor());
            EXPECT_EQ(row.background.alpha(), 255);
            EXPECT_GE(contrastRatio(row.text, row.background), 4.5)
                << "selected " << selected << " hover " << hover;
        }
    }
    EXPECT_GE(contrastRatio(LFTheme::buttonTextColor(), LFTheme::primaryColor()), 4.5) << "the edit label";
    // The hover background shows against the list.
    EXPECT_GE(contrastRatio(LFTheme::tableHoverColor(), LFTheme::listBackgroundColor()), 1.2);

    // What is painted: an unselected row's empty end is the list's own background.
    area->window()->resize(560, 720);
    const QImage shot = area->table()->viewport()->grab().toImage();
    const QRect row = area->table()->visualItemRect(area->table()->item(0));
    ASSERT_FALSE(row.isEmpty());
    EXPECT_EQ(shot.pixelColor(shot.width() - 1,
                      row.center().y() * shot.height() / area->table()->viewport()->height())
                  .rgb(),
        LFTheme::listBackgroundColor().rgb());
}

TEST_F(ListTest, SigningOutEmptiesTheListAndTheField) {
    area->clickedRow(0);
    typeAddress(QStringLiteral("half"));
    app->doSignOut();
    EXPECT_EQ(area->table()->count(), 0);
    EXPECT_TRUE(field()->document()->isEmpty());
    EXPECT_TRUE(area->builtinSites().isEmpty());
    EXPECT_TRUE(area->firstUseOverlay()->isVisibleTo(area));
}

} // namespace
} // namespace lf::test
