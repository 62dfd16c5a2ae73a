#include "shell/MacClientAppDelegate.h"

#include "shell/MainController.h"
#include "shell/MainWindow.h"
#include "shell/ProgressSheet.h"
#include "shell/StandardAlert.h"
#include "shell/WindowFrame.h"

#include "api/APIResult.h"
#include "api/HttpTransport.h"
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
#include "toolkit/ClockTimer.h"
#include "toolkit/LFAlert.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QImageReader>
#include <QMenu>
#include <QMenuBar>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

namespace lf {

namespace {

MacClientAppDelegate *g_delegate = nullptr;

// How much of a URL from outside goes into the log.
constexpr int kLoggedUrlLength = 80;

// The Open dialog: several image files from the home folder, no folders.
QStringList chooseImages(QWidget *parent) {
    QStringList patterns;
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        patterns.append(QStringLiteral("*.") + QString::fromLatin1(format));
    const QString filter
        = QStringLiteral("%1 (%2)").arg(localizedString("[ImageFiles]"), patterns.join(QLatin1Char(' ')));
    return QFileDialog::getOpenFileNames(parent, localizedString("[MenuOpen]").remove(QStringLiteral("…")),
        QStandardPaths::writableLocation(QStandardPaths::HomeLocation), filter);
}

} // namespace

MacClientAppDelegate::MacClientAppDelegate()
    : m_service(Service::currentService()) {
    // The window and its controller exist before launching finishes, as the delegate's parts.
    m_window = new MainWindow;
    m_mainController = new MainController(m_window, this);
    m_progressSheet = new ProgressSheet(m_window);
    m_progressSheet->setHeld([this] { return m_updating; });
    buildMenus();
    connect(m_window, &MainWindow::frameChanged, this, &MacClientAppDelegate::frameChanged);
    connect(m_window, &MainWindow::closeRequested, this, &MacClientAppDelegate::doQuit);
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
    if (m_periodicTimer)
        m_periodicTimer->stop();
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

void MacClientAppDelegate::step(const char *name) {
    m_startupSteps.append(QLatin1String(name));
}

// ---- Start-up ----

void MacClientAppDelegate::applicationDidFinishLaunching() {
    CheckReallyWantsLogs();
    step("logs");
    checkReVirgin();
    step("reset");
    g_delegate = this;
    step("singleton");
    // The table of supported file types belongs to the photo drop area, which builds it itself.
    setUpDefaultPrefs();
    step("defaults");
    NotificationCenter::defaultCenter().addObserver(
        this, QLatin1String(kGrowlNotification), [this](const Notification &n) { notification(n); });
    observeCredentials();
    step("observers");
    m_shareTaskManager = std::make_unique<ShareTaskManager>(m_service);
    step("manager");
    m_service->setDelegate(this);
    wireSession(*m_service);
    step("delegate");
    // The .desktop entry and the single-instance hand-over stand for the Services menu; they are
    // started beside the application (main.cpp). The support form's button joins with the settings.
    QString user, token;
    if (Credentials::loadCredentials(user, token))
        AddressBookUtil::singleton();
    checkInternal();
    step("internal");
    showWindow();
    step("window");
    // The updater arrives through setUpdateChecker; until then there is never an update.
    m_oneShotTimer = new QTimer(this);
    m_oneShotTimer->setSingleShot(true);
    connect(m_oneShotTimer, &QTimer::timeout, this, &MacClientAppDelegate::oneShot);
    m_oneShotTimer->start(kOneShotMs);
    m_periodicTimer = new ClockTimer(this);
    connect(m_periodicTimer, &ClockTimer::timeout, this, &MacClientAppDelegate::periodic);
    m_periodicTimer->start(kPeriodicMs);
    step("timers");
    // Desktop notifications and the old temporary folder's removal join with the housekeeping.
    m_finishedLaunching = true;
    step("finished");
}

void MacClientAppDelegate::setUpDefaultPrefs() {
    Prefs::applyFirstRunDefaults();
}

void MacClientAppDelegate::checkReVirgin() {
    checkReVirgin(QGuiApplication::queryKeyboardModifiers());
}

void MacClientAppDelegate::checkReVirgin(Qt::KeyboardModifiers held) {
    const Qt::KeyboardModifiers all = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if ((held & all) != all)
        return;
    const QString staging = ServiceAPI::hostEntry(1).host;
    const QString testing = ServiceAPI::hostEntry(2).host;
    const int choice = runStandardAlert({localizedString("[Virginize]"), localizedString("[VirginizeText]"),
        {staging, localizedString("[Maintain]"), testing}});
    if (choice != StandardAlert::Default && choice != StandardAlert::Other)
        return;
    Prefs::clearAllPrefs();
    m_service->chooseHost(choice == StandardAlert::Default ? 1 : 2);
}

void MacClientAppDelegate::oneShot() {
    // On unless the user chose otherwise: a start must never undo a "no" to crash reports.
    if (!Prefs::prefForKey(QLatin1String(PrefKey::CanUploadCrashLogs)).isValid())
        Prefs::setBoolPref(true, QLatin1String(PrefKey::CanUploadCrashLogs));
    if (!m_updater) {
        authenticate();
        return;
    }
    m_updater->checkForUpdate([this](bool updating) {
        if (!updating)
            authenticate();
    });
}

void MacClientAppDelegate::periodic() {
    if (m_housekeeping)
        m_housekeeping();
}

void MacClientAppDelegate::setUpdateChecker(std::unique_ptr<UpdateChecker> checker) {
    m_updater = std::move(checker);
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
            const int status = result.value(QLatin1String(RecordKey::Status)).toInt();
            const QString error = result.value(QLatin1String(RecordKey::Error)).toString();
            QString message;
            QString altAction;
            bool balloon = true;
            if (status == 403) {
                message = localizedFormat(QStringLiteral("[YouGotMail]"),
                    {Prefs::prefForKey(QLatin1String(PrefKey::UserName), QString()).toString()});
            } else if (status == 500) {
                message = localizedString("[500]");
            } else if (status == -1012) {
                message = localizedString("[boguspassword]");
            } else if (status == NetError::NotConnected) {
                message = error;
                altAction = QStringLiteral("balloonQuit");
            } else if (status >= 400 && status <= 499 && !m_isInternal) {
                message = APIResult::bodyMessage(result.value(QLatin1String(RecordKey::Body)));
                if (message.isEmpty())
                    message = error;
            } else {
                balloon = false;
            }
            if (balloon) {
                QPointer<QWidget> view = QApplication::focusWidget();
                delete m_delayedAlertTimer;
                auto *timer = new ClockTimer(this);
                m_delayedAlertTimer = timer;
                connect(timer, &ClockTimer::timeout, this, [this, timer, message, altAction, view] {
                    timer->stop();
                    timer->deleteLater();
                    delayedLFAlert(
                        {{QStringLiteral("error"), message}, {QStringLiteral("altaction"), altAction},
                            {QStringLiteral("view"), QVariant::fromValue<QObject *>(view.data())}});
                });
                timer->start(kDelayedAlertMs);
                endProgressSheet();
                if (!m_authenticatingFromPanel)
                    signInNeeded();
            } else {
                networkAlert(error);
            }
        }
    }
    if (postIt)
        NotificationCenter::defaultCenter().post(action, outcome, result);
    for (QMenu *menu : m_window->menuBar()->findChildren<QMenu *>())
        validateMenu(menu);
    // A success settles once its contacts are in (their load reads the session's identity).
    if (action == QLatin1String(ClientAction::Connect) && failed)
        signInSettled();
}

