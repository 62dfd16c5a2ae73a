#include "shell/MacClientAppDelegate.h"

#include "shell/AppMenus.h"
#include "shell/MainController.h"
#include "shell/MainWindow.h"
#include "shell/OfflineRetry.h"
#include "shell/OpenRequests.h"
#include "shell/ProgressSheet.h"
#include "shell/QuitGuard.h"
#include "shell/SignInResults.h"
#include "shell/StartupSequence.h"
#include "shell/WindowPresenter.h"

#include "api/APIResult.h"
#include "api/ServiceAPI.h"
#include "contacts/AddressBookUtil.h"
#include "foundation/Clock.h"
#include "foundation/Credentials.h"
#include "foundation/Log.h"
#include "foundation/LogCategories.h"
#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "sending/SessionWiring.h"
#include "sending/ShareTaskManager.h"
#include "session/Service.h"
#include "share/ShareTask.h"
#include "toolkit/LFAlert.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

namespace lf {

namespace {

MacClientAppDelegate *g_delegate = nullptr;

} // namespace

MacClientAppDelegate::MacClientAppDelegate()
    : m_service(Service::currentService()) {
    // The window and its controller exist before launching finishes, as the delegate's parts.
    m_window = new MainWindow;
    m_mainController = new MainController(m_window, this);
    m_progressSheet = new ProgressSheet(m_window);
    m_startup = new StartupSequence(m_service, this);
    m_presenter = new WindowPresenter(
        m_window, [this] { m_mainController->appActivate(); }, this);
    m_progressSheet->setHeld([this] { return m_updating; });
    m_quitGuard = std::make_unique<QuitGuard>(m_window, [this] { return m_shareTaskManager.get(); });
    m_offlineRetry = new OfflineRetry(
        m_service, m_window, this,
        [this] {
            if (!m_authenticated)
                authenticate();
        },
        this);
    m_signInResults = new SignInResults(m_window, this,
        {[this] { return m_isInternal; }, [this] { return m_authenticatingFromPanel; },
            [this] { endProgressSheet(); }, [this] { signInNeeded(); }, [this] { contactsThreadDone(); },
            [this] { m_quitGuard->terminate(); }},
        this);
    m_openRequests = new OpenRequests(m_window, m_mainController,
        {[this] { showWindow(); }, [this] { return m_authenticated && !m_updating; }}, this);
    m_menus = new AppMenus(*this, m_window, m_service);
    connect(m_window, &MainWindow::closeRequested, this, [this] { m_quitGuard->quit(); });
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                applicationDidBecomeActive();
            else if (state == Qt::ApplicationInactive)
                applicationDidResignActive();
        });
        connect(app, &QCoreApplication::aboutToQuit, this, &MacClientAppDelegate::applicationWillTerminate);
    }
}

MacClientAppDelegate::~MacClientAppDelegate() {
    NotificationCenter::defaultCenter().removeObserver(this);
    LFAlert::cleanupNoAction();
    m_startup->stopTimers();
    if (m_service->delegate() == this)
        m_service->setDelegate(nullptr);
    // The worker and every short-lived thread end before the objects they report to.
    m_shareTaskManager.reset();
    Workers::instance().waitForAll();
    delete m_mainController;
    m_mainController = nullptr;
    delete m_window;
    if (g_delegate == this)
        g_delegate = nullptr;
}

MacClientAppDelegate *MacClientAppDelegate::singleton() {
    return g_delegate;
}

MainWindow *MacClientAppDelegate::window() const {
    return m_window;
}

// ---- Start-up ----

void MacClientAppDelegate::applicationDidFinishLaunching() {
    CheckReallyWantsLogs();
    m_startup->step("logs");
    m_startup->checkReVirgin();
    m_startup->step("reset");
    g_delegate = this;
    m_startup->step("singleton");
    // The table of supported file types belongs to the photo drop area, which builds it itself.
    m_startup->setUpDefaultPrefs();
    m_startup->step("defaults");
    NotificationCenter::defaultCenter().addObserver(
        this, QLatin1String(kGrowlNotification), [this](const Notification &n) { notification(n); });
    m_signInResults->observeCredentials();
    m_startup->step("observers");
    m_shareTaskManager = std::make_unique<ShareTaskManager>(m_service);
    m_startup->step("manager");
    m_service->setDelegate(this);
    wireSession(*m_service);
    m_startup->step("delegate");
    // The .desktop entry and the single-instance hand-over stand for the Services menu; they are
    // started beside the application (main.cpp). The support form's button joins with the settings.
    QString user, token;
    if (Credentials::loadCredentials(user, token))
        AddressBookUtil::singleton();
    checkInternal();
    m_startup->step("internal");
    showWindow();
    m_startup->step("window");
    // The updater arrives through setUpdateChecker; until then there is never an update.
    m_startup->startTimers([this] { authenticate(); });
    m_startup->step("timers");
    // Desktop notifications and the old temporary folder's removal join with the housekeeping.
    m_finishedLaunching = true;
    m_startup->step("finished");
}

