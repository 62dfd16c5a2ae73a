#include "ShellFixture.h"

#include "shell/MainController.h"
#include "shell/MainWindow.h"
#include "shell/SignInWC.h"
#include "shell/ToSVC.h"

#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Strings.h"
#include "session/Service.h"
#include "toolkit/ClockTimer.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

namespace lf::test {
namespace {

using namespace std::chrono_literals;

class SignInTest : public ShellTest {
protected:
    // Starts the program with the real sheet as its sign-in window.
    void launchWithSheet() {
        app = std::make_unique<MacClientAppDelegate>();
        app->setTerminator([this] { ++quits; });
        app->setSignInRequester([this] {
            ++signInRequests;
            SignInWC::requestWC(app->window());
        });
        app->applicationDidFinishLaunching();
        ASSERT_TRUE(waitUntil([] { return SignInWC::current() && SignInWC::current()->isVisible(); }));
        sheet = SignInWC::current();
    }

    QLineEdit *edit(int tag) const { return qobject_cast<QLineEdit *>(sheet->control(tag)); }
    QPushButton *button(int tag) const { return qobject_cast<QPushButton *>(sheet->control(tag)); }

    static void key(QWidget *to, int key, const QString &text = {}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(to, &press);
    }
    // Replaces the field's text by typing, as a user would.
    void type(int tag, const QString &text) {
        QLineEdit *field = edit(tag);
        field->selectAll();
        key(field, Qt::Key_Backspace);
        for (const QChar c : text)
            key(field, 0, QString(c));
        ASSERT_EQ(field->text(), text);
    }
    void script(const char *command, const QVariantMap &parameter) {
        NotificationCenter::defaultCenter().post(QLatin1String(MainController::kScriptCommand), {},
            {{QStringLiteral("command"), QLatin1String(command)}, {QStringLiteral("parameter"), parameter}});
    }
    bool sheetGone() const { return !sheet || !sheet->isVisible(); }

