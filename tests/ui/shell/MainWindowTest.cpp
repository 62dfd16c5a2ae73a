#include "ShellFixture.h"

#include "recipients/MRUTableController.h"
#include "shell/MainController.h"
#include "shell/MainWindow.h"
#include "shell/ProgressSheet.h"
#include "shell/ShellAreas.h"

#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "sending/ShareTaskManager.h"
#include "session/Service.h"
#include "share/ShareTask.h"
#include "support/TestImages.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

namespace lf::test {
namespace {

void click(QWidget *widget) {
    const QPointF at = QRectF(widget->rect()).center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton,
            type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
}

void key(QWidget *widget, int code, const QString &text = {}) {
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &release);
}

void type(QWidget *widget, const QString &text) {
    for (const QChar c : text)
        key(widget, c.toUpper().unicode(), QString(c));
}

// Escape on the modal window that is about to run.
void pressEscapeSoon() {
    QTimer::singleShot(0, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            key(modal, Qt::Key_Escape);
    });
}

class MainWindowTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        launch();
        ASSERT_TRUE(waitUntil([this] { return signInRequests == 1; }));
        controller = app->mainController();
        controller->setWelcomeOpener([this](const QUrl &url) { welcomePages.append(url); });
    }

    QStringList handedIn() const {
        return dynamic_cast<PlaceholderPhotoDropArea *>(controller->photoDropArea())->handedIn();
    }
    void changed() { NotificationCenter::defaultCenter().post(QStringLiteral("shareTaskChanged")); }
    QString sheetText() const {
        auto *sheet = qobject_cast<QMessageBox *>(controller->sharingSheet());
        return sheet && sheet->isVisible() ? sheet->informativeText() : QString();
    }

    MainController *controller = nullptr;
    QList<QUrl> welcomePages;
};

TEST_F(MainWindowTest, ShareIsPossibleOnlyWithPeopleAndPhotosAndSaysWhatIsMissing) {
    signIn();
    QPushButton *share = controller->shareButton();
    const ShareTaskPtr task = ShareTask::singleton();
    EXPECT_FALSE(share->isEnabled());

    task->pushPhoto(PhotoInfo {{QString::fromLatin1(kPhotoUrl), home.filePath(QStringLiteral("a.jpg"))}});
    changed();
    EXPECT_FALSE(share->isEnabled());
    // The disabled button still answers a click, with what is missing.
    click(share);
    EXPECT_EQ(sheetText(), localizedString(QStringLiteral("[nopeople]")));
    key(controller->sharingSheet(), Qt::Key_Escape);
    EXPECT_TRUE(sheetText().isEmpty()) << "Escape closes the sheet";

    task->clearTask();
    task->recipients()->append(QStringLiteral("ada@example.com"));
    changed();
    EXPECT_FALSE(share->isEnabled());
    controller->disabledButtonClick(MainController::kShareTag);
    EXPECT_EQ(sheetText(), localizedString(QStringLiteral("[nophotos]")));
    controller->sharingSheet()->close();

    task->pushPhoto(PhotoInfo {{QString::fromLatin1(kPhotoUrl), home.filePath(QStringLiteral("a.jpg"))}});
    NotificationCenter::defaultCenter().post(QStringLiteral("checkButton"));
    EXPECT_TRUE(share->isEnabled());
}

