// Completion and naming over the five sources.
#include "contacts/AddressBookUtil.h"

#include "contacts/VCardReader.h"
#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Workers.h"
#include "support/TempHome.h"
#include "support/Waits.h"

#include <QDir>
#include <QFile>
#include <QMutex>

using namespace lf;
using namespace lf::test;

namespace {

QVariantMap person(const QString &name, const QString &email) {
    return {{"guid", "g-" + email}, {"name", name}, {"email", email}};
}

QVariantMap group(const QString &name, const QString &members) {
    return {{"guid", "g-" + name}, {"name", name}, {"entries", QVariantList {}}, {"members", members},
        {"GROUP", true}};
}

class AddressBookUtilTest : public TempHomeTest {
protected:
    AddressBookUtil::Sources sources() {
        AddressBookUtil::Sources s;
        s.contacts = [this] {
            QMutexLocker lock(&mutex);
            return contacts;
        };
        s.discoContacts = [this] {
            QMutexLocker lock(&mutex);
            return disco;
        };
        s.destinations = [this] { return destinations; };
        s.consumers = [this] { return APIResult(consumers); };
        s.getURI = [this](const QString &url) {
            QMutexLocker lock(&mutex);
            asked.append(url);
            return pages.isEmpty() ? APIResult::networkFailure(-1009, "offline") : pages.takeFirst();
        };
        s.addressBook = people;
        return s;
    }

    QMutex mutex;
    QVariantList contacts {person("Ann Lee", "alee@example.org"), person("Annie", "annie@example.org"),
        person("Bob", "bob@example.org"), group("Family", "Ann Lee, Bob")};
    QVariantList disco {person("Old Pal", "anna.old@example.org")};
    QVariantList destinations {
        QVariantMap {{"name", "photostream"}, {"display_name", "PhotoStream"}, {"connected", true}},
        QVariantMap {{"name", "snapshelf"}, {"display_name", "Snapshelf"}, {"connected", false}}};
    QVariantMap consumers;
    QList<APIResult> pages;
    QStringList asked;
    std::shared_ptr<AddressBookSource> people = std::make_shared<PeopleAddressBook>(QList<AddressBookPerson> {
        {"Ann", "Lee", {}, {}, {"ann.lee@home.example", "ann@work.example", "alee@example.org"}},
        {"Annabel", "Quist", "Bel", {}, {"aq@example.org"}},
        {{}, {}, {}, "Acme", {"info@acme.example"}},
        {{}, "Lee", {}, {}, {"lee@solo.example"}},
        {"Ann", "Lee", {}, {}, {}},
    });
};

APIResult page(int total, const QList<QPair<QString, QString>> &items) {
    QVariantList list;
    for (const auto &[name, email] : items)
        list.append(QVariantMap {
            {"external_contact", QVariantMap {{"name", name}, {"email", email}, {"service", "addressly"}}}});
    return APIResult(QVariantMap {{"total", total}, {"external_contacts", list}});
}

} // namespace

TEST_F(AddressBookUtilTest, CompletionOrderAndFormatsAcrossSources) {
    AddressBookUtil util(sources());
    consumers = {{"services",
        QVariantList {QVariantMap {{"name", "addressly"}, {"connected", true},
            {"capabilities", QVariantMap {{"address_source", 1}}},
            {"contacts", QVariantMap {{"uri", "http://h/c"}}}}}}};
    pages = {page(2, {{"Ännchen Ödegaard", "oe@ext.example"}, {"Someone", "ann@work.example"}})};
    util.refreshExternalAddresses();

    QObject owner;
    QList<QVariant> senders;
    NotificationCenter::defaultCenter().addObserver(
        &owner, kAutoFillCompletedNotification, [&](const Notification &n) { senders.append(n.object); });

    EXPECT_EQ(util.autoFillAddress("  ann\n", false, 7), "Ann Lee <alee@example.org>");
    EXPECT_EQ(util.matching(),
        (QStringList {"Ann Lee <alee@example.org>", "annie@example.org", "anna.old@example.org",
            "ann.lee@home.example", "ann@work.example", "Annabel Quist <aq@example.org>",
            "Ännchen Ödegaard <oe@ext.example>"}));
    EXPECT_TRUE(waitUntil([&] { return !senders.isEmpty(); }, 2000));
    EXPECT_EQ(senders.first().toInt(), 7);

    // The address wins over the name; the name must begin with the text.
    util.autoFillAddress("al", false, {});
    EXPECT_EQ(util.matching().first(), "alee@example.org");
    util.autoFillAddress("lee", false, {});
    EXPECT_EQ(util.matching(),
        (QStringList {"lee@solo.example", "Lee Ann <ann.lee@home.example>", "Lee Ann <ann@work.example>",
            "Lee Ann <alee@example.org>"}));
    // Groups only when asked for; nicknames; external matches ignore accents.
    EXPECT_TRUE(util.autoFillAddress("fam", false, {}).isEmpty());
    EXPECT_EQ(util.autoFillAddress("fam", true, {}), "Family [Ann Lee, Bob]");
    EXPECT_EQ(util.autoFillAddress("bel", false, {}), "Bel <aq@example.org>");
    util.autoFillAddress("ÄNN", false, {});
    EXPECT_EQ(
        util.matching(), (QStringList {"Ännchen Ödegaard <oe@ext.example>", "Someone <ann@work.example>"}));
    EXPECT_TRUE(util.autoFillAddress("", true, {}).isEmpty());
}

