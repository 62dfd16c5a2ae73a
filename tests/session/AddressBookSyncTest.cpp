// The server address book on the session, against the reference server.
#include "session/AddressBookSync.h"

#include "contacts/AddressBookUtil.h"
#include "foundation/Clock.h"
#include "foundation/Workers.h"
#include "support/SessionFixture.h"

using namespace lf;
using namespace lf::test;

namespace {

QVariantMap findByName(const QVariantList &list, const QString &name) {
    for (const QVariant &item : list) {
        if (item.toMap().value("name").toString() == name)
            return item.toMap();
    }
    return {};
}

double reference(const QDateTime &t) {
    return AddressBookSync::referenceSeconds(t);
}

} // namespace

TEST(AddressBookTimeStampTest, ConvertsZonesDormantAndMissingTimes) {
    ScopedFakeClock fake;
    bool disco = true;
    auto seconds = [](const QString &text, bool *flag = nullptr) {
        auto out = AddressBookSync::updateContactTimeStamp({{"last_used", text}}, flag);
        return out ? out->value("last_used").toDouble() : -12345.0;
    };
    // Offsets with and without the colon, and Z, land on the same instant.
    const double utc = reference(QDateTime(QDate(2000, 6, 1), QTime(10, 0), Qt::UTC));
    EXPECT_LT(utc, 0);
    EXPECT_DOUBLE_EQ(seconds("2000-06-01T12:00:00+02:00"), utc);
    EXPECT_DOUBLE_EQ(seconds("2000-06-01T12:00:00+0200"), utc);
    EXPECT_DOUBLE_EQ(seconds("2000-06-01T10:00:00Z"), utc);
    EXPECT_DOUBLE_EQ(seconds("2000-06-01T05:00:00-05:00"), utc);
    // Before 1970: flagged and zeroed, or dropped without a flag.
    EXPECT_DOUBLE_EQ(seconds("1969-12-31T23:59:59Z", &disco), 0);
    EXPECT_TRUE(disco);
    EXPECT_FALSE(AddressBookSync::updateContactTimeStamp({{"last_used", "1969-12-31T23:59:59Z"}}));
    EXPECT_DOUBLE_EQ(
        seconds("1970-01-01T00:00:00Z", &disco), reference(QDateTime::fromSecsSinceEpoch(0, Qt::UTC)));
    EXPECT_FALSE(disco);
    // Unreadable text is the reference date; a missing or short value is now.
    EXPECT_DOUBLE_EQ(seconds("yesterday"), 0);
    EXPECT_DOUBLE_EQ(seconds("2024"), reference(fake.clock.now()));
    EXPECT_DOUBLE_EQ(AddressBookSync::updateContactTimeStamp({{"name", "x"}})->value("last_used").toDouble(),
        reference(fake.clock.now()));

    QVariantMap entry;
    AddressBookSync::timeStampNow(entry);
    EXPECT_EQ(entry.value("last_used").toString(), "2026-01-01T12:00:00Z");
}

class AddressBookSyncTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        signIn();
        book().loadContacts();
        ASSERT_TRUE(waitFor(kServiceUpdateContactsNotification));
        devCall("POST", "/__dev/reset");
        log->clear();
    }
    Service &book() { return *service; }
    QVariantMap contact(const QString &name) { return findByName(book().contacts(), name); }
    QVariantMap lastChange() { return posted(kServiceUpdateContactsNotification).last().object.toMap(); }
};

TEST_F(AddressBookSyncTest, LoadKeepsDormantApartAndFillsGroups) {
    const QVariantList list = book().xcontacts();
    ASSERT_EQ(list.size(), 13); // eleven contacts, then two groups
    EXPECT_FALSE(list.at(10).toMap().contains("GROUP"));
    EXPECT_TRUE(list.at(11).toMap().value("GROUP").toBool());
    EXPECT_TRUE(list.at(12).toMap().value("GROUP").toBool());

    const QVariantList disco = book().discoContacts();
    ASSERT_EQ(disco.size(), 1);
    EXPECT_EQ(disco.first().toMap().value("email").toString(), "old.pal@example.org");
    EXPECT_EQ(disco.first().toMap().value("last_used").toDouble(), 0);
    EXPECT_TRUE(book().contactsDictionary().contains(disco.first().toMap().value("guid").toString()));

    EXPECT_DOUBLE_EQ(contact("Julia Weber").value("last_used").toDouble(),
        reference(QDateTime(QDate(2000, 6, 1), QTime(10, 0), Qt::UTC)));
    EXPECT_EQ(contact("Family").value("members").toString(), "Ann Friend, Bob Friend, Carla Mendes");
    EXPECT_EQ(contact("Book Club").value("members").toString(), "Elena Rossi, Hana Sato, (missing)");
    EXPECT_EQ(book().contactIndex(contact("Family")), 11);
    EXPECT_EQ(book().contactIndex({{"guid", "nope"}}), -1);
}