TEST_F(MainWindowTest, TheNoteIsTheTasksMessageAndCancelEmptiesTheTask) {
    signIn();
    type(controller->noteField(), QStringLiteral("Hi all"));
    EXPECT_EQ(ShareTask::singleton()->message(), QStringLiteral("Hi all"));

    ShareTask::singleton()->recipients()->append(QStringLiteral("ada@example.com"));
    log->clear();
    click(controller->cancelButton());
    EXPECT_FALSE(ShareTask::singleton()->hasRecipients());
    EXPECT_TRUE(controller->noteField()->toPlainText().isEmpty());
    EXPECT_EQ(log->count(QStringLiteral("shareCancelled")), 1);
    EXPECT_EQ(log->count(QStringLiteral("shareTaskLoaded")), 1);

    // Scripts set the note and the address field; a sign-in that only fills the fields does nothing.
    NotificationCenter::defaultCenter().post(QStringLiteral("scriptNotification"), {},
        {{"message", "From a script"}, {"emailField", "ben@example.com"}});
    EXPECT_EQ(controller->noteField()->toPlainText(), QStringLiteral("From a script"));
    EXPECT_EQ(ShareTask::singleton()->message(), QStringLiteral("From a script"));
    EXPECT_EQ(
        dynamic_cast<MRUTableController *>(controller->recipientsArea())->bubbleEditor()->rawStringValue(),
        QStringLiteral("ben@example.com, "));
    NotificationCenter::defaultCenter().post(QStringLiteral("scriptCommand"), {},
        {{"command", "signIn"}, {"parameter", QVariantMap {{"email", kDemoEmail}, {"committing", false}}}});
    EXPECT_TRUE(app->authenticated());
    EXPECT_EQ(log->count(QStringLiteral("authenticated")), 0);
    NotificationCenter::defaultCenter().post(QStringLiteral("scriptCommand"), {}, {{"command", "signOut"}});
    EXPECT_FALSE(app->authenticated());
    EXPECT_EQ(log->count(QStringLiteral("signout")), 1);
    EXPECT_EQ(controller->fromLabel()->text(), QStringLiteral("From: "));
}

TEST_F(MainWindowTest, HandedInItemsReachTheDropAreaFilesFirst) {
    controller->dropFiles({QStringLiteral("http://example.com/a.jpg"), QStringLiteral("/home/u/b.jpg"),
        QStringLiteral("data:image/png;base64,iVBORw0KGgo="), QStringLiteral("/http/:/example.com/c.jpg"),
        QStringLiteral("/home/u/d.png")});
    EXPECT_EQ(handedIn(),
        QStringList({QStringLiteral("/home/u/b.jpg"), QStringLiteral("/home/u/d.png"),
            QStringLiteral("http://example.com/a.jpg"), QStringLiteral("data:image/png;base64,iVBORw0KGgo="),
            QStringLiteral("http://example.com/c.jpg")}));
}

TEST_F(MainWindowTest, TheLinkingMenuListsAddressSourcesAndFindsThemByTheirShownTitle) {
    signIn();
    fault("GET", QStringLiteral("/api/user/services"),
        QJsonArray {QJsonObject {{"status", 200},
            {"body",
                QString::fromLatin1(R"({"services": [
                {"name": "addressly", "display_name": "ADDRESSLY BOOK", "connected": false,
                 "capabilities": {"address_source": 1, "destination": 0}},
                {"name": "photostream", "display_name": "PhotoStream", "connected": true,
                 "capabilities": {"address_source": 0, "destination": 1}},
                {"name": "chirp", "display_name": "chirp friends", "connected": true, "uri": "URI",
                 "capabilities": {"address_source": 1, "destination": 0}}]})")
                    .replace(QStringLiteral("URI"),
                        QStringLiteral("http://127.0.0.1:%1/sites/chirp").arg(server->port()))}}});
    Service::currentService()->getConsumers();
    NotificationCenter::defaultCenter().post(QStringLiteral("updateExternal"));
    QStringList titles;
    for (QAction *item : controller->linkContactsMenu()->actions())
        titles.append(item->text());
    EXPECT_EQ(titles,
        QStringList({QStringLiteral("Address Book"), QStringLiteral("Addressly Book"),
            QStringLiteral("Chirp Friends")}));
    EXPECT_FALSE(controller->linkContactsMenu()->actions()[0]->isEnabled());
    EXPECT_TRUE(controller->linkContactsMenu()->actions()[2]->isChecked());

    QStringList linked;
    controller->setSiteLinker([&](const QString &name, bool contacts, const QString &title) {
        linked << name << QString::number(contacts) << title;
    });
    controller->linkContactsMenu()->actions()[1]->trigger();
    EXPECT_EQ(linked,
        QStringList({QStringLiteral("addressly"), QStringLiteral("1"), QStringLiteral("Addressly Book")}));

    // A linked site is unlinked on the server, and the menu rebuilt.
    devCall("POST", QStringLiteral("/__dev/reset"));
    log->clear();
    controller->linkContactsMenu()->actions()[2]->trigger();
    Workers::instance().waitForAll(10000);
    deliverMainThreadWork();
    EXPECT_EQ(requestCount("DELETE", QStringLiteral("/sites/chirp")), 1);
    EXPECT_EQ(log->count(QStringLiteral("updateExternal")), 1);
}

