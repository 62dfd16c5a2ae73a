#pragma once

#include "session/ServiceDelegate.h"
#include "shell/ShellAreas.h"

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

// The self-updater's part in start-up; without one there is never an update to offer.
class UpdateChecker {
public:
    virtual ~UpdateChecker() = default;
    // Asks for an update without waiting; `done` hears, on the main thread, whether an update is
    // being offered or installed (then start-up does not sign in).
    virtual void checkForUpdate(std::function<void(bool updating)> done) = 0;
};

// The application: starts the client, signs in at start, turns the session's results into
// alerts and notifications, takes the files and lanternfish: URLs handed to the program, and
// asks before quitting or signing out while shares upload. One per process, main thread only.
class MacClientAppDelegate : public QObject, public ServiceDelegate {
    Q_OBJECT
public:
    static constexpr const char *kUrlScheme = "lanternfish://";
    // Notifications posted here beyond those of the core.
    static constexpr const char *kSignOut = "signout";
    static constexpr const char *kAdjustFieldOnError = kAdjustFieldOnErrorNotification;
    static constexpr const char *kApplicationActivated = "applicationActivated";
    static constexpr const char *kAuthenticated = "authenticated";
    // Seconds away after which the contacts are reloaded on return.
    static constexpr int kContactsReloadAfterSeconds = 120;
    static constexpr int kOneShotMs = 50;
    static constexpr int kPeriodicMs = 2500;
    static constexpr int kDelayedAlertMs = 200;
    // Menu item tags.
    static constexpr int kTagShowWindow = 1;
    static constexpr int kTagPreferences = 12345;
    static constexpr int kTagSignOut = 12346;
    static constexpr int kTagOpen = 12347;
    static constexpr int kTagSignIn = 12348;
    static constexpr int kTagQuit = 666;
    static constexpr int kTagServerFirst = 7000;
    static constexpr int kTagServerLast = 7999;
    static constexpr int kTagDockAbout = 103;
    static constexpr int kTagDockFirst = 100;
    static constexpr int kTagDockLast = 199;

    MacClientAppDelegate();
    ~MacClientAppDelegate() override;

    // The delegate once launching has stored it, else none.
    static MacClientAppDelegate *singleton();

    // ---- Start-up ----
    void applicationDidFinishLaunching();
    // Steps done so far, by name, in order.
    QStringList startupSteps() const { return m_startupSteps; }
    void setUpDefaultPrefs();
    // The developer reset when Ctrl, Alt and Meta are held at launch.
    void checkReVirgin();
    void checkReVirgin(Qt::KeyboardModifiers held);
    void oneShot();
    void periodic();

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
    bool checkNetError(const APIResult &result, const QString &title);
    // Asks a worker whether the server answers again; connectionChecked gets the answer.
    void checkNetwork(LFAlert *alert);
    void checkInternal();

    // ---- The progress sheet ----
    void beginProgressSheet(const QString &text, std::function<void()> ended = {});
    void setProgressSheetText(const QString &text);
    void endProgressSheet();
    ProgressSheet *progressSheet() const { return m_progressSheet; }

    // ---- Sharing, quitting, signing out ----
    bool checkIfSharing() const;
    void sendBundle();
    void cancelAllShareTasks();
    // The "[BUSY]" question before quitting; true when the program may end now.
    bool applicationShouldTerminate();
    // The informative text of that question.
    QString quitQuestionText() const;
    void applicationWillTerminate();
    // Asks (while sharing) before signing out; true means go on.
    bool checkSignOut();
    void doSignOut();
    void doQuit();
    // The program's one way out, without a question: Quit once answered, the session ending
    // (SIGTERM) and the updater's restart. Leaves the event loop; the process is gone soon after
    // whatever a worker is stuck in.
    void endProgram();
    Q_INVOKABLE void balloonQuit(lf::LFAlert *alert);

    // ---- What the desktop hands to the program (the D-Bus layer calls these) ----
    // Files and lanternfish: URLs, routed as the desktop's "Open" and URL handler route them.
    // Outside input: a URL never shows more than one alert, however many arrive.
    void open(const QStringList &urlsOrPaths);
    // Files opened with the program: shows the window, then safeDropFiles.
    void openFiles(const QStringList &paths);
    void getUrl(const QString &url);
    void safeDropFiles(const QStringList &paths);
    // The Open… menu item: a file dialog for images.
    void doOpen();
    // The program was started again or activated from the desktop.
    void activate();
    void showWindow();
    // The settings, as the Preferences… menu item opens them.
    void doPreferences() {
        if (m_preferencesRequester)
            m_preferencesRequester();
    }
    void applicationDidBecomeActive();
    void applicationDidResignActive();

    // ---- Menus ----
    void doServer(int tag);
    void doDockMenu(int tag);
    void viewPanel(bool sent);
    bool validateMenuItem(int tag) const;
    // Enables every tagged action of `menu` by validateMenuItem.
    void validateMenu(QMenu *menu) const;
    QMenu *serverMenu() const { return m_serverMenu; }
    bool serverMenuLive() const { return m_serverMenuLive; }

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
    int lastNetStatus() const { return m_lastNetStatus; }
    MainWindow *window() const;
    MainController *mainController() const { return m_mainController; }
    ShareTaskManager *shareTaskManager() const { return m_shareTaskManager.get(); }