TEST_F(AddressBookSyncTest, FailedLoadEmptiesTheListsAndPostsOnlyTheLoad) {
    fault("GET", "/api/user_address_book_entries", {QJsonObject {{"status", 500}}});
    book().setContactsDirty(true);
    EXPECT_TRUE(service->xcontacts().isEmpty());
    EXPECT_TRUE(book().discoContacts().isEmpty());
    EXPECT_TRUE(book().contactsDictionary().isEmpty());
    EXPECT_FALSE(book().contactsDirty());
    ASSERT_TRUE(waitFor(kServiceUpdateContactsNotification));
    Workers::instance().waitForAll();
    deliverMainThreadWork();
    EXPECT_EQ(lastChange().value(kServiceUpdateContactsWhat).toString(), ContactWhat::Load);
    EXPECT_EQ(lastChange().size(), 1);
    EXPECT_TRUE(posted(kServiceActionErrorNotification).isEmpty());
}

TEST_F(AddressBookSyncTest, DuplicatesAreRefusedBeforeAnythingIsSent) {
    EXPECT_EQ(service->addContact({{"name", "ANN FRIEND"}, {"email", "new@example.org"}}), kContactNameClash);
    EXPECT_EQ(service->addContact({{"name", "Someone"}, {"email", "Carla@EXAMPLE.org"}}), kContactEmailClash);
    QVariantMap carla = contact("Carla Mendes");
    carla["name"] = "carla mendes"; // renaming to one's own name
    QVariantMap clash = contact("Carla Mendes");
    clash["name"] = "Bob Friend";
    EXPECT_EQ(service->updateContact(clash), kContactNameClash);
    // Groups and contacts are checked apart.
    EXPECT_EQ(service->addGroup({{"name", "family"}, {"entries", QVariantList {}}}), kContactNameClash);
    EXPECT_EQ(service->updateGroup({{"guid", "other"}, {"name", "Book club"}}), kContactNameClash);
    EXPECT_TRUE(requestLines().isEmpty());

    EXPECT_EQ(service->updateContact(carla), kContactChangeStarted);
    EXPECT_TRUE(carla.value("last_used").toString().endsWith('Z')); // the caller's entry is stamped
    EXPECT_EQ(service->addGroup(
                  {{"name", "Ann Friend"}, {"entries", QVariantList {contact("Ann Friend").value("guid")}}}),
        kContactChangeStarted);
    ASSERT_TRUE(waitFor(kServiceUpdateContactsNotification, 2));
    EXPECT_EQ(contact("carla mendes").value("guid"), carla.value("guid"));
    EXPECT_EQ(book().contacts().first().toMap().value("members").toString(), "Ann Friend");
}

TEST_F(AddressBookSyncTest, AddingTheAddressOfADormantEntryAdoptsIt) {
    const QString dormantGuid = book().discoContacts().first().toMap().value("guid").toString();
    EXPECT_EQ(service->addContact({{"name", "Pal Again"}, {"email", "OLD.PAL@example.org"}}),
        kContactChangeStarted);
    ASSERT_TRUE(waitFor(kServiceUpdateContactsNotification));
    EXPECT_EQ(lastChange().value(kServiceUpdateContactsWhat).toString(), ContactWhat::Add);
    const QVariantMap front = book().contacts().first().toMap();
    EXPECT_EQ(front.value("guid").toString(), dormantGuid);
    EXPECT_EQ(front.value("name").toString(), "Pal Again");
    EXPECT_GT(front.value("last_used").toDouble(), 0);
    EXPECT_FALSE(front.contains("EDITED"));
    EXPECT_TRUE(book().discoContacts().isEmpty());
    EXPECT_EQ(requestLines(), QStringList {"PUT /api/user_address_book_entries/" + dormantGuid + "/"});
}