// ---- Sign-in ----

void MacClientAppDelegate::authenticate() {
    m_signInStarted = true;
    QString user, token;
    if (Credentials::loadCredentials(user, token)) {
        // The sheet follows only when this sign-in fails: no sheet flashes at every start.
        m_retryIfFail = true;
        authenticate(user, QString(), token);
        return;
    }
    signInNeeded();
}

void MacClientAppDelegate::authenticate(
    const QString &userName, const QString &password, const QString &token) {
    startSignIn(userName, password, token, false);
}

void MacClientAppDelegate::startSignIn(
    const QString &userName, const QString &password, const QString &token, bool scripted) {
    // Two sign-ins at once would each write the session's name, token and profile; the second
    // waits, so every result is read against the account it belongs to.
    if (m_authenticating || m_signInSettling) {
        m_queuedSignIn = QueuedSignIn {userName, password, token, scripted};
        return;
    }
    if (scripted && m_authenticated)
        doSignOut();
    if (!QApplication::activeModalWidget() && !m_progressSheet->isUp())
        beginProgressSheet(localizedString("[Authenticating]"));
    m_authenticating = true;
    m_signInSettling = true;
    m_authenticated = false;
    m_service->connect(userName, password, token);
    if (scripted)
        NotificationCenter::defaultCenter().post(
            QLatin1String(kAuthenticated), QStringLiteral("Signed in via script"));
}

void MacClientAppDelegate::signInSettled() {
    m_signInSettling = false;
    if (m_queuedSignIn)
        // After this result has been told to everyone, on a fresh turn of the event loop.
        QTimer::singleShot(0, this, &MacClientAppDelegate::runQueuedSignIn);
}

void MacClientAppDelegate::runQueuedSignIn() {
    if (!m_queuedSignIn || m_authenticating || m_signInSettling)
        return;
    const QueuedSignIn next = *std::exchange(m_queuedSignIn, std::nullopt);
    startSignIn(next.userName, next.password, next.token, next.scripted);
}

void MacClientAppDelegate::signInNeeded() {
    if (m_signInRequester)
        m_signInRequester();
}

void MacClientAppDelegate::offerSignIn() {
    if (m_authenticated || m_authenticating || m_waitingForMail || !m_signInStarted)
        return;
    signInNeeded();
}

void MacClientAppDelegate::serviceThreadCompleted(const QVariantMap &result) {
    const bool failed = isFailureRecord(result);
    const QString outcome = QLatin1String(failed ? "failure" : "success");
    const QString action = result.value(QLatin1String(RecordKey::ClientAction)).toString();
    bool postIt = !action.isEmpty();
    if (action == QLatin1String(ClientAction::Connect)) {
        m_authenticating = false;
        m_authenticated = !failed;
        if (!failed) {
            didAuthenticate();
        } else if (m_waitingForMail) {
            // Not confirmed yet: nothing to tell, but the window must not stay covered.
            endProgressSheet();
            postIt = false;
        } else {
            m_signInResults->failed(result);
        }
    }
    if (postIt)
        NotificationCenter::defaultCenter().post(action, outcome, result);
    m_menus->validateAll();
    // A success settles once its contacts are in (their load reads the session's identity).
    if (action == QLatin1String(ClientAction::Connect) && failed)
        signInSettled();
}

void MacClientAppDelegate::serviceThreadProgress(const QVariantMap &progress) {
    NotificationCenter::defaultCenter().post(QLatin1String(kProgressNotification), progress);
}

void MacClientAppDelegate::didAuthenticate() {
    // An earlier failure's balloon (shown or about to be) no longer holds.
    m_signInResults->dropBalloon();
    m_offlineRetry->clearQuitForced();
    checkInternal();
    AddressBookUtil::singleton();
    m_authenticatingFromPanel = false;
    m_waitingForMail = false;
    // Kept only to sign in once the address is confirmed.
    m_registrationPW.clear();
    m_shareTaskManager->loadCurrentShareTask();
    NotificationCenter::defaultCenter().post(QLatin1String(MainController::kUserChanged));
    setProgressSheetText(localizedString("[LoadContacts]"));
    contactsThread();
    if (m_crashLogCheck && Prefs::boolPrefForKey(QLatin1String(PrefKey::CanUploadCrashLogs), false))
        m_crashLogCheck();
}

void MacClientAppDelegate::contactsThread() {
    const std::shared_ptr<Service> service = m_service;
    Workers::instance().start(QStringLiteral("contactsThread"), [service] {
        service->loadContacts();
        // The machine description goes after the contacts, off the main thread: it is a request.
        if (!service->userToken().isEmpty())
            service->updateInfo();
        runOnMainThreadAndWait([] {
            if (MacClientAppDelegate *app = MacClientAppDelegate::singleton())
                app->contactsThreadDone();
        });
    });
}