TEST_F(MainWindowTest, TheWelcomePageOpensAfterAUsersFirstSignInOnly) {
    signIn();
    ASSERT_EQ(welcomePages.size(), 1);
    EXPECT_EQ(welcomePages[0].path(), QStringLiteral("/mac_welcome"));
    EXPECT_EQ(welcomePages[0].port(), server->port());
    app->doSignOut();
    signIn();
    EXPECT_EQ(welcomePages.size(), 1);
    // A failed sign-in of someone new does not use up their welcome.
    Prefs::setPref(QStringLiteral("new@lanternfish.test"), QLatin1String(PrefKey::UserName));
    NotificationCenter::defaultCenter().post(QStringLiteral("connect"), QStringLiteral("failure"));
    EXPECT_EQ(welcomePages.size(), 1);
    NotificationCenter::defaultCenter().post(QStringLiteral("connect"), QStringLiteral("success"));
    EXPECT_EQ(welcomePages.size(), 2);
}

TEST_F(MainWindowTest, EveryControlIsNamedAndShareAnswersReturn) {
    for (QWidget *w : app->window()->findChildren<QWidget *>()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(app->window())) {
            EXPECT_FALSE(w->accessibleName().isEmpty())
                << w->metaObject()->className() << " " << w->objectName().toStdString();
        }
    }
    signIn();
    int shares = 0;
    // With people and photos, Return on the focused Share button shares.
    ShareTask::singleton()->recipients()->append(QStringLiteral("ada@example.com"));
    ShareTask::singleton()->pushPhoto(PhotoInfo {{QString::fromLatin1(kPhotoUrl), home.filePath("a.jpg")}});
    changed();
    QObject::connect(controller->shareButton(), &QPushButton::clicked, [&] { ++shares; });
    controller->shareButton()->setFocus();
    key(controller->shareButton(), Qt::Key_Return);
    EXPECT_TRUE(waitUntil([&] { return shares == 1; }, 2000));
    app->cancelAllShareTasks();
}

TEST_F(MainWindowTest, MenusFollowTheSignedInStateAndQuitIsAlwaysThere) {
    const auto enabled = [this](int tag) {
        for (QMenu *menu : app->window()->findChildren<QMenu *>()) {
            app->validateMenu(menu);
            for (QAction *item : menu->actions()) {
                if (item->property("lfTag").toInt() == tag)
                    return item->isEnabled();
            }
        }
        ADD_FAILURE() << "no item with tag " << tag;
        return false;
    };
    EXPECT_TRUE(enabled(MacClientAppDelegate::kTagQuit));
    EXPECT_FALSE(enabled(MacClientAppDelegate::kTagSignOut));
    EXPECT_FALSE(enabled(101));
    EXPECT_TRUE(enabled(MacClientAppDelegate::kTagDockAbout));
    EXPECT_FALSE(app->serverMenuLive());
    signIn();
    EXPECT_TRUE(enabled(MacClientAppDelegate::kTagSignOut));
    EXPECT_TRUE(enabled(MacClientAppDelegate::kTagOpen));
    EXPECT_FALSE(app->validateMenuItem(4242));
}

