#include "session/Service.h"

#include "BuildConfig.h"
#include "foundation/Clock.h"
#include "foundation/Credentials.h"
#include "foundation/MainThread.h"
#include "foundation/Prefs.h"
#include "foundation/Workers.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"
#include "support/Waits.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <stdexcept>

using namespace lf;
using namespace lf::test;

namespace {

// Records what the session reports, and where.
class RecordingDelegate : public ServiceDelegate {
public:
    void serviceThreadCompleted(const QVariantMap &result) override {
        onMainThread = onMainThread && isMainThread();
        workersWhileDelivering = Workers::instance().runningCount();
        results.append(result);
    }
    void serviceThreadProgress(const QVariantMap &progress) override {
        onMainThread = onMainThread && isMainThread();
        progressRecords.append(progress);
    }

    QList<QVariantMap> results;
    QList<QVariantMap> progressRecords;
    bool onMainThread = true;
    int workersWhileDelivering = -1;
};

// A small stand-in for the service's sign-in endpoints: password "right" earns token "T1".
ScriptedReply answer(const ScriptedServer &server, const RecordedRequest &r) {
    const QJsonObject user = QJsonDocument::fromJson(r.header("X-Lanternfish-User")).object();
    if (r.path == "/api/user/verify") {
        if (user.value("password").toString() == "right")
            return ScriptedReply::json(R"({"user_token":"T1"})");
        return ScriptedReply::json(R"({"Error":"Wrong e-mail or password"})", 401);
    }
    const bool tokenOk = user.value("user_token").toString() == "T1";
    if (r.path == "/")
        return ScriptedReply::json(
            QStringLiteral(R"({"user":{"name":"Ann","roles":["member"],)"
                           R"("bundles":{"uri":"%1/bundles"},"services":{"uri":"%1/services"}}})")
                .arg(server.baseUrl())
                .toUtf8());
    if (r.path == "/services") {
        if (!tokenOk)
            return ScriptedReply::json(R"({"Error":"Token expired"})", 401);
        return ScriptedReply::json(
            R"({"services":[)"
            R"({"name":"flickr","capabilities":{"destination":1},"connected":true},)"
            R"({"name":"picasa","capabilities":{"destination":1},"connected":false},)"
            R"({"name":"gmail","capabilities":{"address_source":1},"connected":true}]})");
    }
    if (r.path == "/api/user/profile")
        return ScriptedReply::json(R"({"al":"AL1"})");
    return ScriptedReply::json(R"({"Error":"no route"})", 404);
}

class ServiceTest : public TempHomeTest {
protected:
    void SetUp() override {
        Prefs::reloadLocation();
        ServiceAPI::setHost(server.host(), QString::number(server.port()));
        server.setHandler([this](const RecordedRequest &r) { return answer(server, r); });
        service = std::make_shared<Service>();
        service->setDelegate(&delegate);
    }
    void TearDown() override {
        Workers::instance().waitForAll(5000);
        service->setDelegate(nullptr);
        HttpTransport::shared().clearCookies();
    }

    QVariantMap signIn(const QString &email, const QString &password, const QString &token = {}) {
        const int before = int(delegate.results.size());
        service->connect(email, password, token);
        EXPECT_TRUE(waitUntil([&] { return delegate.results.size() > before; }, 10000));
        return delegate.results.value(before);
    }
    QList<QByteArray> paths() const {
        QList<QByteArray> out;
        for (const auto &r : server.requests())
            out.append(r.path);
        return out;
    }

