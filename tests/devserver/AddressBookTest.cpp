#include "DevClient.h"

#include <QDateTime>
#include <QUrl>

namespace lf::test {
namespace {

using AddressBookTest = DevServerTest;

std::string entryQuery(const QString &email, const QString &name) {
    return QStringLiteral("?user_address_book_entry%5Bemail%5D=%1&user_address_book_entry%5Bname%5D=%2")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(email)),
            QString::fromLatin1(QUrl::toPercentEncoding(name)))
        .toStdString();
}

TEST_F(AddressBookTest, SeededBookHasDormantEntryAndDanglingGroupMember) {
    const QJsonObject book = client->get("/api/user_address_book_entries", client->demo()).object();
    const QJsonArray entries = book.value(QStringLiteral("entries")).toArray();
    EXPECT_EQ(entries.size(), 12);
    int dormant = 0;
    QStringList guids;
    for (const QJsonValue &e : entries) {
        const QDateTime used
            = QDateTime::fromString(e.toObject().value(QStringLiteral("last_used")).toString(), Qt::ISODate);
        ASSERT_TRUE(used.isValid());
        dormant += used.toSecsSinceEpoch() < 0;
        guids.append(e.toObject().value(QStringLiteral("guid")).toString());
    }
    EXPECT_EQ(dormant, 1);
    const QJsonArray groups = book.value(QStringLiteral("groups")).toArray();
    ASSERT_EQ(groups.size(), 2);
    int missing = 0;
    for (const QJsonValue &g : groups) {
        for (const QJsonValue &member : g.toObject()
                                            .value(QStringLiteral("address_book_group"))
                                            .toObject()
                                            .value(QStringLiteral("entries"))
                                            .toArray())
            missing += !guids.contains(member.toString());
    }
    EXPECT_EQ(missing, 1);
}

TEST_F(AddressBookTest, ContactsKeepEmailsUniqueAndVersionsMoving) {
    const httplib::Headers demo = client->demo();
    const Answer added = client->post("/api/user_address_book_entries"
            + entryQuery(QStringLiteral("Zoe@Example.org"), QStringLiteral("Zoe Z")),
        {}, demo);
    ASSERT_EQ(added.status, 201);
    const QJsonObject zoe = added.object();
    EXPECT_EQ(zoe.value(QStringLiteral("version")).toInt(), 1);
    EXPECT_TRUE(
        QDateTime::fromString(zoe.value(QStringLiteral("last_used")).toString(), Qt::ISODate).isValid());
    const std::string guid = zoe.value(QStringLiteral("guid")).toString().toStdString();

    // The same address in other letter case is a duplicate; the same name is not.
    EXPECT_EQ(client
                  ->post("/api/user_address_book_entries"
                          + entryQuery(QStringLiteral("zoe@example.ORG"), QStringLiteral("Other")),
                      {}, demo)
                  .status,
        422);
    EXPECT_EQ(client
                  ->post("/api/user_address_book_entries"
                          + entryQuery(QStringLiteral("zoe2@example.org"), QStringLiteral("Zoe Z")),
                      {}, demo)
                  .status,
        201);
    EXPECT_EQ(
        client
            ->post("/api/user_address_book_entries" + entryQuery(QStringLiteral("not an address"), QString()),
                {}, demo)
            .status,
        422);

    const std::string update = "/api/user_address_book_entries/" + guid
        + "/?user_address_book_entry%5Bemail%5D=zoe%40example.org"
          "&user_address_book_entry%5Bname%5D=Zoe&user_address_book_entry%5Bversion%5D=1"
          "&user_address_book_entry%5Blast_used%5D=2000-06-01T12%3A00%3A00%2B02%3A00";
    const Answer updated = client->put(update, {}, demo);
    ASSERT_EQ(updated.status, 200);
    EXPECT_EQ(updated.object().value(QStringLiteral("version")).toInt(), 2);
    EXPECT_EQ(updated.object().value(QStringLiteral("last_used")).toString(),
        QStringLiteral("2000-06-01T10:00:00Z"));
    // Sending version 1 again is stale now.
    EXPECT_EQ(client->put(update, {}, demo).status, 409);
    EXPECT_EQ(client->get("/api/user_address_book_entries/" + guid, demo)
                  .object()
                  .value(QStringLiteral("name"))
                  .toString(),
        QStringLiteral("Zoe"));

    // Another user sees none of it.
    const httplib::Headers ann = DevClient::user(QStringLiteral("ann.friend@lanternfish.test"),
        client->signIn(QStringLiteral("ann.friend@lanternfish.test"), QStringLiteral("lanternfish")));
    EXPECT_EQ(client->get("/api/user_address_book_entries/" + guid, ann).status, 404);
    EXPECT_EQ(client->del("/api/user_address_book_entries/" + guid, ann).status, 404);

    EXPECT_EQ(client->del("/api/user_address_book_entries/" + guid, demo).status, 200);
    EXPECT_EQ(client->del("/api/user_address_book_entries/" + guid, demo).status, 404);
    EXPECT_EQ(
        client->put("/api/user_address_book_entries/NOPE/?user_address_book_entry%5Bname%5D=x", {}, demo)
            .status,
        404);
}

TEST_F(AddressBookTest, GroupNamesAreUniqueAmongGroupsIgnoringCase) {
    const httplib::Headers demo = client->demo();
    auto group = [](const QString &name, const QJsonArray &entries) {
        return QJsonObject {{QStringLiteral("address_book_group"),
            QJsonObject {{QStringLiteral("name"), name}, {QStringLiteral("entries"), entries}}}};
    };
    // A group may share its name with a contact.
    const Answer added = client->postJson(
        "/api/address_book_groups", group(QStringLiteral("Ann Friend"), {QStringLiteral("G1")}), demo);
    ASSERT_EQ(added.status, 201);
    const QJsonObject made = added.object().value(QStringLiteral("address_book_group")).toObject();
    EXPECT_EQ(made.value(QStringLiteral("entries")).toArray(), QJsonArray {QStringLiteral("G1")});
    const std::string path
        = "/api/address_book_groups/" + made.value(QStringLiteral("guid")).toString().toStdString();

    EXPECT_EQ(
        client->postJson("/api/address_book_groups", group(QStringLiteral("FAMILY"), {}), demo).status, 422);
    EXPECT_EQ(
        client->postJson("/api/address_book_groups", group(QStringLiteral("Odd"), {1, 2}), demo).status, 422);
    EXPECT_EQ(client
                  ->postJson("/api/address_book_groups",
                      QJsonObject {{QStringLiteral("name"), QStringLiteral("x")}}, demo)
                  .status,
        422);

    const QByteArray rename = R"({"address_book_group":{"name":"family","entries":[]}})";
    EXPECT_EQ(client->put(path, rename, demo).status, 422);
    const Answer renamed
        = client->put(path, R"({"address_book_group":{"name":"Friends","entries":["A","B"]}})", demo);
    ASSERT_EQ(renamed.status, 200);
    EXPECT_EQ(renamed.object()
                  .value(QStringLiteral("address_book_group"))
                  .toObject()
                  .value(QStringLiteral("version"))
                  .toInt(),
        2);
    EXPECT_EQ(client->put(path, "[1,2", demo).status, 400);
    EXPECT_EQ(client->del(path, demo).status, 200);
    EXPECT_EQ(client->del(path, demo).status, 404);
}

} // namespace
} // namespace lf::test
