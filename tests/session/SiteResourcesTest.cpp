// Site refresh, icons, unlinking, the anonymous root, terms and crash logs against the reference server.
#include "session/SiteResources.h"

#include "foundation/Clock.h"
#include "foundation/Identity.h"
#include "foundation/Workers.h"
#include "support/SessionFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

using namespace lf;
using namespace lf::test;

namespace {

qsizetype countOf(const QStringList &list, const QString &item) {
    return list.count(item);
}

} // namespace

using SiteResourcesTest = SessionTest;

TEST_F(SiteResourcesTest, SitesAreReloadedOnceThreeMinutesOld) {
    ScopedFakeClock fake;
    signIn();
    service->loadSites();
    Workers::instance().waitForAll(10000);
    devCall("POST", "/__dev/reset");
    EXPECT_EQ(service->sites(), QStringList {"photostream"});
    EXPECT_EQ(service->builtinSites(), (QStringList {"photostream", "snapshelf"}));
    fake.clock.advance(std::chrono::seconds(179));
    service->sites();
    EXPECT_EQ(countOf(requestLines(), "GET /api/user/services"), 0);
    fake.clock.advance(std::chrono::seconds(1));
    service->sites();
    service->destinations();
    EXPECT_EQ(countOf(requestLines(), "GET /api/user/services"), 1);
}

TEST_F(SiteResourcesTest, IconsAreStoredOnceAndPathsKeepTheServersPort) {
    EXPECT_EQ(SiteResources::resolveServiceURL("/images/site.png"),
        QStringLiteral("http://127.0.0.1:%1/images/site.png").arg(server->port()));
    EXPECT_EQ(SiteResources::resolveServiceURL("https://cdn.example/x.png"), "https://cdn.example/x.png");
    EXPECT_TRUE(SiteResources::iconPath("../evil").startsWith(iconsFolder()));

    signIn();
    // A path on the service is fetched from the server's own port.
    const QString icons = "/images/sites/";
    const QJsonObject services {{"services",
        QJsonArray {QJsonObject {{"name", "photostream"}, {"display_name", "PhotoStream"},
                        {"connected", true}, {"capabilities", QJsonObject {{"destination", 1}}},
                        {"icon_url", icons + "photostream.png"}, {"signin_icon_url", QJsonValue::Null}},
            QJsonObject {{"name", "broken"}, {"connected", false},
                {"capabilities", QJsonObject {{"destination", 1}}},
                {"icon_url", server->baseUrl() + "/no/such/icon.png"}}}}};
    const QString body = QString::fromUtf8(QJsonDocument(services).toJson());
    fault("GET", "/api/user/services", {QJsonObject {{"status", 200}, {"body", body}}});
    service->loadSites();
    Workers::instance().waitForAll(10000);
    ASSERT_TRUE(waitFor(kServiceIconsLoadedNotification));
    EXPECT_FALSE(QImage(SiteResources::iconPath("photostream")).isNull());
    EXPECT_FALSE(SiteResources::iconForService("photostream").isNull());
    EXPECT_FALSE(QFileInfo::exists(SiteResources::connectIconPath("photostream")));
    EXPECT_FALSE(QFileInfo::exists(SiteResources::iconPath("broken")));
    EXPECT_TRUE(SiteResources::iconForService("broken").isNull());

    devCall("POST", "/__dev/reset");
    fault("GET", "/api/user/services", {QJsonObject {{"status", 200}, {"body", body}}});
    service->loadSites();
    Workers::instance().waitForAll(10000);
    const QStringList seen = requestLines();
    EXPECT_EQ(countOf(seen, "GET /images/sites/photostream.png"), 0); // stored icons are never fetched again
    EXPECT_EQ(countOf(seen, "GET /no/such/icon.png"), 1); // a failed one is tried again
    EXPECT_EQ(service->siteResourceCount(), 0);
}

