// Site icons, groups known by their guid, the group editor's keyboard, scripts' recipients and
// the list as assistive technology reads it.
#include "RecipientsFixture.h"

#include "recipients/GroupSheets.h"
#include "recipients/LFAddressPicker.h"
#include "recipients/PersonVC.h"
#include "shell/MainWindow.h"

#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Strings.h"
#include "session/AddressBookSync.h"
#include "session/Service.h"
#include "share/ShareTask.h"
#include "shell/MainController.h"
#include "shell/Scripting.h"
#include "toolkit/ClockTimer.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

namespace lf::test {
namespace {

using SitesAndGroupsTest = RecipientsTest;

QStringList shared() {
    return ShareTask::singleton()->recipients()->list();
}

QList<QToolButton *> siteIcons(MRUTableController *area) {
    return area->siteStrip()->findChildren<QToolButton *>();
}

TEST_F(SitesAndGroupsTest, AGroupAmongTheRecipientsIsKnownByItsGuid) {
    // An editor opened and cancelled leaves nothing behind that a later change could act on.
    area->editRow(rowOf(QStringLiteral("Family")));
    area->editGroupSheet()->cancelButton()->click();
    area->clickedRow(rowOf(QStringLiteral("Family")));
    ASSERT_EQ(shared(), QStringList {QStringLiteral("%Family")});
    // Editing a contact updates every group holding it (Hana is in the Book Club).
    area->editRow(rowOf(QStringLiteral("Hana Sato")));
    area->personVC()->nameField()->setText(QStringLiteral("Hana S"));
    area->personVC()->save();
    settle();
    EXPECT_EQ(shared(), QStringList {QStringLiteral("%Family")});
    EXPECT_EQ(shownText(), QStringLiteral("<%Family>"));

    // Renamed, the group keeps its place among the recipients under its new name.
    area->clickedRow(rowOf(QStringLiteral("Kofi Mensah")));
    area->editRow(rowOf(QStringLiteral("Family")));
    EditGroupWC *editor = area->editGroupSheet();
    // Sized to the window it belongs to, it reads as part of it.
    EXPECT_LT(editor->width(), app->window()->width());
    EXPECT_LT(editor->height(), app->window()->height());
    editor->nameField()->setText(QStringLiteral("Kin"));
    editor->saveButton()->click();
    settle();
    EXPECT_EQ(shared(), (QStringList {QStringLiteral("%Kin"), QStringLiteral("kofi@example.org")}));
    EXPECT_EQ(shownText(), QStringLiteral("<%Kin><kofi@example.org>"));
    // A group that is not among them changes nothing when renamed.
    area->editRow(rowOf(QStringLiteral("Book Club")));
    area->editGroupSheet()->nameField()->setText(QStringLiteral("Readers"));
    area->editGroupSheet()->saveButton()->click();
    settle();
    EXPECT_EQ(shared(), (QStringList {QStringLiteral("%Kin"), QStringLiteral("kofi@example.org")}));
    EXPECT_EQ(area->tableSelection().size(), 2);
}

TEST_F(SitesAndGroupsTest, SiteIconsComeLinkedFirstAddOnceAndUnlinkFromTheServersAnswer) {
    QStringList linked;
    app->mainController()->setSiteLinker([&](const QString &name, bool contacts, const QString &title) {
        linked << name << QString::number(contacts) << title;
    });
    const QVariantList sites = area->builtinSites();
    ASSERT_EQ(sites.size(), 2);
    EXPECT_EQ(sites[0].toMap().value("name").toString(), QStringLiteral("photostream"));
    EXPECT_EQ(sites[1].toMap().value("name").toString(), QStringLiteral("snapshelf"));
    QList<QToolButton *> icons = siteIcons(area);
    ASSERT_EQ(icons.size(), 2);
    EXPECT_EQ(icons[0]->objectName(), QStringLiteral("@+PhotoStream"));
    EXPECT_EQ(icons[1]->objectName(), QStringLiteral("@-Snapshelf"));

    // A linked site is a recipient, once; one that is not is offered for linking.
    icons[0]->click();
    icons[0]->click();
    EXPECT_EQ(shared(), QStringList {QStringLiteral("@photostream")});
    EXPECT_EQ(shownText(), QStringLiteral("<@photostream>"));
    icons[1]->click();
    EXPECT_EQ(linked,
        (QStringList {QStringLiteral("snapshelf"), QStringLiteral("0"), QStringLiteral("Snapshelf")}));
    EXPECT_EQ(shared(), QStringList {QStringLiteral("@photostream")});

    // Unlinking takes the recipient away at once; the icon follows the server's answer.
    area->siteMenuAction(0);
    EXPECT_TRUE(shared().isEmpty());
    EXPECT_TRUE(field()->document()->isEmpty());
    settle();
    EXPECT_EQ(requestCount(QStringLiteral("DELETE"), QStringLiteral("/sites/photostream")), 1);
    icons = siteIcons(area);
    ASSERT_EQ(icons.size(), 2);
    EXPECT_EQ(icons[0]->objectName(), QStringLiteral("@-PhotoStream"));
    QMenu *menu = icons[0]->findChild<QMenu *>();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->actions().value(1)->text(),
        localizedFormat(QStringLiteral("[LinkTo*]"), {QStringLiteral("PhotoStream")}));
    linked.clear();
    icons[0]->click();
    EXPECT_TRUE(shared().isEmpty());
    EXPECT_EQ(linked.value(0), QStringLiteral("photostream"));
}

TEST_F(SitesAndGroupsTest, TheMemberFieldKeysAsTheAddressField) {
    ScopedFakeClock fake;
    // Two candidates for "kof".
    NotificationCenter::defaultCenter().post(QLatin1String(kContactCreatedNotification),
        QVariantMap {{"name", "Kofi Boateng"}, {"email", "kofi.b@example.net"}});
    settle();
    area->editRow(rowOf(QStringLiteral("Family")));
    EditGroupWC *sheet = area->editGroupSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_NO_FATAL_FAILURE(activate(sheet->contactField()));
    typeToFocus(QStringLiteral("kof"));
    fake.clock.advance(std::chrono::milliseconds(210));
    ClockTimer::checkDueTimers();
    settle();
    LFAddressPicker *picker = sheet->picker();
    ASSERT_TRUE(picker->isVisible());
    const QStringList candidates = picker->addresses();
    ASSERT_GE(candidates.size(), 2);
    // The arrows walk the candidates, into the field.
    keyToFocus(Qt::Key_Down);
    EXPECT_EQ(picker->selectedRow(), 1);
    EXPECT_EQ(sheet->contactField()->text(), candidates[1]);
    keyToFocus(Qt::Key_Up);
    EXPECT_EQ(picker->selectedRow(), 0);
    // Escape closes the pop-up and keeps the sheet with its edits; a second one cancels.
    sheet->nameField()->setText(QStringLiteral("Relatives"));
    sheet->contactField()->setFocus();
    keyToFocus(Qt::Key_Escape);
    EXPECT_FALSE(picker->isVisible());
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->groupName(), QStringLiteral("Relatives"));
    keyToFocus(Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
}

TEST_F(SitesAndGroupsTest, AMemberTypedWithoutReturnIsSavedWithTheGroup) {
    area->editRow(rowOf(QStringLiteral("Family")));
    EditGroupWC *sheet = area->editGroupSheet();
    ASSERT_NO_FATAL_FAILURE(activate(sheet->contactField()));
    typeToFocus(QStringLiteral("walker@example.net"));
    sheet->saveButton()->click();
    ASSERT_TRUE(waitUntil([sheet] { return !sheet->isVisible(); }));
    settle();
    EXPECT_EQ(memberEmails(serverEntry(QStringLiteral("Family")), serverContacts()),
        (QStringList {QStringLiteral("ann.friend@lanternfish.test"),
            QStringLiteral("bob.friend@lanternfish.test"), QStringLiteral("carla@example.org"),
            QStringLiteral("walker@example.net")}));

    // A new group of typed members only can be saved too; an invalid one keeps the sheet open.
    area->editRow(rowOf(QStringLiteral("Book Club")));
    sheet = area->editGroupSheet();
    sheet->select(false);
    sheet->contactField()->setText(QStringLiteral("not an address"));
    sheet->contactField()->textEdited(sheet->contactField()->text());
    ASSERT_TRUE(sheet->saveButton()->isEnabled());
    sheet->saveButton()->click();
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_FALSE(balloonText().isEmpty());
    sheet->cancelButton()->click();
}

TEST_F(SitesAndGroupsTest, AScriptAddsARecipientByNameOnce) {
    NotificationCenter &center = NotificationCenter::defaultCenter();
    for (const char *name : {"julia weber", "Julia Weber"})
        center.post(QLatin1String(kRecipientAddedNotification), QVariantMap {{"name", QLatin1String(name)}});
    center.post(QLatin1String(kRecipientAddedNotification), QVariantMap {{"name", "%family"}});
    center.post(QLatin1String(kRecipientAddedNotification), QVariantMap {{"email", "%Family"}});
    EXPECT_EQ(shared(), (QStringList {QStringLiteral("julia.weber@example.org"), QStringLiteral("%Family")}));
    EXPECT_EQ(shownText(), QStringLiteral("<julia.weber@example.org><%Family>"));
}

TEST_F(SitesAndGroupsTest, EveryRowIsInTheAccessibleTreeAfterAReload) {
    const auto names = [this] {
        QStringList out;
        QAccessibleInterface *list = QAccessible::queryAccessibleInterface(area->table());
        for (int i = 0; list && i < list->childCount(); ++i) {
            QAccessibleInterface *row = list->child(i);
            out.append(row && row->isValid() ? row->text(QAccessible::Name) : QStringLiteral("(gone)"));
        }
        return out;
    };
    const auto rows = [this] {
        QStringList out;
        for (const QVariant &entry : area->contacts())
            out.append(personString(entry.toMap()));
        return out;
    };
    ASSERT_EQ(names(), rows());
    NotificationCenter::defaultCenter().post(QLatin1String(kContactCreatedNotification),
        QVariantMap {{"name", "Script Pal"}, {"email", "pal@example.net"}});
    settle();
    ASSERT_GE(rowOf(QStringLiteral("Script Pal")), 0);
    EXPECT_EQ(names(), rows());
}

} // namespace
} // namespace lf::test