    // ---- Hooks for the parts other work adds ----
    // Opens the sign-in window as a sheet (default: nothing).
    void setSignInRequester(std::function<void()> requester) { m_signInRequester = std::move(requester); }
    void setUpdateChecker(std::unique_ptr<UpdateChecker> checker);
    // Opens the settings (default: nothing).
    void setPreferencesRequester(std::function<void()> requester) {
        m_preferencesRequester = std::move(requester);
    }
    // How endProgram leaves (default: QCoreApplication::exit); the program bounds the wait for its
    // workers here, tests record it instead.
    void setTerminator(std::function<void()> terminator) { m_terminator = std::move(terminator); }
    // Runs every 2.5 seconds: the tray's progress line and animation (default: nothing).
    void setHousekeeping(std::function<void()> housekeeping) { m_housekeeping = std::move(housekeeping); }
    // Shows a desktop notification with the localized text of a "growl" key (default: logged).
    void setDesktopNotifier(std::function<void(const QString &text)> notifier) {
        m_desktopNotifier = std::move(notifier);
    }
    // Starts the tray animation when a share is sent (default: nothing).
    void setDockProgressStarter(std::function<void()> start) { m_dockProgressStarter = std::move(start); }
    // Runs after each sign-in when crash logs may be uploaded (default: nothing).
    void setCrashLogCheck(std::function<void()> check) { m_crashLogCheck = std::move(check); }
    // Shows the open dialog and returns the chosen files (default: QFileDialog for images).
    void setFileChooser(std::function<QStringList()> chooser) { m_fileChooser = std::move(chooser); }

private:
    void step(const char *name);
    void notification(const Notification &notification);
    // Tells the user where the sign-in is kept and what went wrong with the keyring.
    void observeCredentials();
    void delayedLFAlert(const QVariantMap &userInfo);
    void networkAlert(const QString &error);
    // Starts a sign-in now, or after the one under way (the latest request wins).
    void startSignIn(const QString &userName, const QString &password, const QString &token, bool scripted);
    void runQueuedSignIn();
    // The sign-in under way is over (failed, or signed in with its contacts loaded).
    void signInSettled();
    // One balloon for the URLs handed in that named no file, shown once the batch is in.
    void reportUnsharablePath(const QString &path);
    void connectionChecked(LFAlert *alert, bool connected);
    void contactsThread();
    void contactsThreadDone();
    void terminate();
    void buildMenus();
    void addTaggedAction(QMenu *menu, const QString &text, int tag, const std::function<void()> &action,
        const QKeySequence &shortcut = {});
    void frameChanged();
    void repositionWindow();
    void adjustWindowTheme();

    std::shared_ptr<Service> m_service;
    std::unique_ptr<ShareTaskManager> m_shareTaskManager;
    std::unique_ptr<UpdateChecker> m_updater;
    QPointer<MainWindow> m_window;
    MainController *m_mainController = nullptr;
    ProgressSheet *m_progressSheet = nullptr;
    QMenu *m_appMenu = nullptr;
    QMenu *m_serverMenu = nullptr;
    QAction *m_serverMenuAction = nullptr;
    QTimer *m_oneShotTimer = nullptr;
    ClockTimer *m_periodicTimer = nullptr;
    QStringList m_startupSteps;

    std::function<void()> m_signInRequester;
    std::function<void()> m_preferencesRequester;
    std::function<void()> m_terminator;
    std::function<QStringList()> m_fileChooser;
    std::function<void()> m_housekeeping;
    std::function<void(const QString &)> m_desktopNotifier;
    std::function<void()> m_crashLogCheck;
    std::function<void()> m_dockProgressStarter;

    bool m_authenticating = false;
    bool m_authenticated = false;
    bool m_waitingForMail = false;
    bool m_retryIfFail = false;
    bool m_isInternal = false;
    bool m_serverMenuLive = false;
    bool m_authenticatingFromPanel = false;
    QString m_registrationPW;
    qint64 m_deactivateTimeMs = 0;
    bool m_updating = false;
    bool m_windowAdjusted = false;
    bool m_finishedLaunching = false;
    bool m_activated = false;
    bool m_quitMenuForced = false;
    // Set once start-up asked for a sign-in: before that, no sheet is offered.
    bool m_signInStarted = false;
    struct QueuedSignIn {
        QString userName, password, token;
        bool scripted = false;
    };
    std::optional<QueuedSignIn> m_queuedSignIn;
    // From a sign-in's start until it failed or its contacts are in.
    bool m_signInSettling = false;
    QPointer<ClockTimer> m_delayedAlertTimer;
    QStringList m_unsharablePaths;
    bool m_checkingNetwork = false;
    int m_lastNetStatus = 0;
    int m_showWindowCount = 0;
};

} // namespace lf
