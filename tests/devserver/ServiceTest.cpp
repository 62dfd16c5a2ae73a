#include "DevClient.h"

#include <QCryptographicHash>
#include <QImage>

#include <atomic>
#include <thread>

namespace lf::test {
namespace {

using ServiceTest = DevServerTest;

TEST_F(ServiceTest, UpdateCheckPointsAtRealDownloads) {
    const QJsonObject update
        = client->get("/update/linux", {{"X-Lanternfish-User", "{\"client_id\":\"C\"}"}}).object();
    for (const char *key : {"version", "compat_version", "md5_hash", "signature", "release_date", "uri"})
        EXPECT_FALSE(update.value(QLatin1String(key)).toString().isEmpty()) << key;
    const Answer package = client->get(
        update.value(QStringLiteral("uri")).toString().mid(server->baseUrl().size()).toStdString(), {});
    EXPECT_EQ(QCryptographicHash::hash(package.body, QCryptographicHash::Md5).toHex(),
        update.value(QStringLiteral("md5_hash")).toString().toLatin1());
    EXPECT_TRUE(package.body.startsWith("\x1f\x8b")); // gzip

    const QJsonObject tos = update.value(QStringLiteral("tos")).toObject();
    EXPECT_TRUE(QDate::fromString(tos.value(QStringLiteral("date")).toString(), QStringLiteral("MM/dd/yyyy"))
                    .isValid());
    EXPECT_TRUE(
        client
            ->get(tos.value(QStringLiteral("uri")).toString().mid(server->baseUrl().size()).toStdString(), {})
            .body.startsWith("%PDF-"));
    const QJsonObject icon = update.value(QStringLiteral("icons")).toArray().at(0).toObject();
    EXPECT_FALSE(icon.value(QStringLiteral("dates")).toArray().isEmpty());
    EXPECT_FALSE(QImage::fromData(
        client->get("/" + icon.value(QStringLiteral("uri")).toString().toStdString(), {}).body)
                     .isNull());

    const Answer changed = client->postJson("/__dev/update",
        QJsonObject {{QStringLiteral("version"), QStringLiteral("2.0a1")},
            {QStringLiteral("compat_version"), QStringLiteral("1.5")}});
    EXPECT_EQ(changed.object().value(QStringLiteral("version")).toString(), QStringLiteral("2.0a1"));
    const QJsonObject after = client->get("/update/mac_os_x", {}).object();
    EXPECT_EQ(after.value(QStringLiteral("compat_version")).toString(), QStringLiteral("1.5"));
    EXPECT_NE(after.value(QStringLiteral("md5_hash")), update.value(QStringLiteral("md5_hash")));
}

TEST_F(ServiceTest, StateSurvivesARestartWithTheSameDataFolder) {
    const QString folder = home.filePath(QStringLiteral("server-data"));
    dev::DevServerOptions options;
    options.dataDir = folder;
    options.seedDemo = true;
    QString token;
    QString guid;
    {
        dev::DevServer first(options);
        ASSERT_TRUE(first.start());
        DevClient c(first);
        token = c.signIn(QStringLiteral("demo@lanternfish.test"), QStringLiteral("lanternfish"));
        const Answer added
            = c.post("/api/user_address_book_entries?user_address_book_entry%5Bemail%5D=kept%40example.org",
                {}, DevClient::user(QStringLiteral("demo@lanternfish.test"), token));
        guid = added.object().value(QStringLiteral("guid")).toString();
        ASSERT_FALSE(guid.isEmpty());
    }
    dev::DevServer second(options);
    ASSERT_TRUE(second.start());
    DevClient c(second);
    const httplib::Headers demo = DevClient::user(QStringLiteral("demo@lanternfish.test"), token);
    const QJsonObject kept = c.get("/api/user_address_book_entries/" + guid.toStdString(), demo).object();
    EXPECT_EQ(kept.value(QStringLiteral("name")).toString(), QStringLiteral("Kept"));
    // Seeding again on the same folder adds nothing twice.
    EXPECT_EQ(c.get("/api/user_address_book_entries", demo)
                  .object()
                  .value(QStringLiteral("entries"))
                  .toArray()
                  .size(),
        13);
}

TEST_F(ServiceTest, BadInputGetsErrorsAndTheServerStaysUp) {
    const httplib::Headers demo = client->demo();
    EXPECT_EQ(client->post("/api/bundle", "{\"bundle_guid\":", demo).status, 400);
    EXPECT_EQ(client->post("/api/bundle", "[1,2,3]", demo).status, 400);
    EXPECT_EQ(client->post("/api/photo", "x", demo).status, 422); // no photo record
    EXPECT_EQ(client
                  ->post("/api/photo", "x",
                      {{"X-Lanternfish-Version", "0"},
                          {"X-Lanternfish-User", demo.find("X-Lanternfish-User")->second},
                          {"X-Lanternfish-Params", "{broken"}})
                  .status,
        400);
    const Answer huge = client->get("/api/user/profile",
        {{"X-Lanternfish-Version", "0"}, {"X-Lanternfish-User", std::string(20000, 'x')}});
    EXPECT_GE(huge.status, 400);
    EXPECT_LT(huge.status, 500);
    EXPECT_EQ(client->get("/api/nothing/here", demo).status, 404);
    EXPECT_FALSE(client->get("/api/nothing/here", demo).errorText().isEmpty());
    EXPECT_EQ(client->del("/api/user/profile", demo).status, 405);
    EXPECT_EQ(client->get("/api/user/profile", demo).status, 200);
}

TEST_F(ServiceTest, ServesConcurrentClients) {
    const httplib::Headers demo = client->demo();
    std::atomic<int> good {0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            DevClient own(*server);
            for (int i = 0; i < 10; ++i) {
                const std::string query = "?user_address_book_entry%5Bemail%5D=c" + std::to_string(t) + "-"
                    + std::to_string(i) + "%40example.org";
                good += own.post("/api/user_address_book_entries" + query, {}, demo).status == 201;
                good += own.get("/api/user_address_book_entries", demo).status == 200;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(good.load(), 160);
    EXPECT_EQ(client->get("/api/user_address_book_entries", demo)
                  .object()
                  .value(QStringLiteral("entries"))
                  .toArray()
                  .size(),
        12 + 80);
}

TEST_F(ServiceTest, PagesAreHtmlAndTheSupportFormIsKept) {
    for (const char *page : {"/mac_welcome", "/signin", "/password_resets/new",
             "/support?source=desktop&name=Ann&email=ann%40example.org", "/nowhere"}) {
        const Answer answer = client->get(page, {});
        EXPECT_TRUE(answer.body.startsWith("<!DOCTYPE html>")) << page;
        EXPECT_NE(answer.header("Content-Type").find("text/html"), std::string::npos) << page;
    }
    EXPECT_TRUE(client->get("/support?name=Ann&email=ann%40example.org", {})
                    .body.contains("value=\"ann@example.org\""));
    EXPECT_EQ(client
                  ->post("/support", "name=Ann&email=ann%40example.org&subject=Hi&message=It+works", {},
                      "application/x-www-form-urlencoded")
                  .status,
        200);
    EXPECT_EQ(client->post("/support", "name=Ann", {}, "application/x-www-form-urlencoded").status, 422);
    const QJsonArray requests = client->state().value(QStringLiteral("support_requests")).toArray();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(
        requests.at(0).toObject().value(QStringLiteral("message")).toString(), QStringLiteral("It works"));
}

TEST_F(ServiceTest, CrashLogsAreStoredWithTheirRecord) {
    const QJsonObject record {{QStringLiteral("file_name"), QStringLiteral("../../Lanternfish_2024.crash")},
        {QStringLiteral("client_type"), QStringLiteral("linux")},
        {QStringLiteral("log_guid"), QStringLiteral("CLIENT-1")},
        {QStringLiteral("log_type"), QStringLiteral("crash")},
        {QStringLiteral("version"), QStringLiteral("0.1.0")}};
    EXPECT_EQ(client->post("/api/client_logs", "Signal 11\nbacktrace...", withParams(client->demo(), record))
                  .status,
        200);
    EXPECT_EQ(client->post("/api/client_logs", "x", client->demo()).status, 422);
    const QJsonArray logs = client->state()
                                .value(QStringLiteral("users"))
                                .toArray()
                                .at(0)
                                .toObject()
                                .value(QStringLiteral("client_logs"))
                                .toArray();
    ASSERT_EQ(logs.size(), 1);
    EXPECT_EQ(logs.at(0).toObject().value(QStringLiteral("bytes")).toInt(), 22);
    EXPECT_EQ(logs.at(0)
                  .toObject()
                  .value(QStringLiteral("params"))
                  .toObject()
                  .value(QStringLiteral("log_type"))
                  .toString(),
        QStringLiteral("crash"));
}

} // namespace
} // namespace lf::test
