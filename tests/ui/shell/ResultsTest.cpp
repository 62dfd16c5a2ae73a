#include "ShellFixture.h"

#include "shell/MainWindow.h"
#include "shell/ProgressSheet.h"

#include "api/APIResult.h"
#include "foundation/Clock.h"
#include "foundation/Credentials.h"
#include "foundation/Prefs.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "session/Service.h"
#include "toolkit/ClockTimer.h"
#include "toolkit/LFAlert.h"

#include <QJsonObject>

namespace lf::test {
namespace {

using namespace std::chrono_literals;

QVariantMap connectFailure(
    int status, const QVariant &body = {}, const QString &error = QStringLiteral("failed")) {
    QVariantMap record {{"clientAction", "connect"}, {"error", error}, {"status", status}};
    if (body.isValid())
        record.insert(QStringLiteral("body"), body);
    return record;
}

class ResultsTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        launch();
        ASSERT_TRUE(waitUntil([this] { return signInRequests == 1; }));
    }

    // Hands the record to the delegate as the session would and lets the 0.2-second delay pass.
    QString balloonFor(const QVariantMap &record) {
        LFAlert::cleanupNoAction();
        ScopedFakeClock fake;
        app->beginProgressSheet(QStringLiteral("signing in"));
        app->serviceThreadCompleted(record);
        EXPECT_FALSE(app->progressSheet()->isUp());
        ClockTimer::checkDueTimers();
        EXPECT_TRUE(balloonText().isEmpty()) << "the balloon waits for the sheet to go";
        fake.clock.advance(250ms);
        ClockTimer::checkDueTimers();
        return balloonText();
    }
};

TEST_F(ResultsTest, FailedSignInsBecomeBalloonsChosenByStatus) {
    Prefs::setPref(QStringLiteral("new@lanternfish.test"), QLatin1String(PrefKey::UserName));
    EXPECT_EQ(balloonFor(connectFailure(403)),
        QStringLiteral(
            "Please confirm your e-mail address first: we sent a message to new@lanternfish.test"));
    EXPECT_EQ(balloonFor(connectFailure(500)), localizedString(QStringLiteral("[500]")));
    EXPECT_EQ(balloonFor(connectFailure(-1012)), localizedString(QStringLiteral("[boguspassword]")));
    EXPECT_EQ(balloonFor(connectFailure(401, QVariantMap {{"Error", "No such account"}})),
        QStringLiteral("No such account"));
    EXPECT_EQ(balloonFor(connectFailure(422, QStringLiteral("plain words"))), QStringLiteral("plain words"));
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(log->count(QStringLiteral("connect"), QStringLiteral("failure")), 5);
    EXPECT_EQ(signInRequests, 1 + 5);
    EXPECT_TRUE(alerts.isEmpty());

    // Offline: the balloon's own action quits.
    EXPECT_EQ(balloonFor(connectFailure(
                  -1009, {}, QStringLiteral("The Internet connection appears to be offline."))),
        QStringLiteral("The Internet connection appears to be offline."));
    LFAlert::current()->doClose();
    EXPECT_EQ(quits, 1);
}

TEST_F(ResultsTest, ASignInFromTheSignInWindowDoesNotAskForItAgain) {
    app->setAuthenticatingFromPanel(true);
    balloonFor(connectFailure(500));
    EXPECT_EQ(signInRequests, 1);
    // Awaiting the e-mail confirmation: nothing shown, nothing posted.
    app->setWaitingForMail(true);
    EXPECT_TRUE(balloonFor(connectFailure(500)).isEmpty());
    EXPECT_EQ(log->count(QStringLiteral("connect")), 1);
}

TEST_F(ResultsTest, AWrongPasswordShowsTheServersOwnMessage) {
    ScopedFakeClock fake;
    app->authenticate(kDemoEmail, QStringLiteral("not the password"), {});
    ASSERT_TRUE(waitUntil([this] { return !app->authenticating(); }));
    fake.clock.advance(250ms);
    ClockTimer::checkDueTimers();
    const QVariantMap record = log->named(QStringLiteral("connect")).value(0).userInfo;
    ASSERT_EQ(record.value("status").toInt(), 401);
    EXPECT_FALSE(balloonText().isEmpty());
    EXPECT_EQ(balloonText(), APIResult::bodyMessage(record.value("body")));
    EXPECT_FALSE(app->authenticated());
}

TEST_F(ResultsTest, ALaterSignInClosesTheFailuresBalloonShownOrAboutToShow) {
    const auto failThenSucceed = [this](bool balloonFirst) {
        app->authenticate(kDemoEmail, QStringLiteral("not the password"), {});
        ASSERT_TRUE(waitUntil([this] { return !app->authenticating(); }));
        if (balloonFirst) {
            ASSERT_TRUE(waitUntil([] { return !balloonText().isEmpty(); }));
        }
        signIn();
        // Past the balloon's 0.2-second delay.
        waitUntil([] { return false; }, 400);
        EXPECT_TRUE(balloonText().isEmpty()) << balloonText().toStdString();
    };
    failThenSucceed(true);
    app->doSignOut();
    failThenSucceed(false);
}