TEST_F(MainWindowTest, SignedOutTheWindowOffersTheSheetAndSendsNothing) {
    const auto signInItemEnabled = [this] {
        for (QMenu *menu : app->window()->findChildren<QMenu *>())
            app->validateMenu(menu);
        return app->validateMenuItem(MacClientAppDelegate::kTagSignIn);
    };
    EXPECT_TRUE(signInItemEnabled());
    EXPECT_TRUE(controller->signInButton()->isVisibleTo(app->window()));
    // A second start, the tray's window item or the new-share action brings the sheet back.
    app->activate();
    app->doDockMenu(100);
    EXPECT_EQ(signInRequests, 3);

    signIn();
    EXPECT_FALSE(signInItemEnabled());
    EXPECT_FALSE(controller->signInButton()->isVisibleTo(app->window()));
    app->activate();
    EXPECT_EQ(signInRequests, 3) << "no sheet for a signed-in user";

    app->doSignOut();
    EXPECT_EQ(signInRequests, 4);
    devCall("POST", QStringLiteral("/__dev/reset"));
    // A script composes and presses Share anyway, and so does the keyboard.
    const ShareTaskPtr task = ShareTask::singleton();
    task->pushPhoto(PhotoInfo {{QString::fromLatin1(kPhotoUrl), home.filePath(QStringLiteral("a.jpg"))}});
    task->recipients()->append(QStringLiteral("ada@example.com"));
    changed();
    EXPECT_FALSE(controller->shareButton()->isEnabled());
    NotificationCenter::defaultCenter().post(QLatin1String(MainController::kScriptCommand), {},
        {{QStringLiteral("command"), QStringLiteral("share")}, {QStringLiteral("parameter"), QVariant()}});
    controller->doShareButton();
    app->sendBundle();
    Workers::instance().waitForAll(10000);
    EXPECT_FALSE(app->checkIfSharing());
    EXPECT_TRUE(devCall("GET", QStringLiteral("/__dev/requests")).toArray().isEmpty());
    // A click on the disabled button asks for the sign-in that is missing.
    click(controller->shareButton());
    EXPECT_EQ(signInRequests, 5);
    EXPECT_TRUE(sheetText().isEmpty());
}

TEST_F(MainWindowTest, QuittingOrSigningOutWhileSharingAsksFirst) {
    signIn();
    // The first photo upload hangs, so the share stays in flight.
    fault("POST", QStringLiteral("/api/photo"), QJsonArray {QJsonObject {{"stall", true}}});
    const auto compose = [this](const QString &name) {
        QStringList files;
        for (int i = 0; i < 3; ++i) {
            files.append(home.filePath(QStringLiteral("%1-%2.jpg").arg(name).arg(i)));
            ASSERT_TRUE(writeBytes(files.last(), encoded(quadrantImage(64, 48), "JPEG")));
        }
        const ShareTaskPtr task = ShareTask::singleton();
        for (const QString &file : files)
            task->pushPhoto(PhotoInfo {{QString::fromLatin1(kPhotoUrl), file}});
        task->recipients()->append(QStringLiteral("ada@example.com"));
        changed();
        controller->doShareButton();
    };
    compose(QStringLiteral("first"));
    ShareTaskManager *manager = app->shareTaskManager();
    ASSERT_TRUE(waitUntil([&] { return app->checkIfSharing() && manager->countShare() == 3; }));
    EXPECT_EQ(app->quitQuestionText(),
        localizedFormat(
            QStringLiteral("[quitWith1]"), {"1", "3", localizedString(QStringLiteral("[preview]"))}));

    answer = StandardAlert::Default; // keep sharing
    app->doQuit();
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].message, localizedString(QStringLiteral("[BUSY]")));
    EXPECT_EQ(alerts[0].buttons,
        QStringList({localizedString(QStringLiteral("[ContinueButton]")),
            localizedString(QStringLiteral("[Quit]"))}));
    EXPECT_EQ(quits, 0);
    EXPECT_FALSE(app->checkSignOut());
    EXPECT_EQ(alerts.last().informativeText, localizedString(QStringLiteral("[signoutBusy]")));

    compose(QStringLiteral("second"));
    compose(QStringLiteral("third"));
    ASSERT_TRUE(waitUntil([&] { return manager->setCount() == 3; }));
    EXPECT_EQ(app->quitQuestionText(), localizedFormat(QStringLiteral("[quitWithMany]"), {"3"}));
    answer = StandardAlert::Alternate;
    app->doQuit();
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(app->checkSignOut());

    // Escape on the real questions keeps sharing and stays signed in.
    setAlertRunner([](const StandardAlert &alert) {
        pressEscapeSoon();
        return runMessageBox(alert);
    });
    app->doQuit();
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(app->checkSignOut());

    app->cancelAllShareTasks();
    devCall("POST", QStringLiteral("/__dev/reset"));
}

