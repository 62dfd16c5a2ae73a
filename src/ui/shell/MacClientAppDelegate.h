#pragma once

#include "session/ServiceDelegate.h"
#include "shell/AppMenus.h"
#include "shell/OfflineRetry.h"
#include "shell/OpenRequests.h"
#include "shell/QuitGuard.h"
#include "shell/ShellAreas.h"
#include "shell/SignInResults.h"
#include "shell/StartupSequence.h"
#include "shell/WindowPresenter.h"

#include <QKeySequence>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QTimer;

namespace lf {

class APIResult;
class ClockTimer;
class LFAlert;
class MainController;
class MainWindow;
class ProgressSheet;
class Service;
class ShareTaskManager;
struct Notification;

// The application: starts the client, signs in at start, turns the session's results into
// alerts and notifications, takes the files and lanternfish: URLs handed to the program, and
// asks before quitting or signing out while shares upload. One per process, main thread only.
class MacClientAppDelegate : public QObject, public ServiceDelegate {
    Q_OBJECT
public:
    static constexpr const char *kUrlScheme = OpenRequests::kUrlScheme;
    // Notifications posted here beyond those of the core.
    static constexpr const char *kSignOut = "signout";
    static constexpr const char *kAdjustFieldOnError = kAdjustFieldOnErrorNotification;
    static constexpr const char *kApplicationActivated = "applicationActivated";
    static constexpr const char *kAuthenticated = "authenticated";
    // Seconds away after which the contacts are reloaded on return.
    static constexpr int kContactsReloadAfterSeconds = 120;
    static constexpr int kOneShotMs = StartupSequence::kOneShotMs;
    static constexpr int kPeriodicMs = StartupSequence::kPeriodicMs;
    static constexpr int kDelayedAlertMs = SignInResults::kDelayedAlertMs;
    // Menu item tags.
    static constexpr int kTagShowWindow = AppMenus::kTagShowWindow;
    static constexpr int kTagPreferences = AppMenus::kTagPreferences;
    static constexpr int kTagSignOut = AppMenus::kTagSignOut;
    static constexpr int kTagOpen = AppMenus::kTagOpen;
    static constexpr int kTagSignIn = AppMenus::kTagSignIn;
    static constexpr int kTagQuit = AppMenus::kTagQuit;
    static constexpr int kTagServerFirst = AppMenus::kTagServerFirst;
    static constexpr int kTagServerLast = AppMenus::kTagServerLast;
    static constexpr int kTagDockAbout = AppMenus::kTagDockAbout;
    static constexpr int kTagDockFirst = AppMenus::kTagDockFirst;
    static constexpr int kTagDockLast = AppMenus::kTagDockLast;

    MacClientAppDelegate();
    ~MacClientAppDelegate() override;

    // The delegate once launching has stored it, else none.
    static MacClientAppDelegate *singleton();

    // ---- Start-up ----
    void applicationDidFinishLaunching();
    // Steps done so far, by name, in order.
    QStringList startupSteps() const { return m_startup->steps(); }

    // ---- Sign-in ----
    void authenticate();
    void authenticate(const QString &userName, const QString &password, const QString &token);
    void signInNeeded();
    // The sign-in sheet again, when nobody is signed in and no sign-in runs.
    void offerSignIn();
    void didAuthenticate();
    void serviceThreadCompleted(const QVariantMap &result) override;
    void serviceThreadProgress(const QVariantMap &progress) override;
    // Turns a failed request into a balloon; true when `result` is no failure.
    bool checkNetError(const APIResult &result, const QString &title) {
        return m_offlineRetry->checkNetError(result, title);
    }
    // Asks a worker whether the server answers again; connectionChecked gets the answer.
    void checkNetwork(LFAlert *alert) { m_offlineRetry->checkNetwork(alert); }
    void checkInternal();

    // ---- The progress sheet ----
    void beginProgressSheet(const QString &text, std::function<void()> ended = {});
    void setProgressSheetText(const QString &text);
    void endProgressSheet();
    ProgressSheet *progressSheet() const { return m_progressSheet; }

    // ---- Sharing, quitting, signing out ----
    bool checkIfSharing() const { return m_quitGuard->sharing(); }
    void sendBundle();
    void cancelAllShareTasks();
    // The "[BUSY]" question before quitting; true when the program may end now.
    bool applicationShouldTerminate() { return m_quitGuard->mayQuit(); }
    // The informative text of that question.
    QString quitQuestionText() const { return m_quitGuard->quitQuestionText(); }
    void applicationWillTerminate();
    // Asks (while sharing) before signing out; true means go on.
    bool checkSignOut() { return m_quitGuard->maySignOut(); }
    void doSignOut();
    void doQuit() { m_quitGuard->quit(); }
    // The program's one way out, without a question: Quit once answered, the session ending
    // (SIGTERM) and the updater's restart. Leaves the event loop; the process is gone soon after
    // whatever a worker is stuck in.
    void endProgram() { m_quitGuard->endProgram(); }
    Q_INVOKABLE void balloonQuit(lf::LFAlert *alert);

    // ---- What the desktop hands to the program (the D-Bus layer calls these) ----
    // Files and lanternfish: URLs (see OpenRequests).
    void open(const QStringList &urlsOrPaths) { m_openRequests->open(urlsOrPaths); }
    void openFiles(const QStringList &paths) { m_openRequests->openFiles(paths); }
    void getUrl(const QString &url) { m_openRequests->getUrl(url); }
    void safeDropFiles(const QStringList &paths) { m_openRequests->safeDropFiles(paths); }
    void doOpen() { m_openRequests->doOpen(); }
    OpenRequests *openRequests() const { return m_openRequests; }
    // The program was started again or activated from the desktop.
    void activate();
    void showWindow() { m_presenter->show(); }
    // The settings, as the Preferences… menu item opens them.
    void doPreferences() {
        if (m_preferencesRequester)
            m_preferencesRequester();
    }
    void applicationDidBecomeActive();
    void applicationDidResignActive();