    ScriptedServer server;
    RecordingDelegate delegate;
    std::shared_ptr<Service> service;
};

TEST_F(ServiceTest, PasswordSignInStoresTheTokenAndLoadsSitesAndProfile) {
    const QVariantMap result = signIn("ann@example.com", "right");

    EXPECT_FALSE(result.contains("error")) << result.value("error").toString().toStdString();
    EXPECT_EQ(result.value("clientAction"), "connect");
    EXPECT_EQ(result.value("services").toList().size(), 3);
    EXPECT_TRUE(delegate.onMainThread);
    // The sign-in worker waits for the delegate (the icon worker may be running beside it).
    EXPECT_GE(delegate.workersWhileDelivering, 1);
    EXPECT_EQ(paths(), (QList<QByteArray> {"/api/user/verify", "/", "/services", "/api/user/profile"}));

    EXPECT_EQ(Prefs::prefForKey(PrefKey::UserName).toString(), "ann@example.com");
    // Kept in the keyring when one runs, in the preferences otherwise.
    EXPECT_EQ(Credentials::storedCredentials().token, std::optional<QString>("T1"));
    EXPECT_EQ(service->userToken(), "T1");
    EXPECT_EQ(service->profile().value("name"), "Ann");
    EXPECT_EQ(service->accessToken(), "AL1");
    EXPECT_EQ(service->sites(), QStringList {"flickr"});
    EXPECT_EQ(service->builtinSites(), (QStringList {"flickr", "picasa"}));
    EXPECT_EQ(service->destinations().size(), 2);
    EXPECT_TRUE(service->getClientBrowserURL(true).contains("al=AL1&url=%2F%3Fview%3Dview%26filter%3Dsent"));

    // Signing out keeps the stored credentials; forgetting the token removes it.
    service->disconnect();
    EXPECT_TRUE(service->profile().isEmpty());
    EXPECT_EQ(Credentials::storedCredentials().token, std::optional<QString>("T1"));
    service->forgetToken();
    EXPECT_FALSE(Credentials::storedCredentials().token.has_value());
    EXPECT_TRUE(service->userToken().isEmpty());
}

TEST_F(ServiceTest, AFailureInsideAStepStillReachesTheDelegate) {
    service->setSitesLoadedHook([] { throw std::runtime_error("icon folder unusable"); });
    const QVariantMap result = signIn("ann@example.com", "right");
    EXPECT_EQ(result.value("clientAction"), "connect");
    EXPECT_EQ(result.value("error"), "icon folder unusable");
}

TEST_F(ServiceTest, AVerifiedPasswordWithoutATokenIsAFailure) {
    server.enqueue(ScriptedReply::json(R"({"ok":true})"));
    const QVariantMap result = signIn("ann@example.com", "right");
    EXPECT_TRUE(result.contains("error"));
    EXPECT_EQ(paths(), QList<QByteArray> {"/api/user/verify"});
}

// How old the sites may get is checked against the reference server (SiteResourcesTest).
TEST_F(ServiceTest, ANewServerChoiceFlagsEverythingCachedFromTheOldOne) {
    signIn("ann@example.com", {}, "T1");
    service->chooseHost(3);
    EXPECT_TRUE(service->sitesDirty());
    EXPECT_TRUE(service->signInDirty());
    EXPECT_TRUE(service->contactsDirty());
}

TEST_F(ServiceTest, StaffAccountsByDomainOrRole) {
    service->setName(QStringLiteral("BOSS@") + QStringLiteral(LF_STAFF_DOMAIN).toUpper(), "T");
    EXPECT_TRUE(service->internal());
    service->setName("ann@example.com", "T");
    EXPECT_FALSE(service->internal());
    service->setProfile({{"roles", QStringList {"member", "admin"}}});
    EXPECT_TRUE(service->internal());
}

TEST_F(ServiceTest, ProgressReachesTheMainThreadUnlessCancelled) {
    service->progress("upload", 0.5, true); // waits: delivered on return
    EXPECT_EQ(delegate.progressRecords.value(0), (QVariantMap {{"what", "upload"}, {"value", 0.5}}));
    service->progress("network", "[retrying]");
    service->progressConnected();
    service->setCancelled(true);
    service->progress("upload", 0.75, false);
    service->setCancelled(false);
    waitUntil([&] { return delegate.progressRecords.size() >= 3; }, 1000);
    EXPECT_EQ(delegate.progressRecords.size(), 3);
    EXPECT_EQ(delegate.progressRecords.value(1).value("string"), "[retrying]");
    EXPECT_EQ(delegate.progressRecords.value(2), (QVariantMap {{"what", "!"}}));
    EXPECT_TRUE(delegate.onMainThread);
}

TEST(ServiceSingleton, TerminateStartsANewSession) {
    TempHome home;
    Prefs::reloadLocation();
    const std::shared_ptr<Service> first = Service::currentService();
    EXPECT_EQ(Service::currentService(), first);
    Service::terminate();
    EXPECT_NE(Service::currentService(), first);
    Service::terminate();
}

} // namespace
