#include "DevClient.h"

#include <QElapsedTimer>

namespace lf::test {
namespace {

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

TEST_F(DevApiTest, FaultQueueAnswersInOrderThenNormally) {
    const httplib::Headers demo = client->demo();
    ASSERT_EQ(client
                  ->fault(QStringLiteral("GET"), QStringLiteral("/api/user/*"),
                      {QJsonObject {{QStringLiteral("status"), 503}},
                          QJsonObject {{QStringLiteral("status"), 503},
                              {QStringLiteral("body"), QStringLiteral("busy")}},
                          QJsonObject {{QStringLiteral("pass"), true}},
                          QJsonObject {{QStringLiteral("delay_ms"), 50}}})
                  .status,
        200);
    const Answer first = client->get("/api/user/profile", demo);
    EXPECT_EQ(first.status, 503);
    EXPECT_FALSE(first.errorText().isEmpty());
    const Answer second = client->get("/api/user/services", demo);
    EXPECT_EQ(second.status, 503);
    EXPECT_EQ(second.body, QByteArray("busy"));
    EXPECT_EQ(client->get("/api/user/profile", demo).status, 200);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(client->get("/api/user/profile", demo).status, 200);
    EXPECT_GE(timer.elapsed(), 45);
    EXPECT_EQ(client->get("/api/user/profile", demo).status, 200);
    // Other methods and paths were never affected.
    EXPECT_EQ(client->get("/", demo).status, 200);

    const QJsonArray log = client->requests();
    EXPECT_EQ(log.at(log.size() - 6).toObject().value(QStringLiteral("status")).toInt(), 503);
}

TEST_F(DevApiTest, DropAndStallLeaveTheClientWithoutAnswer) {
    const httplib::Headers demo = client->demo();
    client->fault(QStringLiteral("POST"), QStringLiteral("/api/bundle/close"),
        {QJsonObject {{QStringLiteral("drop"), true}}, QJsonObject {{QStringLiteral("stall"), true}}});
    const QJsonObject close {{QStringLiteral("bundle_guid"), QStringLiteral("none")}};
    EXPECT_EQ(client->postJson("/api/bundle/close", close, demo).status, 0);

    client->setReadTimeoutMs(300);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(client->postJson("/api/bundle/close", close, demo).status, 0);
    EXPECT_GE(timer.elapsed(), 250);
    EXPECT_EQ(client->postJson("/api/bundle/close", close, demo).status, 404); // the queue is used up

    const QJsonArray log = client->requests();
    EXPECT_EQ(log.at(log.size() - 3).toObject().value(QStringLiteral("status")).toInt(), 0);
    EXPECT_EQ(log.at(log.size() - 2).toObject().value(QStringLiteral("status")).toInt(), 0);
}

TEST_F(DevApiTest, ResetReleasesStalledRequestsAndEmptiesTheQueue) {
    const httplib::Headers demo = client->demo();
    client->fault(QStringLiteral("GET"), QStringLiteral("/api/user/profile"),
        {QJsonObject {{QStringLiteral("stall"), true}}, QJsonObject {{QStringLiteral("status"), 500}}});
    std::thread stalled([this, demo] {
        DevClient other(*server);
        EXPECT_EQ(other.get("/api/user/profile", demo).status, 0);
    });
    for (int i = 0; i < 200 && client->requests().size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(client->post("/__dev/reset", {}).status, 200);
    stalled.join();
    EXPECT_EQ(client->get("/api/user/profile", demo).status, 200);
    EXPECT_EQ(client->state().value(QStringLiteral("faults")).toArray().size(), 0);
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
