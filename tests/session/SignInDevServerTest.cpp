// Sign-in end to end against the reference server, in-process over loopback.
#include "session/Service.h"

#include "devserver/DevServer.h"
#include "foundation/Clock.h"
#include "foundation/Credentials.h"
#include "foundation/MainThread.h"
#include "foundation/Prefs.h"
#include "foundation/Workers.h"
#include "support/DemoServer.h"
#include "support/SessionFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace lf;
using namespace lf::test;

namespace {

const QString kDemoEmail = QStringLiteral("demo@lanternfish.test");
const QString kDemoPassword = QStringLiteral("lanternfish");

class SignInDevServerTest : public SessionTest {
protected:
    // Paths the server saw since the last reset.
    QStringList requestedPaths() {
        QStringList out;
        for (const QJsonObject &r : requests())
            out.append(r.value("path").toString());
        return out;
    }
};

TEST_F(SignInDevServerTest, PasswordSignInLoadsSitesAndProfile) {
    const QVariantMap result = connect(kDemoEmail, kDemoPassword);
    ASSERT_FALSE(result.contains("error")) << result.value("error").toString().toStdString();
    EXPECT_EQ(result.value("clientAction"), "connect");
    EXPECT_FALSE(result.value("services").toList().isEmpty());

    const QString token = Credentials::storedCredentials().token.value_or(QString());
    EXPECT_FALSE(token.isEmpty());
    EXPECT_EQ(Prefs::prefForKey(PrefKey::UserName).toString(), kDemoEmail);
    EXPECT_FALSE(service->profile().value("name").toString().isEmpty());
    EXPECT_FALSE(service->accessToken().isEmpty());
    EXPECT_TRUE(service->sites().contains("photostream"));
    EXPECT_TRUE(service->builtinSites().size() >= service->sites().size());
    EXPECT_FALSE(service->internal());

    // The server kept the client_info that the identity check carried, under this installation's ID.
    const QJsonArray users = devCall("GET", "/__dev/state").toObject().value("users").toArray();
    QString os;
    for (const QJsonValue &u : users) {
        if (u.toObject().value("email").toString() == kDemoEmail)
            os = u.toObject()
                     .value("client_info")
                     .toObject()
                     .value(service->clientID())
                     .toObject()
                     .value("os")
                     .toString();
    }
    EXPECT_EQ(os, "linux");
}

TEST_F(SignInDevServerTest, StoredTokenSignsInWithoutTheIdentityCheck) {
    ASSERT_FALSE(connect(kDemoEmail, kDemoPassword).contains("error"));
    const QString token = service->userToken();

    service->setDelegate(nullptr);
    service = std::make_shared<Service>();
    service->setDelegate(&delegate);
    devCall("POST", "/__dev/reset");
    const QVariantMap result = connect(kDemoEmail, {}, token);
    EXPECT_FALSE(result.contains("error")) << result.value("error").toString().toStdString();
    EXPECT_FALSE(requestedPaths().contains("/api/user/verify"));
    EXPECT_TRUE(service->sites().contains("photostream"));
}

TEST_F(SignInDevServerTest, WrongPasswordAndStaleTokenFailWithTheServersReason) {
    devCall("POST", "/__dev/reset");
    const QVariantMap wrong = connect(kDemoEmail, "not the password");
    EXPECT_EQ(wrong.value("status"), 401);
    EXPECT_EQ(wrong.value("error"), "Unauthorized");
    EXPECT_FALSE(wrong.value("body").toMap().value("Error").toString().isEmpty());
    EXPECT_EQ(requestedPaths(), QStringList {"/api/user/verify"});
    EXPECT_EQ(service->userName(), kDemoEmail);
    EXPECT_EQ(service->userToken(), "");
    EXPECT_FALSE(Credentials::storedCredentials().token.has_value());

    devCall("POST", "/__dev/reset");
    const QVariantMap stale = connect(kDemoEmail, {}, "no-longer-valid");
    EXPECT_EQ(stale.value("status"), 401);
    EXPECT_FALSE(requestedPaths().contains("/api/user/verify"));
    EXPECT_TRUE(service->profile().isEmpty());
    service->setSitesDirty(false);
    EXPECT_TRUE(service->sites().isEmpty());

    const QVariantMap pending = connect("pending@lanternfish.test", kDemoPassword);
    EXPECT_EQ(pending.value("status"), 403);
}

TEST_F(SignInDevServerTest, ADroppedRequestIsSentAgainOnlyByTheRetryAfterItsDelay) {
    ScopedFakeClock fake;
    devCall("POST", "/__dev/faults",
        {{"method", "GET"}, {"path", "/api/user/profile"},
            {"responses", QJsonArray {QJsonObject {{"drop", true}}}}});
    const QVariantMap result = connect(kDemoEmail, kDemoPassword);
    EXPECT_FALSE(result.contains("error")) << result.value("error").toString().toStdString();
    EXPECT_EQ(requestedPaths().count("/api/user/profile"), 2);
    EXPECT_FALSE(service->accessToken().isEmpty());
    // The second attempt is the request layer's, one second later; libcurl sent nothing of its own.
    EXPECT_EQ(fake.clock.slept(), std::chrono::seconds(1));

    // Without retries, a dropped POST on a kept-alive connection went out once, and says so.
    devCall("POST", "/__dev/reset");
    devCall("POST", "/__dev/faults",
        {{"method", "POST"}, {"path", "/api/client/update_info"},
            {"responses", QJsonArray {QJsonObject {{"drop", true}}}}});
    // A request layer of its own with the session's identity: the transport and its connections are shared.
    ServiceAPI api;
    api.setUserName(service->userName());
    api.setUserToken(service->userToken());
    ASSERT_FALSE(api.getUserProfile().isError()); // the connection that the POST reuses
    ApiRequest post = api.postRequest(ServiceAPI::plainURL("/api/client/update_info"), {}, {});
    post.retry = false;
    EXPECT_EQ(api.sendSynchronousRequest(post).httpStatus(), NetError::ConnectionLost);
    EXPECT_EQ(requestedPaths().count("/api/client/update_info"), 1);
}

} // namespace