TEST_F(AddressBookUtilTest, TypedTextIsMatchedLiterally) {
    AddressBookUtil util(sources());
    consumers = {{"services",
        QVariantList {QVariantMap {{"connected", 1}, {"capabilities", QVariantMap {{"address_source", 1}}},
            {"contacts", QVariantMap {{"uri", "http://h/c"}}}}}}};
    pages = {page(3,
        {{"Seán O'Brien", "sean@ext.example"}, {"Star", "*@ext.example"},
            {"Back\\slash", "bs@ext.example"}})};
    util.refreshExternalAddresses();
    EXPECT_EQ(util.autoFillAddress("sean o'b", false, {}), "Seán O'Brien <sean@ext.example>");
    EXPECT_EQ(util.autoFillAddress("back\\", false, {}), "Back\\slash <bs@ext.example>");
    EXPECT_EQ(util.autoFillAddress("*", false, {}), "*@ext.example");
    EXPECT_EQ(util.matching().size(), 1);
    QString first;
    EXPECT_FALSE(util.addressBook("*@example.org", &first, nullptr)); // no wildcard from the user
    EXPECT_EQ(util.uniqueName("A*"), "A*");
}

TEST_F(AddressBookUtilTest, ExternalRefreshPagesAndEndsOnAnEmptyOrFailedPage) {
    AddressBookUtil util(sources());
    consumers = {{"services",
        QVariantList {QVariantMap {{"connected", true}, {"capabilities", QVariantMap {{"address_source", 1}}},
                          {"contacts", QVariantMap {{"uri", "http://h/a"}}}},
            QVariantMap {{"connected", false}, {"capabilities", QVariantMap {{"address_source", 1}}},
                {"contacts", QVariantMap {{"uri", "http://h/unlinked"}}}},
            QVariantMap {{"connected", true}, {"capabilities", QVariantMap {{"address_source", 1}}},
                {"contacts", QVariantMap {{"uri", "http://h/b%2Bc"}}}}}}};
    // Site a promises 100 but stops after two pages; site b's first page fails.
    QVariantList bare {
        QVariantMap {{"name", QVariant()}, {"email", "bare@x.example"}, {"service", QVariant()}},
        QVariantMap {{"name", "No Mail"}}};
    pages = {page(100, {{"A", "a@x.example"}}), APIResult(QVariantMap {{"external_contacts", bare}}),
        page(100, {}), APIResult::httpFailure(500, "")};
    util.refreshExternalAddresses();
    EXPECT_EQ(asked,
        (QStringList {"http://h/a?start=0&count=10000", "http://h/a?start=1&count=10000",
            "http://h/a?start=3&count=10000", "http://h/b%2Bc?start=0&count=10000"}));
    const QVariantList external = util.externalContacts();
    ASSERT_EQ(external.size(), 2);
    EXPECT_EQ(
        external.at(1).toMap(), (QVariantMap {{"name", ""}, {"email", "bare@x.example"}, {"service", ""}}));

    // The observed notification starts a refresh on a worker, which replaces the list.
    pages = {page(1, {{"Z", "z@x.example"}}), page(0, {})};
    NotificationCenter::defaultCenter().post(kUpdateExternalNotification);
    Workers::instance().waitForAll(5000);
    ASSERT_EQ(util.externalContacts().size(), 1);
    EXPECT_EQ(util.externalContacts().first().toMap().value("email").toString(), "z@x.example");
}