TEST_F(SiteResourcesTest, UnlinkAndTheAnonymousRoot) {
    signIn();
    service->loadSites();
    Workers::instance().waitForAll(10000);
    devCall("POST", "/__dev/reset");
    service->setSitesDirty(false);
    EXPECT_TRUE(service->unlinkConsumer("PhotoStream").isNothing()); // names match exactly
    EXPECT_TRUE(service->sitesDirty());
    EXPECT_FALSE(service->unlinkConsumer("photostream").isError());
    EXPECT_EQ(requestLines(), QStringList {"DELETE /sites/photostream"});
    EXPECT_TRUE(demoState().value("linked_sites").toArray().isEmpty());

    devCall("POST", "/__dev/reset");
    const APIResult root = service->unauthRoot();
    EXPECT_FALSE(root.value("authentication").toMap().value("services").toList().isEmpty());
    service->unauthRoot();
    EXPECT_EQ(countOf(requestLines(), "GET /"), 1);
    service->setSignInDirty(true);
    service->unauthRoot();
    EXPECT_FALSE(service->signInDirty());
    EXPECT_EQ(countOf(requestLines(), "GET /"), 2);
}

TEST_F(SiteResourcesTest, TermsAreKeptWhenCurrentAndReplacedWhenNewer) {
    const QString terms = SiteResources::termsPath();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(terms).path()));
    {
        QFile file(terms);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("old terms");
        file.flush(); // else closing writes it and stamps it now
        file.setFileTime(QDateTime(QDate(2011, 3, 2), QTime(12, 0)), QFileDevice::FileModificationTime);
    }
    devCall("POST", "/__dev/update", QJsonObject {{"tos_date", "03/01/2011"}});
    service->checkForUpdate();
    EXPECT_EQ(service->tosFile(), terms);
    EXPECT_FALSE(service->tosDownloading());
    Workers::instance().waitForAll(10000);
    EXPECT_FALSE(requestLines().contains("GET /terms/Lanternfish.pdf"));

    // Newer terms whose download fails: nothing is offered, the old file is not damaged.
    devCall("POST", "/__dev/update", QJsonObject {{"tos_date", "03/05/2011"}});
    fault("GET", "/terms/Lanternfish.pdf", {QJsonObject {{"status", 503}, {"body", "busy"}}});
    service->checkForUpdate();
    Workers::instance().waitForAll(10000);
    EXPECT_TRUE(service->tosFile().isEmpty());
    EXPECT_FALSE(service->tosDownloading());
    QFile old(terms);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "old terms");
    old.close();

    service->checkForUpdate();
    Workers::instance().waitForAll(10000);
    EXPECT_EQ(service->tosFile(), terms);
    QFile fresh(terms);
    ASSERT_TRUE(fresh.open(QIODevice::ReadOnly));
    EXPECT_TRUE(fresh.readAll().startsWith("%PDF"));
    EXPECT_TRUE(service->tosURL().endsWith("/terms/Lanternfish.pdf"));

    // An answer without terms changes none of the terms state.
    fault("GET", "/update/linux", {QJsonObject {{"status", 200}, {"body", "{\"version\":\"9.9\"}"}}});
    EXPECT_EQ(service->checkForUpdate().value("version").toString(), "9.9");
    EXPECT_EQ(service->tosFile(), terms);
    EXPECT_TRUE(service->tosURL().endsWith("/terms/Lanternfish.pdf"));
}

TEST_F(SiteResourcesTest, OneCrashLogIsUploadedWithItsRecord) {
    signIn();
    EXPECT_FALSE(service->uploadCrashLog(home.filePath("missing.crash")));
    const QString path = home.filePath("Lanternfish_2026_Jan_01.crash");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("signal 11\n#0 main\n");
    file.close();
    EXPECT_TRUE(service->uploadCrashLog(path));
    const QJsonArray logs = demoState().value("client_logs").toArray();
    ASSERT_EQ(logs.size(), 1);
    const QJsonObject params = logs.first().toObject().value("params").toObject();
    EXPECT_EQ(params.value("file_name").toString(), "Lanternfish_2026_Jan_01.crash");
    EXPECT_EQ(params.value("client_type").toString(), "linux");
    EXPECT_EQ(params.value("log_type").toString(), "crash");
    EXPECT_EQ(params.value("log_guid").toString(), getClientID());
    EXPECT_EQ(logs.first().toObject().value("bytes").toInt(), 18);
}
