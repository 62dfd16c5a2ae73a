// Contacts, groups and completion through the built program, checked against the server's book.
#include "CliTest.h"

using namespace lf::test;

namespace {

class CliAddressBookTest : public CliTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(CliTest::SetUp());
        ASSERT_NO_FATAL_FAILURE(signIn());
    }

    QJsonArray listed(const char *what) {
        const RunResult r = cli({QLatin1String(what), QStringLiteral("--json")});
        EXPECT_EQ(r.exitCode, 0) << r;
        const QJsonValue json = parseJson(r.out);
        EXPECT_TRUE(json.isArray()) << r;
        return json.toArray();
    }

    static QJsonObject entry(const QJsonArray &list, const char *key, const QString &value) {
        for (const QJsonValue &v : list) {
            if (v.toObject().value(QLatin1String(key)).toString() == value)
                return v.toObject();
        }
        return {};
    }

    QJsonArray serverContacts() { return demoUser().value(QLatin1String("contacts")).toArray(); }
    QJsonArray serverGroups() { return demoUser().value(QLatin1String("groups")).toArray(); }
};

TEST_F(CliAddressBookTest, ContactsAreAddedListedAndDeletedOnTheServer) {
    const qsizetype before = serverContacts().size();
    const QJsonArray seeded = listed("contacts");
    const QJsonObject ann = entry(seeded, "email", QStringLiteral("ann.friend@lanternfish.test"));
    EXPECT_EQ(ann.value(QLatin1String("name")).toString(), QStringLiteral("Ann Friend"));
    EXPECT_FALSE(ann.value(QLatin1String("guid")).toString().isEmpty());

    const RunResult add = cli({QStringLiteral("contacts"), QStringLiteral("add"), QStringLiteral("Lena Ng"),
        QStringLiteral("lena@example.org")});
    ASSERT_EQ(add.exitCode, 0) << add;
    const QJsonObject lena = entry(listed("contacts"), "email", QStringLiteral("lena@example.org"));
    EXPECT_EQ(lena.value(QLatin1String("name")).toString(), QStringLiteral("Lena Ng"));
    EXPECT_FALSE(entry(serverContacts(), "email", QStringLiteral("lena@example.org")).isEmpty());

    // The same address twice is refused, and the book keeps one entry.
    const RunResult again = cli({QStringLiteral("contacts"), QStringLiteral("add"),
        QStringLiteral("Lena Other"), QStringLiteral("lena@example.org")});
    EXPECT_EQ(again.exitCode, 1) << again;
    EXPECT_EQ(errorLines(again).size(), 1) << again;
    int copies = 0;
    for (const QJsonValue &c : serverContacts())
        copies += c.toObject().value(QLatin1String("email")).toString() == QLatin1String("lena@example.org");
    EXPECT_EQ(copies, 1);

    const RunResult del
        = cli({QStringLiteral("contacts"), QStringLiteral("delete"), QStringLiteral("lena@example.org")});
    ASSERT_EQ(del.exitCode, 0) << del;
    EXPECT_TRUE(entry(listed("contacts"), "email", QStringLiteral("lena@example.org")).isEmpty());
    EXPECT_TRUE(entry(serverContacts(), "email", QStringLiteral("lena@example.org")).isEmpty());
    EXPECT_EQ(serverContacts().size(), before);
}

TEST_F(CliAddressBookTest, GroupsAreCreatedFromMemberNamesAndDeleted) {
    const QJsonObject family = entry(listed("groups"), "name", QStringLiteral("Family"));
    EXPECT_EQ(family.value(QLatin1String("members")).toArray().size(), 3);

    const RunResult create = cli({QStringLiteral("groups"), QStringLiteral("create"),
        QStringLiteral("Hikers"), QStringLiteral("Carla Mendes"), QStringLiteral("Kofi Mensah")});
    ASSERT_EQ(create.exitCode, 0) << create;
    const QJsonObject hikers = entry(listed("groups"), "name", QStringLiteral("Hikers"));
    QStringList members;
    for (const QJsonValue &m : hikers.value(QLatin1String("members")).toArray())
        members.append(m.toString());
    members.sort();
    EXPECT_EQ(members, (QStringList {QStringLiteral("Carla Mendes"), QStringLiteral("Kofi Mensah")}));
    EXPECT_FALSE(hikers.value(QLatin1String("guid")).toString().isEmpty());
    EXPECT_FALSE(entry(serverGroups(), "name", QStringLiteral("Hikers")).isEmpty());

    const RunResult del = cli({QStringLiteral("groups"), QStringLiteral("delete"), QStringLiteral("Hikers")});
    ASSERT_EQ(del.exitCode, 0) << del;
    EXPECT_TRUE(entry(listed("groups"), "name", QStringLiteral("Hikers")).isEmpty());
    EXPECT_TRUE(entry(serverGroups(), "name", QStringLiteral("Hikers")).isEmpty());
    EXPECT_FALSE(entry(serverGroups(), "name", QStringLiteral("Family")).isEmpty());
}

TEST_F(CliAddressBookTest, CompletionOffersContactsAndGroupsBestFirst) {
    const RunResult ann = cli({QStringLiteral("complete"), QStringLiteral("Ann"), QStringLiteral("--json")});
    ASSERT_EQ(ann.exitCode, 0) << ann;
    const QJsonArray candidates = parseJson(ann.out).toArray();
    ASSERT_FALSE(candidates.isEmpty()) << ann;
    EXPECT_TRUE(candidates[0].toString().contains(QLatin1String("ann.friend@lanternfish.test"))) << ann;

    const RunResult book = cli({QStringLiteral("complete"), QStringLiteral("Book")});
    ASSERT_EQ(book.exitCode, 0) << book;
    EXPECT_TRUE(book.outLines().value(0).contains(QLatin1String("Book Club"))) << book;

    const RunResult none
        = cli({QStringLiteral("complete"), QStringLiteral("zzqx"), QStringLiteral("--json")});
    EXPECT_EQ(none.exitCode, 0) << none;
    EXPECT_EQ(parseJson(none.out).toArray(), QJsonArray {}) << none;
}

// Shell completion reads these lines as they are: one recipient each, prefix included.
TEST_F(CliAddressBookTest, CompleteNamesListsGroupAndLinkedSiteRecipients) {
    const RunResult names = cli({QStringLiteral("complete-names")});
    ASSERT_EQ(names.exitCode, 0) << names;
    const QStringList lines = names.outLines();
    EXPECT_TRUE(lines.contains(QStringLiteral("%Family"))) << names;
    EXPECT_TRUE(lines.contains(QStringLiteral("%Book Club"))) << names;
    // Sites go by their short name, as the window's site icons address them.
    EXPECT_TRUE(lines.contains(QStringLiteral("@photostream"))) << names;
    for (const QString &line : lines)
        EXPECT_TRUE(line.startsWith(QLatin1Char('%')) || line.startsWith(QLatin1Char('@'))) << names;

    EXPECT_EQ(cli({QStringLiteral("complete-names"), QStringLiteral("x")}).exitCode, 2);
}

} // namespace