void MacClientAppDelegate::delayedLFAlert(const QVariantMap &userInfo) {
    auto *view = qobject_cast<QWidget *>(userInfo.value(QStringLiteral("view")).value<QObject *>());
    LFAlert *alert = LFAlert::alertWithString(userInfo.value(QStringLiteral("error")).toString(), view);
    alert->setTarget(this);
    const QByteArray action = userInfo.value(QStringLiteral("altaction")).toString().toLatin1();
    if (!action.isEmpty())
        alert->setAction(action.constData());
}

void MacClientAppDelegate::networkAlert(const QString &error) {
    contactsThreadDone();
    QStringList buttons {localizedString("[Quit]")};
    if (m_isInternal)
        buttons.append(localizedString("[TryDifferentServer]"));
    // Escape only closes the alert: quitting takes the button.
    if (runStandardAlert({localizedString("[Network]"), error, buttons, m_window, StandardAlert::Dismissed})
        == StandardAlert::Default)
        terminate();
}

void MacClientAppDelegate::serviceThreadProgress(const QVariantMap &progress) {
    NotificationCenter::defaultCenter().post(QLatin1String(kProgressNotification), progress);
}

void MacClientAppDelegate::didAuthenticate() {
    // An earlier failure's balloon (shown or about to be) no longer holds.
    delete m_delayedAlertTimer;
    LFAlert::cleanupNoAction();
    m_quitMenuForced = false;
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
    if (m_isInternal && !m_serverMenuLive) {
        m_serverMenuAction = m_window->menuBar()->addMenu(m_serverMenu);
        m_serverMenuLive = true;
    } else if (!m_isInternal && m_serverMenuLive) {
        m_window->menuBar()->removeAction(m_serverMenuAction);
        m_serverMenuAction = nullptr;
        m_serverMenuLive = false;
    }
}