TEST_F(AddressBookSyncTest, AddDeleteAndServerRefusals) {
    EXPECT_EQ(service->addContact({{"name", "Nia"}, {"email", "nia@example.org"}}), kContactChangeStarted);
    ASSERT_TRUE(waitFor(kServiceUpdateContactsNotification));
    EXPECT_EQ(lastChange().value(kServiceUpdateContactsWhat).toString(), ContactWhat::Add);
    EXPECT_EQ(book().contacts().first().toMap().value("email").toString(), "nia@example.org");
    EXPECT_EQ(book().contactIndex(lastChange()), 0);

    // The server refuses an address it cannot use: the windows hear it, the lists stay.
    EXPECT_EQ(service->addContact({{"name", "Bad"}, {"email", "not an address"}}), kContactChangeStarted);
    ASSERT_TRUE(waitFor(kServiceActionErrorNotification));
    const QVariantMap error = posted(kServiceActionErrorNotification).first().object.toMap();
    EXPECT_EQ(error.value(kServiceActionErrorWhat).toString(), ContactActionError::AddContact);
    EXPECT_EQ(error.value("httpstatus").toInt(), 422);
    EXPECT_EQ(book().contacts().size(), 14);

    Workers::instance().waitForAll(10000);
    devCall("POST", "/__dev/reset");
    EXPECT_EQ(service->deleteContact({{"guid", "unknown"}, {"email", "x@y.z"}}), 0);
    const QVariantMap nia = book().contacts().first().toMap();
    EXPECT_EQ(service->deleteContact(nia), 0);
    EXPECT_EQ(book().contactIndex(nia), -1); // gone at once, before the server answers
    Workers::instance().waitForAll(10000);
    EXPECT_EQ(requestLines(),
        QStringList {"DELETE /api/user_address_book_entries/" + nia.value("guid").toString()});
    ASSERT_TRUE(waitFor(kServiceUpdateContactsNotification, 2));
    EXPECT_EQ(lastChange().value(kServiceUpdateContactsWhat).toString(), ContactWhat::Delete);
}

TEST_F(AddressBookSyncTest, GroupUpdateRefreshAndDelete) {
    QVariantMap family = contact("Family");
    family["name"] = "Kin";
    family["entries"] = QVariantList {contact("Kofi Mensah").value("guid"), "gone-guid"};
    EXPECT_EQ(service->updateGroup(family), kContactChangeStarted);
    ASSERT_TRUE(waitFor(kServiceUpdateContactsNotification));
    EXPECT_EQ(lastChange().value(kServiceUpdateContactsWhat).toString(), ContactWhat::GroupUpdate);
    EXPECT_EQ(contact("Kin").value("members").toString(), "Kofi Mensah, (missing)");
    EXPECT_EQ(book().contactIndex(family), 11);

    service->refreshContact(contact("Ivan Petrov"));
    ASSERT_TRUE(waitFor(kServiceUpdateContactsNotification, 2));
    EXPECT_EQ(lastChange().value(kServiceUpdateContactsWhat).toString(), ContactWhat::Refresh);

    service->deleteGroup(family.value("guid").toString());
    EXPECT_TRUE(contact("Kin").isEmpty());
    Workers::instance().waitForAll(10000);
    EXPECT_TRUE(
        requestLines().contains("DELETE /api/address_book_groups/" + family.value("guid").toString()));
    EXPECT_TRUE(demoState().value("groups").toArray().size() == 1);
}

TEST_F(AddressBookSyncTest, SortingAndSignOut) {
    book().sortContacts([](const QVariantMap &a, const QVariantMap &b) {
        return a.value("last_used").toDouble() > b.value("last_used").toDouble();
    });
    const QVariantList sorted = book().contacts();
    EXPECT_EQ(sorted.size(), 13);
    for (qsizetype i = 1; i < sorted.size(); ++i)
        EXPECT_GE(sorted.at(i - 1).toMap().value("last_used").toDouble(),
            sorted.at(i).toMap().value("last_used").toDouble());
    EXPECT_EQ(book().contactIndex(contact("Julia Weber")), 12); // used in 2000: last
    service->disconnect();
    EXPECT_TRUE(book().contacts().isEmpty());
    EXPECT_TRUE(book().discoContacts().isEmpty());
}

TEST_F(AddressBookSyncTest, CompletionWhileTheListIsReloadedSeesWholeLists) {
    AddressBookUtil::Sources sources;
    sources.contacts = [this] { return book().contacts(); };
    sources.discoContacts = [this] { return book().discoContacts(); };
    sources.destinations = [] { return QVariantList {}; };
    AddressBookUtil util(sources);
    const QString expected = util.autoFillAddress("a", true, {});
    const QStringList whole = util.matching();
    ASSERT_EQ(whole, QStringList {"ann.friend@lanternfish.test"});
    std::atomic<bool> done {false};
    Workers::instance().start("reloads", [&] {
        for (int i = 0; i < 15; ++i)
            book().loadContacts();
        done = true;
    });
    int runs = 0;
    while (!done || runs < 20) {
        util.autoFillAddress("a", true, {});
        ASSERT_EQ(util.matching(), whole);
        ASSERT_EQ(book().contacts().size(), 13);
        ++runs;
    }
    Workers::instance().waitForAll(10000);
}
