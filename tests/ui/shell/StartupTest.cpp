#include "ShellFixture.h"

#include "shell/MainController.h"
#include "shell/MainWindow.h"
#include "shell/ProgressSheet.h"
#include "shell/WindowFrame.h"

#include "foundation/Clock.h"
#include "foundation/Credentials.h"
#include "foundation/Prefs.h"
#include "foundation/Workers.h"
#include "sending/ShareTaskManager.h"
#include "session/Service.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace lf::test {
namespace {

using namespace std::chrono_literals;

TEST_F(ShellTest, LaunchRunsItsStepsInOrderAndAppliesOnlyTheMissingFirstRunBlock) {
    // A user who changed a first-block setting long ago keeps it.
    Prefs::setPref(QDateTime::currentDateTimeUtc(), QLatin1String(PrefKey::FirstRun001));
    Prefs::setBoolPref(false, QLatin1String(PrefKey::Sounds));
    launch();

    EXPECT_EQ(app->startupSteps(),
        QStringList({"logs", "reset", "singleton", "defaults", "observers", "manager", "delegate", "internal",
            "window", "timers", "finished"}));
    EXPECT_EQ(MacClientAppDelegate::singleton(), app.get());
    EXPECT_EQ(Service::currentService()->delegate(), app.get());
    EXPECT_EQ(ShareTaskManager::singleton(), app->shareTaskManager());
    EXPECT_TRUE(app->window()->isVisible());
    EXPECT_TRUE(app->finishedLaunching());

    EXPECT_FALSE(Prefs::boolPrefForKey(QLatin1String(PrefKey::Sounds), true));
    EXPECT_FALSE(Prefs::prefForKey(QLatin1String(PrefKey::CameraGPSInfo)).isValid());
    EXPECT_TRUE(Prefs::boolPrefForKey(QLatin1String(PrefKey::ShareHighResPhotos), false));
    EXPECT_FALSE(Prefs::boolPrefForKey(QLatin1String(PrefKey::StagedOnWifi2), true));
    EXPECT_TRUE(Prefs::prefForKey(QLatin1String(PrefKey::FirstRun002)).isValid());

    // Without stored credentials the start-up timer only asks for the sign-in window.
    ASSERT_TRUE(waitUntil([this] { return signInRequests == 1; }));
    EXPECT_FALSE(app->authenticating());
    EXPECT_TRUE(Prefs::boolPrefForKey(QLatin1String(PrefKey::CanUploadCrashLogs), false));
}

TEST_F(ShellTest, AnUpdateOnOfferKeepsStartUpFromSigningIn) {
    struct Offering : UpdateChecker {
        void checkForUpdate(std::function<void(bool)> done) override { done(true); }
    };
    app = std::make_unique<MacClientAppDelegate>();
    app->setSignInRequester([this] { ++signInRequests; });
    app->setUpdateChecker(std::make_unique<Offering>());
    app->applicationDidFinishLaunching();
    ASSERT_TRUE(
        waitUntil([] { return Prefs::boolPrefForKey(QLatin1String(PrefKey::CanUploadCrashLogs), false); }));
    deliverMainThreadWork();
    EXPECT_EQ(signInRequests, 0);
}

TEST_F(ShellTest, AUsersNoToCrashReportsSurvivesTheNextStart) {
    launch();
    ASSERT_TRUE(waitUntil([this] { return signInRequests == 1; }));
    EXPECT_TRUE(Prefs::boolPrefForKey(QLatin1String(PrefKey::CanUploadCrashLogs), false));
    // As the settings sheet stores the choice.
    Prefs::setBoolPref(false, QLatin1String(PrefKey::CanUploadCrashLogs));
    shutDown();

    signInRequests = 0;
    launch();
    ASSERT_TRUE(waitUntil([this] { return signInRequests == 1; }));
    EXPECT_FALSE(Prefs::boolPrefForKey(QLatin1String(PrefKey::CanUploadCrashLogs), true));
}

TEST_F(ShellTest, ActivationBringsBackAMinimisedWindow) {
    launch();
    app->window()->showMinimized();
    ASSERT_TRUE(app->window()->isMinimized());
    app->activate();
    EXPECT_FALSE(app->window()->isMinimized());
    EXPECT_TRUE(app->window()->isVisible());
    // The tray's window item takes the same way.
    app->window()->showMinimized();
    app->doDockMenu(MacClientAppDelegate::kTagDockFirst);
    EXPECT_FALSE(app->window()->isMinimized());
}

TEST_F(ShellTest, SignsInAtStartWithTheStoredTokenAndShowsTheUser) {
    launch();
    signIn();
    shutDown();
    QString user, token;
    ASSERT_TRUE(Credentials::loadCredentials(user, token));
    devCall("POST", QStringLiteral("/__dev/reset"));
    log->clear();
    signInRequests = 0;

    launch();
    ASSERT_TRUE(waitUntil([this] { return app->authenticating() || app->authenticated(); }));
    // The progress sheet is over the window while the sign-in runs.
    ASSERT_TRUE(waitForSignIn());
    EXPECT_TRUE(app->authenticated());
    EXPECT_EQ(signInRequests, 0) << "no sheet flashes over a sign-in that works";
    ASSERT_EQ(log->count(QStringLiteral("connect"), QStringLiteral("success")), 1);
    EXPECT_EQ(log->count(QStringLiteral("userChanged")), 1);
    EXPECT_EQ(log->count(QStringLiteral("updateExternal")), 1);
    EXPECT_EQ(requestCount("GET", QStringLiteral("/api/user_address_book_entries")), 1);
    EXPECT_EQ(app->mainController()->fromLabel()->text(), QStringLiteral("From: ") + kDemoEmail);
    EXPECT_FALSE(app->progressSheet()->isUp());
}

TEST_F(ShellTest, AStoredTokenThatNoLongerWorksAsksForTheSheetOnce) {
    launch();
    signIn();
    shutDown();
    Credentials::saveCredentials(kDemoEmail, QStringLiteral("revoked"));
    signInRequests = 0;
    launch();
    ASSERT_TRUE(waitUntil([this] { return app->authenticating(); }));
    ASSERT_TRUE(waitForSignIn());
    EXPECT_FALSE(app->authenticated());
    EXPECT_EQ(signInRequests, 1);
}

TEST_F(ShellTest, SignOutSticksAcrossARestartAndKeepsTheAddress) {
    launch();
    signIn();
    app->doSignOut();
    QString user, token;
    EXPECT_FALSE(Credentials::loadCredentials(user, token)) << "the token is gone";
    EXPECT_EQ(Prefs::prefForKey(QLatin1String(PrefKey::UserName)).toString(), kDemoEmail);
    EXPECT_FALSE(app->mainController()->shareButton()->isEnabled());

    shutDown();
    devCall("POST", QStringLiteral("/__dev/reset"));
    signInRequests = 0;
    launch();
    ASSERT_TRUE(waitUntil([this] { return signInRequests == 1; }));
    deliverMainThreadWork();
    EXPECT_FALSE(app->authenticating());
    EXPECT_FALSE(app->authenticated());
    EXPECT_EQ(requestCount("GET", QStringLiteral("/api/")), 0) << "nobody was signed in again";
}

TEST_F(ShellTest, ContactsReloadOnlyAfterTwoMinutesAway) {
    launch();
    signIn();
    // Counted by the reload's own end ("updateExternal"), not by the server's requests, which
    // other parts of the window may make too.
    const auto reloadsAfter = [this](std::chrono::milliseconds away) {
        const int before = log->count(QStringLiteral("updateExternal"));
        ScopedFakeClock fake;
        app->applicationDidResignActive();
        fake.clock.advance(away);
        app->applicationDidBecomeActive();
        Workers::instance().waitForAll(10000);
        deliverMainThreadWork();
        return log->count(QStringLiteral("updateExternal")) - before;
    };
    EXPECT_EQ(reloadsAfter(119s), 0);
    EXPECT_EQ(reloadsAfter(121s), 1);
}

TEST_F(ShellTest, TheSavedFrameIsUsedOnlyWhenItsTitleStripIsOnAScreen) {
    const QRect screen(0, 0, 1280, 800);
    EXPECT_TRUE(WindowFrame::titleStripVisible(QRect(100, 100, 500, 600), {screen}));
    // Hanging off the top or the side with most of its title bar still reachable.
    EXPECT_TRUE(WindowFrame::titleStripVisible(QRect(-300, 780, 500, 600), {screen}));
    EXPECT_FALSE(WindowFrame::titleStripVisible(QRect(-480, 100, 500, 600), {screen}));
    EXPECT_FALSE(WindowFrame::titleStripVisible(QRect(3000, 100, 500, 600), {screen}));
    EXPECT_FALSE(WindowFrame::titleStripVisible(QRect(100, -200, 500, 600), {screen}));
    EXPECT_TRUE(
        WindowFrame::titleStripVisible(QRect(1400, 100, 500, 600), {screen, QRect(1280, 0, 1920, 1080)}));

    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect onScreen(available.x() + 40, available.y() + 30, 520, 600);
    WindowFrame::store(onScreen);
    launch();
    EXPECT_EQ(app->window()->geometry(), onScreen);
    shutDown();

    WindowFrame::store(QRect(available.right() + 5000, available.y() + 30, 520, 600));
    launch();
    EXPECT_TRUE(available.intersects(app->window()->geometry()));

    // Moving the window stores its frame once the move settles.
    const QRect moved(available.x() + 60, available.y() + 50, 540, 610);
    app->window()->setGeometry(moved);
    EXPECT_TRUE(waitUntil([&] { return WindowFrame::saved() == moved; }, 3000));
}

} // namespace
} // namespace lf::test