bool MacClientAppDelegate::checkNetError(const APIResult &result, const QString &title) {
    Q_UNUSED(title) // callers name the request; it is not shown
    m_lastNetStatus = result.httpStatus();
    if (!result.contains(QLatin1String(ResultKey::HttpStatusStr)))
        return true;
    QString message = result.bodyMessage();
    if (message.isEmpty())
        message = result.httpStatusString();
    bool offline = m_lastNetStatus == NetError::NotConnected;
    // The user must always be able to quit while the network is in trouble.
    if (QWidget *focus = m_window->focusWidget())
        focus->clearFocus();
    m_quitMenuForced = true;
    if (message.contains(QLatin1String("DOCTYPE"))) {
        // An HTML error page is never shown.
        message = localizedString("[500]");
        offline = m_lastNetStatus == 500;
    }
    NotificationCenter::defaultCenter().post(QLatin1String(kAdjustFieldOnError), result.variant());
    LFAlert *alert = LFAlert::alertWithString(message, QApplication::focusWidget());
    alert->setTarget(this);
    if (offline) {
        alert->setAction("balloonQuit");
        alert->setIdleAction([this](LFAlert *a) { checkNetwork(a); });
    } else {
        alert->runModal();
    }
    return false;
}

void MacClientAppDelegate::checkNetwork(LFAlert *alert) {
    // The check is a request: on a worker, so a server that stalls never freezes the window. One
    // at a time; the balloon asks again every few seconds anyway.
    if (m_checkingNetwork)
        return;
    m_checkingNetwork = true;
    const std::shared_ptr<Service> service = m_service;
    const QPointer<LFAlert> balloon(alert);
    const bool started = Workers::instance().start(QStringLiteral("connection check"), [service, balloon] {
        const bool connected = service->checkConnection();
        runOnMainThread([balloon, connected] {
            if (MacClientAppDelegate *app = MacClientAppDelegate::singleton())
                app->connectionChecked(balloon, connected);
        });
    });
    if (!started)
        m_checkingNetwork = false;
}