TEST_F(AddressBookUtilTest, NamingAndUniqueNames) {
    AddressBookUtil util(sources());
    EXPECT_EQ(util.nameForEmail("%Family"), "Family");
    EXPECT_EQ(util.nameForEmail("@PHOTOSTREAM"), "PhotoStream");
    EXPECT_TRUE(util.nameForEmail("@snapshelf").isNull()); // not connected
    EXPECT_EQ(util.nameForEmail("BOB@example.org"), "Bob");
    EXPECT_EQ(util.nameForEmail("info@acme.example"), "Acme");
    EXPECT_EQ(util.nameForEmail("lee@solo.example"), "Lee");
    EXPECT_EQ(util.nameForEmail("aq@example.org"), "Bel");
    EXPECT_EQ(util.nameForEmail("ann@work.example"), "Ann Lee-1"); // a server contact is already Ann Lee
    EXPECT_EQ(util.nameForEmail("mary jane@nowhere.example"), "Mary Jane");
    EXPECT_EQ(util.nameForEmail("@"), QString());
    util.hintEmail("Typed@Nowhere.example", "Typed Name");
    util.hintEmail("skip@nowhere.example", {});
    EXPECT_EQ(util.nameForEmail("typed@nowhere.example"), "Typed Name");
    EXPECT_EQ(util.nameForEmail("skip@nowhere.example"), "Skip");

    QString first = "untouched";
    QString last = "untouched";
    EXPECT_FALSE(util.addressBook("nobody@nowhere.example", &first, &last));
    EXPECT_EQ(first, "untouched");
    EXPECT_TRUE(util.addressBook("ALEE@example.org", &first, &last));
    EXPECT_EQ(AddressBookUtil::personName(first, last), "Ann Lee");

    contacts = {person("Ann", "a1@x"), person("ann-1", "a2@x"), person("Zoë", "z@x")};
    EXPECT_EQ(util.uniqueName("Ann"), "Ann-2");
    EXPECT_EQ(util.uniqueName("zoe"), "zoe-1");
    EXPECT_EQ(util.uniqueName("Bea"), "Bea");

    // A typed address that becomes a contact never takes a name already in use.
    EXPECT_EQ(util.nameForNewContact("ann@elsewhere.example"), "Ann-2");
    EXPECT_EQ(util.nameForNewContact("aq@example.org"), "Bel");

    // Names are text, never a format.
    contacts = {person("Bob %2", "b1@x")};
    EXPECT_EQ(util.uniqueName("Bob %2"), "Bob %2-1");
}

TEST(AddressBookUtilParseTest, ExtractEmailForms) {
    QString friendly = "x";
    EXPECT_EQ(AddressBookUtil::extractEmail(" ann@x.org;", &friendly), "ann@x.org");
    EXPECT_TRUE(friendly.isNull());
    EXPECT_EQ(AddressBookUtil::extractEmail("Ann <  ann@x.org>,", &friendly), "ann@x.org");
    EXPECT_EQ(friendly, "Ann");
    EXPECT_EQ(AddressBookUtil::extractEmail("Ann <ann@x.org,;", &friendly), "ann@x.org");
    EXPECT_EQ(AddressBookUtil::extractEmail("Bob (bob@x.org)", &friendly), "bob@x.org");
    EXPECT_EQ(AddressBookUtil::extractEmail("Family [Ann, Bob]", &friendly), "%Family");
    EXPECT_EQ(friendly, "Family");
    EXPECT_EQ(AddressBookUtil::extractEmail("Empty <>", &friendly), "Empty <>");
    EXPECT_TRUE(friendly.isNull());
    EXPECT_EQ(RecipientForEntry(group("Family", "")), "%Family");
    EXPECT_EQ(RecipientForEntry(person("Ann", "ann@x.org")), "ann@x.org");
}

TEST_F(AddressBookUtilTest, VCardPeopleTakePartInCompletion) {
    const QString folder = AddressBookSource::defaultContactsFolder();
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile card(folder + "/friends.vcf");
    ASSERT_TRUE(card.open(QIODevice::WriteOnly));
    card.write("BEGIN:VCARD\r\nVERSION:4.0\r\nN:Lee;Ann;;;\r\nFN:Ann Lee\r\nEMAIL:ann@card.example\r\n"
               "EMAIL;TYPE=work:lee@card.example\r\nEND:VCARD\r\n");
    card.close();
    people = AddressBookSource::systemDefault();
    contacts.clear();
    disco.clear();
    AddressBookUtil util(sources());
    util.autoFillAddress("lee", false, {});
    EXPECT_EQ(util.matching(), (QStringList {"lee@card.example", "Lee Ann <ann@card.example>"}));
    EXPECT_EQ(util.nameForEmail("LEE@card.example"), "Ann Lee");
}
