#include "CliClient.h"

#include "Output.h"

#include "api/HttpTransport.h"
#include "api/ServiceAPI.h"
#include "contacts/AddressBookUtil.h"
#include "foundation/Credentials.h"
#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "sending/SessionWiring.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace lf::cli {

namespace {

std::atomic<bool> g_interrupted {false};
// The signal handler wakes the event loop through this pipe: a waiting loop sleeps in poll(),
// which a signal alone does not end.
int g_interruptPipe[2] = {-1, -1};
QPointer<QSocketNotifier> g_interruptNotifier;

extern "C" void onInterrupt(int) {
    // A second Ctrl-C does not wait for the share to be put away.
    if (g_interrupted.exchange(true))
        _exit(kExitInterrupted);
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_interruptPipe[1], &byte, 1);
}

} // namespace

QString describeFailure(const APIResult &result) {
    const QString body = result.bodyMessage();
    // An HTML error page says nothing a person wants to read on a terminal.
    if (!body.isEmpty() && !body.contains(QLatin1String("DOCTYPE"), Qt::CaseInsensitive) && body.size() < 300)
        return body;
    const int status = result.httpStatus();
    const QString reason = result.httpStatusString();
    return status > 0 ? QStringLiteral("%1 %2").arg(QString::number(status), reason) : reason;
}

QList<QVariantMap> addressBookEntries(Service &service, bool groups) {
    QList<QVariantMap> out;
    for (const QVariant &item : service.contacts()) {
        const QVariantMap entry = item.toMap();
        if (entry.contains(ContactKey::Entries) == groups)
            out.append(entry);
    }
    return out;
}

QStringList groupNames(Service &service) {
    QStringList names;
    for (const QVariantMap &group : addressBookEntries(service, true))
        names.append(group.value(ContactKey::Name).toString());
    return names;
}

QStringList linkedSiteNames(Service &service) {
    QStringList names;
    for (const QVariant &item : service.destinations()) {
        const QVariantMap site = item.toMap();
        if (site.value(QStringLiteral("connected")).toBool())
            names.append(site.value(QStringLiteral("name")).toString());
    }
    return names;
}

CliClient::CliClient()
    : m_service(Service::currentService()) {
    Prefs::applyFirstRunDefaults();
    m_service->setDelegate(this);
    wireSession(*m_service);
    // Where the sign-in is kept, and why the keyring could not be used: said once each.
    for (const char *name : {kCredentialsNoticeNotification, kCredentialsProblemNotification}) {
        NotificationCenter::defaultCenter().addObserver(
            this, QLatin1String(name), [this](const Notification &n) {
                const QString text = n.object.toString();
                if (!m_notices.contains(text)) {
                    m_notices.append(text);
                    printNote(text);
                }
            });
    }
}

CliClient::~CliClient() {
    closeShareQueue();
    Workers::instance().shutdown();
    m_service->setDelegate(nullptr);
    ShareTask::terminate();
}

QString CliClient::serverText() {
    const ServiceAPI::HostEntry server = ServiceAPI::currentServer();
    return server.host + QLatin1Char(':') + server.port;
}

