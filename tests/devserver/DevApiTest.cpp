#include "DevClient.h"

namespace lf::test {
namespace {

// The fault queue itself (answers in order, drops, stalls, reset) is checked through the exact
// request sequences of the sending tests that depend on it.
using DevApiTest = DevServerTest;

TEST_F(DevApiTest, RequestLogShowsWhatTheClientSent) {
    const httplib::Headers demo = client->demo();
    ASSERT_EQ(client->post("/__dev/reset", {}).status, 200);
    client->postJson(
        "/api/bundle", QJsonObject {{QStringLiteral("bundle_guid"), QStringLiteral("L1")}}, demo);
    client->post("/api/photo?x=1", "abc",
        withParams(demo, QJsonObject {{QStringLiteral("photo_guid"), QStringLiteral("none")}}));

    const QJsonArray log = client->requests();
    ASSERT_EQ(log.size(), 2); // dev API calls are not logged
    const QJsonObject create = log.at(0).toObject();
    EXPECT_EQ(create.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
    EXPECT_EQ(create.value(QStringLiteral("path")).toString(), QStringLiteral("/api/bundle"));
    EXPECT_EQ(create.value(QStringLiteral("json")).toObject().value(QStringLiteral("bundle_guid")).toString(),
        QStringLiteral("L1"));
    EXPECT_EQ(create.value(QStringLiteral("status")).toInt(), 422);
    const QJsonObject headers = create.value(QStringLiteral("headers")).toObject();
    EXPECT_EQ(headers.value(QStringLiteral("x-lanternfish-version")).toString(), QStringLiteral("0"));
    EXPECT_TRUE(headers.value(QStringLiteral("x-lanternfish-user"))
                    .toString()
                    .startsWith(QStringLiteral("{\"email\":")));

    const QJsonObject photo = log.at(1).toObject();
    EXPECT_EQ(photo.value(QStringLiteral("query")).toString(), QStringLiteral("x=1"));
    EXPECT_EQ(photo.value(QStringLiteral("params")).toObject().value(QStringLiteral("photo_guid")).toString(),
        QStringLiteral("none"));
    EXPECT_EQ(photo.value(QStringLiteral("body_length")).toInt(), 3);
    EXPECT_FALSE(photo.contains(QStringLiteral("json")));
    EXPECT_EQ(photo.value(QStringLiteral("status")).toInt(), 404);
}

TEST_F(DevApiTest, BadFaultRequestsAreRefused) {
    EXPECT_EQ(client
                  ->fault(QStringLiteral("GET"), QStringLiteral("/x"),
                      {QJsonObject {{QStringLiteral("teapot"), true}}})
                  .status,
        422);
    EXPECT_EQ(client
                  ->fault(QStringLiteral("GET"), QStringLiteral("/x"),
                      {QJsonObject {{QStringLiteral("status"), 42}}})
                  .status,
        422);
    EXPECT_EQ(client->fault(QString(), QStringLiteral("/x"), {}).status, 422);
    EXPECT_EQ(client->post("/__dev/faults", "nonsense").status, 400);
    EXPECT_EQ(client->get("/__dev/nothing").status, 404);
}

TEST(DevApiOff, AnswersNotFoundWithoutTheOption) {
    TempHome home;
    dev::DevServer server;
    ASSERT_TRUE(server.start());
    DevClient client(server);
    EXPECT_EQ(client.get("/__dev/state").status, 404);
    EXPECT_EQ(client.post("/__dev/reset", {}).status, 404);
    // Without the seed there is no demo account.
    EXPECT_TRUE(
        client.signIn(QStringLiteral("demo@lanternfish.test"), QStringLiteral("lanternfish")).isEmpty());
}

} // namespace
} // namespace lf::test