TEST_F(MainWindowTest, EscapeGivesTheAnswerThatChangesNothing) {
    const auto escapeOn = [](StandardAlert alert) {
        pressEscapeSoon();
        return runMessageBox(alert);
    };
    // Later, not the update; the network alert's only button quits, so Escape only closes it.
    EXPECT_EQ(escapeOn({QStringLiteral("Update"), {}, {QStringLiteral("Update"), QStringLiteral("Later")}}),
        StandardAlert::Alternate);
    EXPECT_EQ(escapeOn({QStringLiteral("Network"), {}, {QStringLiteral("Quit")}, nullptr,
                  StandardAlert::Dismissed}),
        StandardAlert::Dismissed);

    // The sheet over an update being installed stays; any other progress sheet goes on Escape.
    ProgressSheet *sheet = app->progressSheet();
    app->setUpdating(true);
    app->beginProgressSheet(QStringLiteral("Installing"));
    key(sheet, Qt::Key_Escape);
    EXPECT_TRUE(sheet->isUp());
    app->setUpdating(false);
    key(sheet, Qt::Key_Escape);
    EXPECT_FALSE(sheet->isUp());
}

TEST_F(MainWindowTest, KeysReachPreferencesAndCancelOnlyWhenNothingIsOnTop) {
    signIn();
    int preferences = 0;
    app->setPreferencesRequester([&] { ++preferences; });
    MainWindow *window = app->window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(controller->noteField(), Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(preferences, 1);

    // Escape with a sheet up closes the sheet and keeps what the user put together.
    ShareTask::singleton()->recipients()->append(QStringLiteral("ada@example.com"));
    changed();
    controller->disabledButtonClick(MainController::kShareTag);
    ASSERT_TRUE(controller->sharingSheet());
    ASSERT_TRUE(QTest::qWaitForWindowActive(controller->sharingSheet()));
    QTest::keyClick(controller->sharingSheet(), Qt::Key_Escape);
    EXPECT_TRUE(waitUntil(
        [this] { return !controller->sharingSheet() || !controller->sharingSheet()->isVisible(); }));
    EXPECT_TRUE(ShareTask::singleton()->hasRecipients());

    // In the window itself it is Cancel.
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    type(controller->noteField(), QStringLiteral("Hi"));
    log->clear();
    QTest::keyClick(controller->noteField(), Qt::Key_Escape);
    EXPECT_FALSE(ShareTask::singleton()->hasRecipients());
    EXPECT_TRUE(controller->noteField()->toPlainText().isEmpty());
    EXPECT_EQ(log->count(QStringLiteral("shareCancelled")), 1);
}

TEST_F(MainWindowTest, TheFromLineNamesWhoIsSignedInAndShareSaysWhatItWaitsFor) {
    QPushButton *share = controller->shareButton();
    const auto statusLine = [this] {
        return controller->sendingStatus()->isVisibleTo(app->window()) ? controller->sendingStatus()->text()
                                                                       : QString();
    };
    EXPECT_EQ(share->toolTip(), localizedString(QStringLiteral("[nosignin]")));
    EXPECT_EQ(statusLine(), share->toolTip());

    signIn();
    const QString user = Service::currentService()->userName();
    ASSERT_FALSE(user.isEmpty());
    EXPECT_TRUE(controller->fromLabel()->accessibleName().contains(user));
    EXPECT_EQ(share->toolTip(), localizedString(QStringLiteral("[nophotos]")));
    EXPECT_EQ(statusLine(), share->toolTip());

    ShareTask::singleton()->pushPhoto(PhotoInfo {{QString::fromLatin1(kPhotoUrl), home.filePath("a.jpg")}});
    changed();
    EXPECT_EQ(statusLine(), localizedString(QStringLiteral("[nopeople]")));
    EXPECT_EQ(share->accessibleDescription(), statusLine());
    // A share under way has the line; the hint comes back when it is done.
    controller->showSendingStatus(QStringLiteral("Sending 1 photo"), 0.5);
    EXPECT_EQ(statusLine(), QStringLiteral("Sending 1 photo"));
    controller->showSendingStatus(QString(), 0.0);
    EXPECT_EQ(statusLine(), localizedString(QStringLiteral("[nopeople]")));

    ShareTask::singleton()->recipients()->append(QStringLiteral("ada@example.com"));
    changed();
    EXPECT_TRUE(share->isEnabled());
    EXPECT_TRUE(statusLine().isEmpty());
    EXPECT_NE(share->toolTip(), localizedString(QStringLiteral("[nopeople]")));

    app->doSignOut();
    EXPECT_FALSE(controller->fromLabel()->accessibleName().contains(user));
    EXPECT_FALSE(share->isEnabled());
}

} // namespace
} // namespace lf::test