void CliClient::catchInterrupts() {
    if (!g_interruptNotifier && ::pipe2(g_interruptPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        g_interruptNotifier
            = new QSocketNotifier(g_interruptPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(g_interruptNotifier, &QSocketNotifier::activated, [] {
            char buf[16];
            while (::read(g_interruptPipe[0], buf, sizeof buf) > 0) { }
        });
    }
    struct sigaction action { };
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool CliClient::interrupted() {
    return g_interrupted;
}

bool CliClient::waitFor(const std::function<bool()> &done) {
    const auto over = [&] { return interrupted() || done(); };
    if (!over()) {
        QEventLoop loop;
        const auto check = [&] {
            if (over())
                loop.quit();
        };
        // Whatever ends a wait arrives as main-thread work: look once it has all been delivered.
        QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop,
            check, Qt::DirectConnection);
        if (g_interruptNotifier)
            QObject::connect(g_interruptNotifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return !interrupted();
}

int CliClient::reachServer() {
    const APIResult root = m_service->rootInfo();
    if (!root.isError())
        return kExitOk;
    // "Offline" is the platform's word for it; from a shell a stopped server is the likelier cause.
    const QString why = root.httpStatus() == NetError::NotConnected
        ? QStringLiteral("nothing answers there (is the server running and the network up?)")
        : describeFailure(root);
    return fail(QStringLiteral("cannot reach the server at %1: %2").arg(serverText(), why));
}

int CliClient::connectAndWait(const QString &email, const QString &password, const QString &token) {
    if (const int code = reachServer())
        return code;
    m_connectResult.reset();
    m_signedIn = false;
    m_service->connect(email, password, token);
    if (!waitFor([this] { return m_connectResult.has_value(); }))
        return kExitInterrupted;
    if (isFailureRecord(*m_connectResult))
        return fail(QStringLiteral("sign-in as %1 failed: %2")
                        .arg(email, signInFailureText(*m_connectResult, email)));
    m_signedIn = true;
    return kExitOk;
}

QString CliClient::signInFailureText(const QVariantMap &result, const QString &email) const {
    const int status = result.value(RecordKey::Status).toInt();
    const QString error = result.value(RecordKey::Error).toString();
    if (status == 403)
        return localizedFormat("[YouGotMail]", {email});
    if (status == 500)
        return localizedString("[500]");
    if (status >= 400 && status <= 499) {
        const QString body = APIResult::bodyMessage(result.value(RecordKey::Body));
        if (!body.isEmpty())
            return body;
    }
    return error.isEmpty() ? QStringLiteral("status %1").arg(status) : error;
}

int CliClient::signIn(const QString &email, const QString &password) {
    return connectAndWait(email, password, {});
}

int CliClient::signInStored() {
    const StoredCredentials stored = Credentials::storedCredentials();
    if (!stored.userName || !stored.token)
        return fail(
            QStringLiteral("not signed in: run \"%1 signin EMAIL\" first").arg(QLatin1String(kProgramName)));
    const QString user = *stored.userName;
    const int code = connectAndWait(user, {}, *stored.token);
    if (code == kExitFailed)
        printNote(
            QStringLiteral("Sign in again with \"%1 signin %2\".").arg(QLatin1String(kProgramName), user));
    return code;
}

void CliClient::loadContacts() {
    m_service->loadContacts();
}

int CliClient::openShareQueue(bool restore) {
    m_manager = std::make_unique<ShareTaskManager>(m_service);
    if (!m_manager->ownsQueue()) {
        m_manager.reset();
        return fail(QStringLiteral("another Lanternfish program is sending the shares of this account right "
                                   "now; try again when it has finished"));
    }
    if (restore)
        m_manager->loadCurrentShareTask();
    return kExitOk;
}

void CliClient::closeShareQueue() {
    if (!m_manager)
        return;
    QList<ShareTaskPtr> queued;
    for (const ShareTaskPtr &task : m_manager->shareTaskThread().queuedTasks()) {
        if (task)
            queued.append(task);
    }
    // The worker first: it saves the task after every step it takes.
    m_manager.reset();
    for (const ShareTaskPtr &task : std::as_const(queued)) {
        if (task->sendCompleted() || task->path().isEmpty())
            continue;
        task->setSendAttempted(true);
        task->saveTask();
    }
}

int CliClient::reopenShareQueue() {
    closeShareQueue();
    ShareTask::terminate();
    return openShareQueue();
}

bool CliClient::waitUntilSharesDone() {
    for (;;) {
        // The worker tells the main thread when its queues run empty (ShareTaskThread::idle).
        if (!waitFor([this] { return !m_manager->isWorking(); }))
            return false;
        // What the worker posted before it went idle is still on its way to the main thread.
        auto flushed = std::make_shared<bool>(false);
        runOnMainThread([flushed] { *flushed = true; });
        if (!waitFor([flushed] { return *flushed; }))
            return false;
        if (!m_manager->isWorking() && m_manager->waitForSaves())
            return true;
    }
}

void CliClient::serviceThreadCompleted(const QVariantMap &result) {
    const QString action = result.value(RecordKey::ClientAction).toString();
    if (action == QLatin1String(ClientAction::Connect))
        m_connectResult = result;
    else if (action == QLatin1String(ClientAction::SendBundle) && m_bundleResultSink)
        m_bundleResultSink(result);
}

void CliClient::serviceThreadProgress(const QVariantMap &progress) {
    if (m_progressSink)
        m_progressSink(progress);
}

} // namespace lf::cli