void MacClientAppDelegate::contactsThreadDone() {
    endProgressSheet();
    if (m_signInSettling && !m_authenticating)
        signInSettled();
    if (!m_authenticated)
        return;
    const QStringList pending = Prefs::prefForKey(QLatin1String(PrefKey::PendingFiles)).toStringList();
    if (!pending.isEmpty()) {
        Prefs::clearPrefForKey(QLatin1String(PrefKey::PendingFiles));
        m_mainController->dropFiles(pending);
    }
    NotificationCenter::defaultCenter().post(QLatin1String(kUpdateExternalNotification));
}

void MacClientAppDelegate::checkInternal() {
    m_isInternal = m_service->internal();
    m_menus->showServerMenu(m_isInternal);
}

// ---- Progress sheet ----

void MacClientAppDelegate::beginProgressSheet(const QString &text, std::function<void()> ended) {
    m_progressSheet->begin(text, std::move(ended));
}

void MacClientAppDelegate::setProgressSheetText(const QString &text) {
    m_progressSheet->setText(text);
}

void MacClientAppDelegate::endProgressSheet() {
    m_progressSheet->end();
}

// ---- Sharing, quitting, signing out ----

void MacClientAppDelegate::sendBundle() {
    // Every way to Share ends here: without a session nothing leaves.
    if (!m_authenticated) {
        qCInfo(lfUi) << "Share while signed out was refused";
        return;
    }
    if (m_dockProgressStarter)
        m_dockProgressStarter();
    m_shareTaskManager->sendCurrentShareTask();
}

void MacClientAppDelegate::cancelAllShareTasks() {
    m_shareTaskManager->cancelAllShareTasks();
}

void MacClientAppDelegate::applicationWillTerminate() {
    m_startup->dropUpdateChecker();
    m_presenter->storeFrame();
    if (m_shareTaskManager)
        m_shareTaskManager->storeCurrentShareTask();
}

void MacClientAppDelegate::balloonQuit(LFAlert *alert) {
    Q_UNUSED(alert)
    endProgressSheet();
    m_quitGuard->terminate();
}

void MacClientAppDelegate::doSignOut() {
    if (!m_authenticated)
        return;
    QuitGuard::closeSheets(m_window);
    m_authenticated = false;
    if (const ShareTaskPtr task = ShareTask::singletonNA())
        task->deleteArchives();
    ShareTask::terminate();
    m_service->disconnect();
    // A sign-out sticks: the next start asks again. The address stays for the sheet; the
    // session keeps its token in memory only for the shares already on their way.
    Credentials::forgetToken();
    m_shareTaskManager->newShareTask();
    auto &center = NotificationCenter::defaultCenter();
    center.post(QLatin1String(kSignOut));
    center.post(QLatin1String(MainController::kUserChanged));
    m_mainController->signOut();
    m_menus->validateAll();
    signInNeeded();
}

void MacClientAppDelegate::activate() {
    showWindow();
    offerSignIn();
}

void MacClientAppDelegate::applicationDidBecomeActive() {
    if (!QApplication::activeModalWidget() && m_finishedLaunching)
        showWindow();
    if (m_waitingForMail)
        authenticate(
            Prefs::prefForKey(QLatin1String(PrefKey::UserName), QString()).toString(), m_registrationPW, {});
    const qint64 now = Clock::instance().monotonicMs();
    if (m_authenticated && m_deactivateTimeMs != 0
        && now - m_deactivateTimeMs > kContactsReloadAfterSeconds * 1000)
        contactsThread();
    m_deactivateTimeMs = 0;
    m_activated = true;
    NotificationCenter::defaultCenter().post(QLatin1String(kApplicationActivated));
}

void MacClientAppDelegate::applicationDidResignActive() {
    // Zero means "active": a clock that starts at zero must not look like that.
    m_deactivateTimeMs = qMax<qint64>(1, Clock::instance().monotonicMs());
}

// ---- Scripting ----

void MacClientAppDelegate::scriptSignIn(const QVariantMap &fields) {
    startSignIn(fields.value(QStringLiteral("email")).toString(),
        fields.value(QStringLiteral("password")).toString(), {}, true);
}

void MacClientAppDelegate::scriptSignUp(const QVariantMap &fields) {
    Q_UNUSED(fields) // the sign-up window takes the fields from the same notification
    if (m_authenticated)
        doSignOut();
}

void MacClientAppDelegate::notification(const Notification &n) {
    if (n.name != QLatin1String(kGrowlNotification))
        return;
    const QString text = localizedString(n.object.toString());
    if (m_desktopNotifier)
        m_desktopNotifier(text);
    else
        qCInfo(lfUi) << "desktop notification:" << text;
}

} // namespace lf
