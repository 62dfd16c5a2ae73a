#include "ShellFixture.h"

#include "shell/ConsumerVC.h"
#include "shell/MainController.h"
#include "shell/MainWindow.h"
#include "shell/SocialSignInWC.h"
#include "shell/WebFlowWindow.h"

#include "foundation/NotificationCenter.h"
#include "session/Service.h"

#include <QWebEnginePage>
#include <QWebEngineView>

namespace lf::test {
namespace {

TEST(CallbackURLTest, ReadsEachSitesCallbackDecodingOnce) {
    const CallbackURL signIn = CallbackURL::parse(QStringLiteral(
        "callback.chirp?notice=Signed+in+with+Chirp&user_token=ab%2Bc%3D%3D&email=ann%40example.org"));
    EXPECT_TRUE(signIn.isFor(QStringLiteral("chirp")));
    EXPECT_FALSE(signIn.isFor(QStringLiteral("hirp"))) << "a site whose name ends another's";
    EXPECT_FALSE(signIn.isFor(QStringLiteral("photostream")));
    EXPECT_EQ(signIn.value("notice"), QStringLiteral("Signed in with Chirp"));
    // Escaped "+" and "=" belong to the token, and stay there.
    EXPECT_EQ(signIn.value("user_token"), QStringLiteral("ab+c=="));
    EXPECT_EQ(signIn.value("email"), QStringLiteral("ann@example.org"));

    const CallbackURL link
        = CallbackURL::parse(QStringLiteral("callback/photostream?notice=100%2525+sure&error=access_denied"));
    EXPECT_TRUE(link.isFor(QStringLiteral("photostream")));
    EXPECT_EQ(link.value("notice"), QStringLiteral("100%25 sure")) << "decoded once, not twice";
    EXPECT_EQ(link.value("error"), QStringLiteral("access_denied"));
    EXPECT_FALSE(CallbackURL::parse(QStringLiteral("callback/photostream")).has("error"));
}

class WebFlowTest : public ShellTest {
protected:
    static QVariant script(QWebEngineView *view, const QString &code) {
        QVariant result;
        bool done = false;
        view->page()->runJavaScript(code, [&](const QVariant &value) {
            result = value;
            done = true;
        });
        waitUntil([&] { return done; }, 10000);
        return result;
    }
    // Asks the page again until `code` is true (never from inside another wait: waits nest badly).
    static bool eventually(QWebEngineView *view, const QString &code) {
        for (int i = 0; i < 300; ++i) {
            if (script(view, code).toBool())
                return true;
            waitUntil([] { return false; }, 50);
        }
        return false;
    }
    // Waits for the site's page to offer its buttons, then presses one.
    static bool press(WebFlowWindow *window, const char *decision) {
        const QString button
            = QStringLiteral("document.querySelector('button[value=%1]')").arg(QLatin1String(decision));
        if (!eventually(window->view(), QStringLiteral("!!") + button))
            return false;
        script(window->view(), button + QStringLiteral(".click()"));
        return true;
    }
    static QVariantMap signInSite(const QString &name) {
        const QVariantList services = Service::currentService()
                                          ->unauthRoot()
                                          .value(QStringLiteral("authentication"))
                                          .toMap()
                                          .value(QStringLiteral("services"))
                                          .toList();
        for (const QVariant &site : services) {
            if (site.toMap().value(QStringLiteral("name")).toString() == name)
                return site.toMap();
        }
        return {};
    }
};

TEST_F(WebFlowTest, ChirpVouchesForTheUserAndALaterCallbackIsIgnored) {
    launch();
    const QVariantMap chirp = signInSite(QStringLiteral("chirp"));
    ASSERT_FALSE(chirp.isEmpty());
    QPointer<SocialSignInWC> window = SocialSignInWC::requestWC(chirp, app->window());
    EXPECT_EQ(SocialSignInWC::requestWC(chirp, app->window()), window.data()) << "one window per site";
    EXPECT_TRUE(
        window->url().contains(QStringLiteral("source=linux&callback=lanternfish%3A%2F%2Fcallback.chirp")));
    ASSERT_TRUE(eventually(window->view(), QStringLiteral("!!document.getElementById('email')")));
    script(window->view(), QStringLiteral("document.getElementById('email').value='ann@chirp.example'"));
    ASSERT_TRUE(press(window, "allow"));
    ASSERT_TRUE(waitUntil([&] { return !window; }));
    ASSERT_TRUE(waitForSignIn());
    EXPECT_TRUE(app->authenticated());
    EXPECT_EQ(Service::currentService()->userName(), QStringLiteral("ann@chirp.example"));
    EXPECT_EQ(log->count(QLatin1String(MacClientAppDelegate::kAuthenticated),
                  QStringLiteral("Signed in with Chirp")),
        1);

    // The same address handed in by the desktop later finds no window waiting: nobody signs in.
    app->getUrl(QStringLiteral("lanternfish://callback.chirp?user_token=forged&email=mallory%40example.org"));
    deliverMainThreadWork();
    EXPECT_FALSE(app->authenticating());
    EXPECT_EQ(Service::currentService()->userName(), QStringLiteral("ann@chirp.example"));
}

TEST_F(WebFlowTest, ASignInByScriptClosesTheWaitingSocialWindow) {
    launch();
    const QVariantMap chirp = signInSite(QStringLiteral("chirp"));
    ASSERT_FALSE(chirp.isEmpty());
    QPointer<SocialSignInWC> window = SocialSignInWC::requestWC(chirp, app->window());
    ASSERT_TRUE(eventually(window->view(), QStringLiteral("!!document.getElementById('email')")));
    // A failed attempt leaves it for the user.
    app->scriptSignIn({{"email", kDemoEmail}, {"password", "wrong"}});
    ASSERT_TRUE(waitForSignIn());
    EXPECT_FALSE(app->authenticated());
    EXPECT_TRUE(window && window->isVisible());
    app->scriptSignIn({{"email", kDemoEmail}, {"password", kDemoPassword}});
    ASSERT_TRUE(waitForSignIn());
    EXPECT_TRUE(app->authenticated());
    EXPECT_TRUE(waitUntil([&] { return !window; }));
}

TEST_F(WebFlowTest, OnlyTheWaitingWindowsOwnViewWithItsStateCanEndTheFlow) {
    launch();
    const QVariantMap chirp = signInSite(QStringLiteral("chirp"));
    ASSERT_FALSE(chirp.isEmpty());
    QPointer<SocialSignInWC> window = SocialSignInWC::requestWC(chirp, app->window());
    const QString state = window->url().section(QStringLiteral("state="), 1).section(QLatin1Char('&'), 0, 0);
    ASSERT_GE(state.size(), 16) << window->url().toStdString();
    ASSERT_TRUE(eventually(window->view(), QStringLiteral("!!document.getElementById('email')")));

    // From the desktop (a second start, the bus's Open), or without the flow's state, nobody signs in.
    const QString forged = QStringLiteral("callback.chirp?user_token=forged&email=mallory%40example.org");
    app->getUrl(QStringLiteral("lanternfish://") + forged);
    window->callbackCaught(forged);
    window->callbackCaught(forged + QStringLiteral("&state=0123456789abcdef0123456789abcdef"));
    deliverMainThreadWork();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->waiting());
    EXPECT_FALSE(app->authenticating());
    EXPECT_FALSE(app->authenticated());
    EXPECT_EQ(log->count(QLatin1String(MacClientAppDelegate::kAuthenticated)), 0);