void MacClientAppDelegate::connectionChecked(LFAlert *alert, bool connected) {
    m_checkingNetwork = false;
    // Only while the balloon that asked is still up: the user may have quit it meanwhile.
    if (!connected || !alert || alert->isClosed() || LFAlert::current() != alert)
        return;
    LFAlert::cleanupNoAction();
    m_quitMenuForced = false;
    if (!m_authenticated)
        authenticate();
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

bool MacClientAppDelegate::checkIfSharing() const {
    return m_shareTaskManager && m_shareTaskManager->isWorking();
}

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

QString MacClientAppDelegate::quitQuestionText() const {
    const ShareTaskManager &manager = *m_shareTaskManager;
    if (manager.setCount() < 2) {
        return localizedFormat(QStringLiteral("[quitWith1]"),
            {QString::number(manager.currentShare() + 1), QString::number(manager.countShare()),
                localizedString(manager.isFullSize() ? "[fullsized]" : "[preview]")});
    }
    return localizedFormat(QStringLiteral("[quitWithMany]"), {QString::number(manager.setCount())});
}

bool MacClientAppDelegate::applicationShouldTerminate() {
    if (!checkIfSharing())
        return true;
    // Escape keeps sharing.
    return runStandardAlert({localizedString("[BUSY]"), quitQuestionText(),
               {localizedString("[ContinueButton]"), localizedString("[Quit]")}, m_window,
               StandardAlert::Default})
        == StandardAlert::Alternate;
}

void MacClientAppDelegate::applicationWillTerminate() {
    m_updater.reset();
    if (m_window && m_windowAdjusted)
        WindowFrame::store(m_window->geometry());
    if (m_shareTaskManager)
        m_shareTaskManager->storeCurrentShareTask();
}

void MacClientAppDelegate::terminate() {
    if (!applicationShouldTerminate())
        return;
    endProgram();
}

void MacClientAppDelegate::endProgram() {
    if (m_terminator)
        m_terminator();
    else
        // quit() would first ask every window to close, and closing the main window asks the
        // question above again: a user who chose Quit could never leave while sharing.
        QCoreApplication::exit(0);
}

void MacClientAppDelegate::doQuit() {
    for (QDialog *sheet : m_window->findChildren<QDialog *>()) {
        if (sheet->isVisible())
            sheet->reject();
    }
    terminate();
}

void MacClientAppDelegate::balloonQuit(LFAlert *alert) {
    Q_UNUSED(alert)
    endProgressSheet();
    terminate();
}

bool MacClientAppDelegate::checkSignOut() {
    if (!checkIfSharing())
        return true;
    // Escape stays signed in.
    return runStandardAlert({localizedString("[BUSY]"), localizedString("[signoutBusy]"),
               {localizedString("[ContinueButton]"), localizedString("[SignOut]")}, m_window,
               StandardAlert::Default})
        == StandardAlert::Alternate;
}

void MacClientAppDelegate::doSignOut() {
    if (!m_authenticated)
        return;
    for (QDialog *sheet : m_window->findChildren<QDialog *>()) {
        if (sheet->isVisible())
            sheet->reject();
    }
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
    for (QMenu *menu : m_window->menuBar()->findChildren<QMenu *>())
        validateMenu(menu);
    signInNeeded();
}

// ---- Files and URLs ----

void MacClientAppDelegate::open(const QStringList &urlsOrPaths) {
    QStringList files;
    for (const QString &item : urlsOrPaths) {
        if (item.startsWith(QLatin1String("lanternfish:"), Qt::CaseInsensitive)) {
            getUrl(item);
            continue;
        }
        const QUrl url(item);
        files.append(url.isLocalFile() ? url.toLocalFile() : item);
    }
    if (!files.isEmpty())
        openFiles(files);
}

void MacClientAppDelegate::openFiles(const QStringList &paths) {
    showWindow();
    safeDropFiles(paths);
}

void MacClientAppDelegate::safeDropFiles(const QStringList &paths) {
    if (m_authenticated && !m_updating)
        m_mainController->dropFiles(paths);
    else
        Prefs::setPref(paths, QLatin1String(PrefKey::PendingFiles));
}

void MacClientAppDelegate::getUrl(const QString &url) {
    QString rest = url;
    if (rest.startsWith(QLatin1String(kUrlScheme), Qt::CaseInsensitive))
        rest = rest.mid(int(qstrlen(kUrlScheme)));
    else
        rest = rest.section(QLatin1Char(':'), 1);
    static const QString kShare = QStringLiteral("#share");
    if (rest.endsWith(kShare)) {
        // Outside input: only an existing regular file is taken, and only to be read.
        const QString path = QUrl::fromPercentEncoding(rest.chopped(kShare.size()).toUtf8());
        const QFileInfo info(path);
        if (!info.isAbsolute() || !info.exists() || !info.isFile()) {
            qCWarning(lfUi) << "a shared path that is not a file was ignored";
            reportUnsharablePath(path);
            return;
        }
        showWindow();
        safeDropFiles({info.absoluteFilePath()});
    } else if (rest.startsWith(QLatin1String("callback"))) {
        // A flow's callback counts only inside the web view that runs it; from outside it could
        // sign anyone in. Only the target is logged: the rest may carry a token.
        qCWarning(lfUi).noquote() << "a callback from outside was dropped:"
                                  << rest.section(QLatin1Char('?'), 0, 0).left(kLoggedUrlLength);
    } else if (rest.startsWith(QLatin1String("photoDrawer"))) {
        NotificationCenter::defaultCenter().post(QLatin1String(MainController::kTogglePhotoPalette), rest);
    } else {
        // Any web page can send one of these: no alert, or a page could pile them up.
        qCInfo(lfUi).noquote() << "an unknown lanternfish: URL was ignored:" << url.left(kLoggedUrlLength);
    }
}

void MacClientAppDelegate::reportUnsharablePath(const QString &path) {
    m_unsharablePaths.append(path);
    if (m_unsharablePaths.size() > 1)
        return;
    // The URLs of one hand-over arrive one after another: one balloon once they are all in.
    QTimer::singleShot(0, this, [this] {
        const QStringList paths = std::exchange(m_unsharablePaths, {});
        if (paths.isEmpty())
            return;
        const QString first = QFontMetrics(m_window->font()).elidedText(paths.first(), Qt::ElideMiddle, 400);
        const QString text = paths.size() == 1
            ? localizedFormat(QStringLiteral("[NotAFile]"), {first})
            : localizedFormat(QStringLiteral("[NotFiles]"), {first, QString::number(paths.size() - 1)});
        LFAlert::alertWithString(text, m_window);
    });
}

void MacClientAppDelegate::doOpen() {
    showWindow();
    const QStringList paths = m_fileChooser ? m_fileChooser() : chooseImages(m_window);
    if (!paths.isEmpty())
        m_mainController->dropFiles(paths);
}

void MacClientAppDelegate::activate() {
    showWindow();
    offerSignIn();
}

void MacClientAppDelegate::showWindow() {
    const bool wasVisible = m_window->isVisible();
    if (!m_windowAdjusted) {
        repositionWindow();
        adjustWindowTheme();
    }
    // Activation (a second start, the tray, the desktop) must bring back a minimised window too.
    if (m_window->isMinimized())
        m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    if (!wasVisible && m_showWindowCount > 0)
        m_mainController->appActivate();
    ++m_showWindowCount;
}

void MacClientAppDelegate::repositionWindow() {
    WindowFrame::restore(m_window);
}

void MacClientAppDelegate::adjustWindowTheme() {
    // The gradient and the logo are the window's own; from here on its frame is worth keeping.
    m_windowAdjusted = true;
}

void MacClientAppDelegate::frameChanged() {
    if (!m_windowAdjusted || !m_window->isVisible())
        return;
    // One write when the user stops dragging, not one per step.
    static constexpr int kSettleMs = 400;
    auto *settle = m_window->findChild<QTimer *>(QStringLiteral("frameSettle"));
    if (!settle) {
        settle = new QTimer(m_window);
        settle->setObjectName(QStringLiteral("frameSettle"));
        settle->setSingleShot(true);
        connect(settle, &QTimer::timeout, this, [this] { WindowFrame::store(m_window->geometry()); });
    }
    settle->start(kSettleMs);
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

void MacClientAppDelegate::observeCredentials() {
    auto &center = NotificationCenter::defaultCenter();
    // Where the sign-in is kept is worth knowing, not worth interrupting for.
    center.addObserver(this, QLatin1String(kCredentialsNoticeNotification), [](const Notification &n) {
        NotificationCenter::defaultCenter().post(QLatin1String(kGrowlNotification), n.object);
    });
    // A keyring that failed leaves the user signed out: say why where they look.
    center.addObserver(this, QLatin1String(kCredentialsProblemNotification), [this](const Notification &n) {
        const QString text = n.object.toString();
        // At start the window is not up yet.
        QTimer::singleShot(0, this, [this, text] {
            delayedLFAlert({{QStringLiteral("error"), text},
                {QStringLiteral("view"), QVariant::fromValue<QObject *>(m_window)}});
        });
    });
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