    QPointer<SignInWC> sheet;
};

TEST_F(SignInTest, OpensOnTheSignInPanelOnlyWithAStoredUserName) {
    launchWithSheet();
    EXPECT_EQ(sheet->panel(), SignInWC::TagWantAccount);
    EXPECT_TRUE(qobject_cast<QRadioButton *>(sheet->control(SignInWC::TagWantAccount))->isChecked());
    EXPECT_FALSE(button(SignInWC::TagSignIn)->isEnabled());
    EXPECT_FALSE(button(SignInWC::TagSignUp)->isEnabled());
    sheet->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(SignInWC::current());

    Prefs::setPref(kDemoEmail, QLatin1String(PrefKey::UserName));
    SignInWC::requestWC(app->window());
    sheet = SignInWC::current();
    EXPECT_EQ(sheet->panel(), SignInWC::TagHaveAccount);
    EXPECT_EQ(edit(SignInWC::TagSignInEmail)->text(), kDemoEmail);
    EXPECT_EQ(SignInWC::requestWC(app->window()), sheet.data()) << "one sheet at a time";
    for (QWidget *control : sheet->findChildren<QWidget *>()) {
        const bool labelled = !control->accessibleName().isEmpty();
        if (qobject_cast<QLineEdit *>(control) || qobject_cast<QAbstractButton *>(control)) {
            EXPECT_TRUE(labelled) << control->metaObject()->className();
        }
    }
}

TEST_F(SignInTest, ButtonsFollowTheFilledFields) {
    launchWithSheet();
    type(SignInWC::TagSignInEmail, QStringLiteral("not an address"));
    type(SignInWC::TagSignInPassword, QStringLiteral("abcd"));
    EXPECT_FALSE(button(SignInWC::TagSignIn)->isEnabled());
    type(SignInWC::TagSignInEmail, kDemoEmail);
    EXPECT_TRUE(button(SignInWC::TagSignIn)->isEnabled());
    type(SignInWC::TagSignInPassword, QStringLiteral("abc"));
    EXPECT_FALSE(button(SignInWC::TagSignIn)->isEnabled());

    struct Case {
        QString email, password, confirmation, title;
        bool enabled;
    };
    const QString valid = QStringLiteral("new@lanternfish.test");
    const Case cases[] = {
        {{}, {}, {}, "[femail]", false},
        {valid, {}, {}, "[signup]", false},
        {valid, "abc", "abc", "[pw<4]", false},
        {valid, {}, "abcd", "[pwnomatch]", false},
        {valid, "abcd", "abce", "[pwnomatch]", false},
        {"new@", "abcd", "abcd", "[femail]", false},
        {valid, "abcd", {}, "[signup]", false},
        {valid, "abcd", "abcd", "[signup]", true},
    };
    for (const Case &c : cases) {
        type(SignInWC::TagSignUpEmail, c.email);
        type(SignInWC::TagSignUpPassword, c.password);
        type(SignInWC::TagConfirmation, c.confirmation);
        const QString where = c.email + " / " + c.password + " / " + c.confirmation;
        EXPECT_EQ(button(SignInWC::TagSignUp)->text(), localizedString(c.title)) << where.toStdString();
        EXPECT_EQ(button(SignInWC::TagSignUp)->isEnabled(), c.enabled) << where.toStdString();
    }
}

TEST_F(SignInTest, ReturnSignsInAndTheSheetCloses) {
    launchWithSheet();
    qobject_cast<QRadioButton *>(sheet->control(SignInWC::TagHaveAccount))->click();
    EXPECT_EQ(sheet->panel(), SignInWC::TagHaveAccount);
    type(SignInWC::TagSignInEmail, kDemoEmail);
    type(SignInWC::TagSignInPassword, kDemoPassword);
    key(edit(SignInWC::TagSignInPassword), Qt::Key_Return);
    EXPECT_EQ(Prefs::prefForKey(QLatin1String(PrefKey::UserName)).toString(), kDemoEmail);
    ASSERT_TRUE(waitUntil([this] { return app->authenticated(); }));
    ASSERT_TRUE(waitForSignIn());
    EXPECT_TRUE(waitUntil([this] { return sheetGone(); }));
}

TEST_F(SignInTest, EscapeLeavesTheWindowWithAWayBackToTheSheet) {
    launchWithSheet();
    key(sheet, Qt::Key_Escape);
    ASSERT_TRUE(sheetGone());
    EXPECT_FALSE(app->authenticated());
    QAction *signInItem = nullptr;
    for (QMenu *menu : app->window()->findChildren<QMenu *>()) {
        app->validateMenu(menu);
        for (QAction *item : menu->actions()) {
            if (item->property("lfTag").toInt() == MacClientAppDelegate::kTagSignIn)
                signInItem = item;
        }
    }
    ASSERT_TRUE(signInItem);
    EXPECT_TRUE(signInItem->isEnabled());
    // At once, while the dismissed sheet is still on its way out.
    signInItem->trigger();
    ASSERT_TRUE(SignInWC::current());
    EXPECT_TRUE(SignInWC::current()->isVisible());
    SignInWC::current()->reject();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // The window's own button does the same.
    QPushButton *windowButton = app->mainController()->signInButton();
    ASSERT_TRUE(windowButton->isVisibleTo(app->window()));
    windowButton->click();
    ASSERT_TRUE(SignInWC::current());
    EXPECT_TRUE(SignInWC::current()->isVisible());
}

TEST_F(SignInTest, AWrongPasswordKeepsTheSheetWithABalloon) {
    launchWithSheet();
    sheet->showPanel(SignInWC::TagHaveAccount);
    type(SignInWC::TagSignInEmail, kDemoEmail);
    type(SignInWC::TagSignInPassword, QStringLiteral("wrong password"));
    button(SignInWC::TagSignIn)->click();
    ASSERT_TRUE(waitUntil([] { return !balloonText().isEmpty(); }));
    EXPECT_FALSE(app->authenticated());
    EXPECT_TRUE(sheet && sheet->isVisible());
    EXPECT_EQ(signInRequests, 1) << "a failure from the sheet does not ask for another";
    EXPECT_TRUE(button(SignInWC::TagSignIn)->isEnabled()) << "the user can try again";
}

TEST_F(SignInTest, RefusedSignUpsExplainWhy) {
    launchWithSheet();
    const QVariantMap taken {
        {"first", "Demo"}, {"last", "User"}, {"email", kDemoEmail}, {"password", "abcd"}};
    script("signUp", taken);
    ASSERT_TRUE(waitUntil([this] { return !alerts.isEmpty(); }));
    EXPECT_EQ(alerts.last().message, localizedString(QStringLiteral("[network error]")));
    EXPECT_EQ(alerts.last().informativeText, localizedString(QStringLiteral("[exists]")));
    EXPECT_EQ(sheet->panel(), SignInWC::TagWantAccount);

    fault("POST", QStringLiteral("/api/user"),
        QJsonArray {QJsonObject {
            {"status", 422}, {"body", R"([["first_name","is too long"],["password","is too short"]])"}}});
    script("signUp", {{"email", "new@lanternfish.test"}, {"password", "abcd"}});
    ASSERT_TRUE(waitUntil([this] { return alerts.size() == 2; }));
    EXPECT_EQ(alerts.last().informativeText,
        QStringLiteral("The first name is too long, and the password is too short."));

    script("signUp", {{"email", "new@lanternfish.test"}, {"password", "abcd"}});
    ASSERT_TRUE(waitUntil([this] { return sheet->panel() == SignInWC::TagHaveAccount; }));
    EXPECT_EQ(edit(SignInWC::TagSignInEmail)->text(), QStringLiteral("new@lanternfish.test"));
    EXPECT_TRUE(edit(SignInWC::TagSignInPassword)->text().isEmpty());
    EXPECT_EQ(alerts.size(), 2) << "a scripted sign-up tells no one about the e-mail";
}

TEST_F(SignInTest, SignUpWaitsForTheTermsAgreedAndSignsInOnceConfirmed) {
    launchWithSheet();
    const QString email = QStringLiteral("new@lanternfish.test");
    type(SignInWC::TagSignUpEmail, email);
    type(SignInWC::TagFirstName, QStringLiteral("New"));
    type(SignInWC::TagLastName, QStringLiteral("User"));
    type(SignInWC::TagSignUpPassword, QStringLiteral("abcd"));
    type(SignInWC::TagConfirmation, QStringLiteral("abcd"));
    auto terms = [this] { return sheet->findChild<ToSVC *>(); };
    // The reference server's one sign-in site gets its button.
    ASSERT_TRUE(waitUntil([this] { return sheet->control(SignInWC::kSocialTagBase); }));
    EXPECT_EQ(
        sheet->control(SignInWC::kSocialTagBase)->accessibleName(), QStringLiteral("Sign in with Chirp"));
    EXPECT_FALSE(sheet->control(SignInWC::kSocialTagBase + 1));

    button(SignInWC::TagSignUp)->click();
    ASSERT_TRUE(waitUntil([&] { return terms() && terms()->isVisible(); }));
    EXPECT_EQ(terms()->pageLabel(), QStringLiteral("Page 1 of 1"));
    // Over the sign-in sheet, it is still sized to the main window, not larger.
    EXPECT_LT(terms()->width(), app->window()->width());
    EXPECT_LT(terms()->height(), app->window()->height());
    EXPECT_FALSE(terms()->previousButton()->isEnabled());
    EXPECT_FALSE(terms()->nextButton()->isEnabled());
    key(terms(), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(terms());
    EXPECT_EQ(requestCount(QStringLiteral("POST"), QStringLiteral("/api/user")), 0) << "declined";

    // The terms are on disk now: shown at once, and Return agrees.
    button(SignInWC::TagSignUp)->click();
    ASSERT_TRUE(terms());
    key(terms(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([this] { return sheet->panel() == SignInWC::TagHaveAccount; }));
    EXPECT_EQ(requestCount(QStringLiteral("POST"), QStringLiteral("/api/user")), 1);
    EXPECT_EQ(alerts.last().message, localizedString(QStringLiteral("[confirmation]")));
    EXPECT_TRUE(app->waitingForMail());

    // Back in the program before confirming: nothing to say. After confirming: signed in.
    app->applicationDidBecomeActive();
    ASSERT_TRUE(waitUntil([this] { return !app->authenticating(); }));
    EXPECT_FALSE(app->authenticated());
    EXPECT_TRUE(balloonText().isEmpty());
    devCall("POST", QStringLiteral("/__dev/users/confirm"), {{"email", email}});
    app->applicationDidBecomeActive();
    ASSERT_TRUE(waitForSignIn());
    EXPECT_TRUE(app->authenticated());
    EXPECT_FALSE(app->waitingForMail());
    EXPECT_TRUE(waitUntil([this] { return sheetGone(); }));
}

TEST_F(SignInTest, TermsThatCannotBeHadEndTheWaitWithAMessage) {
    ScopedFakeClock fake;
    launchWithSheet();
    type(SignInWC::TagSignUpEmail, QStringLiteral("new@lanternfish.test"));
    type(SignInWC::TagSignUpPassword, QStringLiteral("abcd"));
    type(SignInWC::TagConfirmation, QStringLiteral("abcd"));
    auto poll = [&](std::chrono::milliseconds d) {
        fake.clock.advance(d);
        ClockTimer::checkDueTimers();
    };

    // A download that fails ends the wait at its next look, without waiting out the bound.
    fault("GET", QStringLiteral("/terms/Lanternfish.pdf"), QJsonArray {QJsonObject {{"status", 404}}});
    button(SignInWC::TagSignUp)->click();
    EXPECT_TRUE(sheet->waitingForTerms());
    EXPECT_FALSE(button(SignInWC::TagSignUp)->isEnabled()) << "one wait at a time";
    ASSERT_TRUE(waitUntil([&] {
        poll(500ms);
        return alerts.size() == 1;
    }));
    EXPECT_EQ(alerts.last().informativeText, localizedString(QStringLiteral("[NoTerms]")));
    EXPECT_FALSE(sheet->findChild<ToSVC *>());
    EXPECT_TRUE(button(SignInWC::TagSignUp)->isEnabled());

    // A download that never ends: the window stays usable and gives up after the bound.
    fault("GET", QStringLiteral("/terms/Lanternfish.pdf"), QJsonArray {QJsonObject {{"stall", true}}});
    button(SignInWC::TagSignUp)->click();
    ASSERT_TRUE(waitUntil([] { return Service::currentService()->tosDownloading(); }));
    poll(std::chrono::milliseconds(SignInWC::kTermsWaitMs - 500));
    EXPECT_TRUE(sheet->waitingForTerms());
    EXPECT_EQ(alerts.size(), 1);
    poll(500ms);
    EXPECT_FALSE(sheet->waitingForTerms());
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_EQ(alerts.last().informativeText, localizedString(QStringLiteral("[NoTerms]")));
    EXPECT_EQ(requestCount(QStringLiteral("POST"), QStringLiteral("/api/user")), 0);
    // Lets the stalled download go before the server does.
    devCall("POST", QStringLiteral("/__dev/reset"));
    ASSERT_TRUE(waitUntil([&] {
        poll(5s);
        return !Service::currentService()->tosDownloading();
    }));
}

TEST_F(SignInTest, ScriptsFillTheSheetAndSignInOnlyWhenCommitting) {
    launchWithSheet();
    script("signIn", {{"email", kDemoEmail}, {"password", kDemoPassword}, {"committing", false}});
    EXPECT_EQ(sheet->panel(), SignInWC::TagHaveAccount);
    EXPECT_EQ(edit(SignInWC::TagSignInEmail)->text(), kDemoEmail);
    EXPECT_EQ(edit(SignInWC::TagSignInPassword)->text(), kDemoPassword);
    EXPECT_TRUE(button(SignInWC::TagSignIn)->isEnabled());
    EXPECT_FALSE(app->authenticating());
    script("signUp", {{"email", "new@lanternfish.test"}, {"password", "abcd"}, {"committing", false}});
    EXPECT_TRUE(button(SignInWC::TagSignUp)->isEnabled());
    EXPECT_EQ(requestCount(QStringLiteral("POST"), QStringLiteral("/api/user")), 0);
    EXPECT_TRUE(sheet->isVisible());

    script("signIn", {{"email", kDemoEmail}, {"password", kDemoPassword}});
    ASSERT_TRUE(waitForSignIn());
    EXPECT_TRUE(app->authenticated());
    EXPECT_TRUE(waitUntil([this] { return sheetGone(); }));
}

} // namespace
} // namespace lf::test