    // ---- Menus (see AppMenus) ----
    AppMenus *menus() const { return m_menus; }
    void doDockMenu(int tag) { m_menus->doDockMenu(tag); }
    bool validateMenuItem(int tag) const { return m_menus->validateMenuItem(tag); }
    void validateMenu(QMenu *menu) const { m_menus->validateMenu(menu); }
    bool serverMenuLive() const { return m_menus->serverMenuLive(); }
    // While the network is in trouble Quit stays enabled whatever else holds.
    bool quitForced() const { return m_offlineRetry->quitForced(); }

    // ---- Scripting ----
    void scriptSignIn(const QVariantMap &fields);
    void scriptSignUp(const QVariantMap &fields);

    // ---- State ----
    bool authenticated() const { return m_authenticated; }
    bool authenticating() const { return m_authenticating; }
    bool isInternal() const { return m_isInternal; }
    bool finishedLaunching() const { return m_finishedLaunching; }
    bool updating() const { return m_updating; }
    void setUpdating(bool updating) { m_updating = updating; }
    bool waitingForMail() const { return m_waitingForMail; }
    void setWaitingForMail(bool waiting) { m_waitingForMail = waiting; }
    void setRegistrationPW(const QString &password) { m_registrationPW = password; }
    bool authenticatingFromPanel() const { return m_authenticatingFromPanel; }
    void setAuthenticatingFromPanel(bool fromPanel) { m_authenticatingFromPanel = fromPanel; }
    int lastNetStatus() const { return m_offlineRetry->lastNetStatus(); }
    MainWindow *window() const;
    MainController *mainController() const { return m_mainController; }
    ShareTaskManager *shareTaskManager() const { return m_shareTaskManager.get(); }

    // ---- Hooks for the parts other work adds ----
    // Opens the sign-in window as a sheet (default: nothing).
    void setSignInRequester(std::function<void()> requester) { m_signInRequester = std::move(requester); }
    void setUpdateChecker(std::unique_ptr<UpdateChecker> checker) {
        m_startup->setUpdateChecker(std::move(checker));
    }
    // Opens the settings (default: nothing).
    void setPreferencesRequester(std::function<void()> requester) {
        m_preferencesRequester = std::move(requester);
    }
    // How endProgram leaves (default: QCoreApplication::exit); the program bounds the wait for its
    // workers here, tests record it instead.
    void setTerminator(std::function<void()> terminator) {
        m_quitGuard->setTerminator(std::move(terminator));
    }
    // Runs every 2.5 seconds: the tray's progress line and animation (default: nothing).
    void setHousekeeping(std::function<void()> housekeeping) {
        m_startup->setHousekeeping(std::move(housekeeping));
    }
    // Shows a desktop notification with the localized text of a "growl" key (default: logged).
    void setDesktopNotifier(std::function<void(const QString &text)> notifier) {
        m_desktopNotifier = std::move(notifier);
    }
    // Starts the tray animation when a share is sent (default: nothing).
    void setDockProgressStarter(std::function<void()> start) { m_dockProgressStarter = std::move(start); }
    // Runs after each sign-in when crash logs may be uploaded (default: nothing).
    void setCrashLogCheck(std::function<void()> check) { m_crashLogCheck = std::move(check); }
    // Shows the open dialog and returns the chosen files (default: QFileDialog for images).
    void setFileChooser(std::function<QStringList()> chooser) {
        m_openRequests->setFileChooser(std::move(chooser));
    }

private:
    void notification(const Notification &notification);
    // Starts a sign-in now, or after the one under way (the latest request wins).
    void startSignIn(const QString &userName, const QString &password, const QString &token, bool scripted);
    void runQueuedSignIn();
    // The sign-in under way is over (failed, or signed in with its contacts loaded).
    void signInSettled();
    void contactsThread();
    void contactsThreadDone();

    std::shared_ptr<Service> m_service;
    std::unique_ptr<ShareTaskManager> m_shareTaskManager;
    QPointer<MainWindow> m_window;
    MainController *m_mainController = nullptr;
    ProgressSheet *m_progressSheet = nullptr;
    OpenRequests *m_openRequests = nullptr;
    StartupSequence *m_startup = nullptr;
    SignInResults *m_signInResults = nullptr;
    OfflineRetry *m_offlineRetry = nullptr;
    std::unique_ptr<QuitGuard> m_quitGuard;
    AppMenus *m_menus = nullptr;
    WindowPresenter *m_presenter = nullptr;

    std::function<void()> m_signInRequester;
    std::function<void()> m_preferencesRequester;
    std::function<void(const QString &)> m_desktopNotifier;
    std::function<void()> m_crashLogCheck;
    std::function<void()> m_dockProgressStarter;

    bool m_authenticating = false;
    bool m_authenticated = false;
    bool m_waitingForMail = false;
    bool m_retryIfFail = false;
    bool m_isInternal = false;
    bool m_authenticatingFromPanel = false;
    QString m_registrationPW;
    qint64 m_deactivateTimeMs = 0;
    bool m_updating = false;
    bool m_finishedLaunching = false;
    bool m_activated = false;
    // Set once start-up asked for a sign-in: before that, no sheet is offered.
    bool m_signInStarted = false;
    struct QueuedSignIn {
        QString userName, password, token;
        bool scripted = false;
    };
    std::optional<QueuedSignIn> m_queuedSignIn;
    // From a sign-in's start until it failed or its contacts are in.
    bool m_signInSettling = false;
};

} // namespace lf