TEST_F(ResultsTest, SignInsAtOnceRunOneAfterTheOtherAndTheLatestWins) {
    // The first answer is slow: run side by side, the staff account's would land last.
    fault("GET", QStringLiteral("/api/user/verify"), QJsonArray {QJsonObject {{"delay_ms", 400}}});
    app->scriptSignIn({{"email", QStringLiteral("staff@lanternfish.test")}, {"password", kDemoPassword}});
    app->scriptSignIn({{"email", kDemoEmail}, {"password", kDemoPassword}});
    ASSERT_TRUE(waitUntil([this] {
        return log->count(QStringLiteral("connect"), QStringLiteral("success")) == 2
            && !app->authenticating();
    }));
    ASSERT_TRUE(waitForSignIn());
    EXPECT_TRUE(app->authenticated());
    EXPECT_EQ(Service::currentService()->userName(), kDemoEmail);
    EXPECT_FALSE(app->isInternal());
    EXPECT_FALSE(app->serverMenuLive()) << "the staff menu for a demo user";
    // The stored token is the demo account's own.
    QString user, token;
    ASSERT_TRUE(Credentials::loadCredentials(user, token));
    EXPECT_EQ(user, kDemoEmail);
    QStringList demoTokens;
    for (const QJsonValue &u :
        devCall("GET", QStringLiteral("/__dev/state")).toObject().value("users").toArray()) {
        if (u.toObject().value("email").toString() == kDemoEmail) {
            for (const QJsonValue &t : u.toObject().value("tokens").toArray())
                demoTokens.append(t.toObject().value("token").toString());
        }
    }
    EXPECT_TRUE(demoTokens.contains(token));
}

TEST_F(ResultsTest, UnexpectedStatusesAskWithTheNetworkAlert) {
    answer = StandardAlert::Default;
    app->serviceThreadCompleted(connectFailure(503, {}, QStringLiteral("Service Unavailable")));
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].message, QStringLiteral("Network"));
    EXPECT_EQ(alerts[0].informativeText, QStringLiteral("Service Unavailable"));
    EXPECT_EQ(alerts[0].buttons, QStringList {QStringLiteral("Quit")});
    EXPECT_EQ(quits, 1);

    // A staff account may pick another server instead; even a 4xx asks then.
    Service::currentService()->setProfile({{"roles", QStringList {"admin"}}});
    app->checkInternal();
    EXPECT_TRUE(app->serverMenuLive());
    answer = StandardAlert::Alternate;
    app->serviceThreadCompleted(connectFailure(401, QVariantMap {{"Error", "nope"}}));
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_EQ(
        alerts[1].buttons, QStringList({QStringLiteral("Quit"), QStringLiteral("Try Different Server")}));
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(balloonText().isEmpty());
}

TEST_F(ResultsTest, AnHtmlErrorPageIsNeverShownAndAServerErrorWaitsForTheNetwork) {
    ScopedFakeClock fake;
    const APIResult page = APIResult::httpFailure(500, "<!DOCTYPE html><html><body>Oops</body></html>");
    EXPECT_FALSE(app->checkNetError(page, QStringLiteral("Network")));
    EXPECT_EQ(app->lastNetStatus(), 500);
    EXPECT_EQ(balloonText(), localizedString(QStringLiteral("[500]")));
    LFAlert *alert = LFAlert::current();
    EXPECT_FALSE(alert->isModal());
    EXPECT_EQ(log->count(QStringLiteral("adjustFieldOnError")), 1);

    // Every 5 seconds it looks for the server; the server answers, so the balloon goes quietly
    // and, being signed out, the sign-in starts again.
    fake.clock.advance(5100ms);
    ClockTimer::checkDueTimers();
    // The check runs on a worker; its answer comes back to the main thread.
    Workers::instance().waitForAll(10000);
    deliverMainThreadWork();
    EXPECT_TRUE(balloonText().isEmpty());
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(signInRequests, 2);

    // Any other failure: the server's message in a modal balloon without a quit.
    EXPECT_FALSE(app->checkNetError(
        APIResult::httpFailure(404, R"({"Error": "No such group"})"), QStringLiteral("Network")));
    EXPECT_EQ(balloonText(), QStringLiteral("No such group"));
    EXPECT_TRUE(LFAlert::current()->isModal());
    LFAlert::current()->doClose();
    EXPECT_EQ(quits, 0);
    EXPECT_TRUE(app->checkNetError(APIResult::success("{}"), QStringLiteral("Network")));
}

TEST_F(ResultsTest, OfflineBalloonQuitsWhenDismissed) {
    EXPECT_FALSE(app->checkNetError(
        APIResult::networkFailure(-1009, QStringLiteral("offline")), QStringLiteral("Network")));
    EXPECT_EQ(balloonText(), QStringLiteral("offline"));
    LFAlert::current()->doClose();
    EXPECT_EQ(quits, 1);
}

} // namespace
} // namespace lf::test