    // The site's own answer carries the state back: that one counts, once.
    script(window->view(), QStringLiteral("document.getElementById('email').value='ann@chirp.example'"));
    ASSERT_TRUE(press(window, "allow"));
    ASSERT_TRUE(waitUntil([&] { return !window; }));
    ASSERT_TRUE(waitForSignIn());
    EXPECT_EQ(Service::currentService()->userName(), QStringLiteral("ann@chirp.example"));
}

TEST_F(WebFlowTest, LinkingPhotoStreamShowsItLinkedAndDenyingChangesNothing) {
    launch();
    signIn();
    Service::currentService()->unlinkConsumer(QStringLiteral("photostream"));
    ASSERT_FALSE(Service::currentService()->sites().contains(QStringLiteral("photostream")));
    QPointer<ConsumerVC> window = ConsumerVC::requestConsumer(
        QStringLiteral("photostream"), false, QStringLiteral("PhotoStream"), app->window());
    window->load();
    EXPECT_EQ(ConsumerVC::requestConsumer(
                  QStringLiteral("photostream"), false, QStringLiteral("PhotoStream"), app->window()),
        window.data());
    ASSERT_TRUE(press(window, "deny"));
    ASSERT_TRUE(waitUntil([&] { return !window; }));
    EXPECT_EQ(log->count(QLatin1String(MainController::kSitesChanged)), 0);

    window = ConsumerVC::requestConsumer(
        QStringLiteral("photostream"), false, QStringLiteral("PhotoStream"), app->window());
    window->load();
    ASSERT_TRUE(press(window, "allow"));
    ASSERT_TRUE(waitUntil([&] { return !window; }));
    EXPECT_EQ(log->count(QLatin1String(WebFlowWindow::kGrowl),
                  QStringLiteral("PhotoStream is now linked to Lanternfish")),
        1);
    EXPECT_EQ(log->count(QLatin1String(MainController::kSitesChanged)), 1);
    EXPECT_TRUE(Service::currentService()->sites().contains(QStringLiteral("photostream")));

    // A linking window that is hidden is done with.
    window = ConsumerVC::requestConsumer(
        QStringLiteral("photostream"), false, QStringLiteral("PhotoStream"), app->window());
    window->hide();
    EXPECT_TRUE(waitUntil([&] { return !window; }));
}

} // namespace
} // namespace lf::test
