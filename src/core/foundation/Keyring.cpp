#include "foundation/Keyring.h"

#include "foundation/Log.h"
#include "foundation/Strings.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QThread>

#include <qt6keychain/keychain.h>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace lf {

namespace {

// The bus names of the keyrings QtKeychain talks to. Only one that already runs is used: a
// keyring started by D-Bus activation for us could neither be unlocked without a session to
// prompt in nor be told apart from a hung one, and it would leave keyring files in the home.
const char *const kKeyringNames[] = {"org.freedesktop.secrets", "org.kde.kwalletd5"};

constexpr int kDefaultWaitMs = 5000;
constexpr int kStopWaitMs = 2000;

enum class Kind { Read, Write, Remove };

struct Request {
    Kind kind = Kind::Read;
    QString account;
    QString secret;
    // Guarded by the worker's mutex.
    bool done = false;
    bool abandoned = false; // its caller stopped waiting
    Keyring::Answer answer;
};

bool keyringRuns() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    for (const char *name : kKeyringNames) {
        const QDBusReply<bool> owned = bus.interface()->isServiceRegistered(QLatin1String(name));
        if (owned.isValid() && owned.value())
            return true;
    }
    return false;
}

// A Secret Service whose default keyring is locked answers a read with "not found" when its
// unlock prompt was dismissed or could not be shown: tell that apart from a missing entry.
bool defaultKeyringLocked() {
    QDBusMessage get = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.secrets"),
        QStringLiteral("/org/freedesktop/secrets/aliases/default"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
    const QDBusReply<QDBusVariant> locked = QDBusConnection::sessionBus().call(get);
    return locked.isValid() && locked.value().variant().toBool();
}

Keyring::Answer answerOf(QKeychain::Job *job, Kind kind) {
    using O = Keyring::Outcome;
    switch (job->error()) {
    case QKeychain::NoError:
        if (kind == Kind::Read)
            return {O::Done, static_cast<QKeychain::ReadPasswordJob *>(job)->textData(), {}};
        return {O::Done, {}, {}};
    case QKeychain::EntryNotFound:
        // A locked keyring hides its entries from a removal too.
        if (defaultKeyringLocked())
            return {O::Failed, {}, localizedString(QStringLiteral("[KeyringLocked]"))};
        return {kind == Kind::Remove ? O::Done : O::NotFound, {}, {}};
    case QKeychain::NoBackendAvailable:
        return {O::Absent, {}, {}};
    case QKeychain::AccessDeniedByUser:
    case QKeychain::AccessDenied:
        return {O::Failed, {}, localizedString(QStringLiteral("[KeyringRefused]"))};
    default:
        return {O::Failed, {}, localizedFormat(QStringLiteral("[KeyringFailed]"), {job->errorString()})};
    }
}

// One thread with an event loop runs the keyring's jobs, which need one; callers on any thread
// hand a request over and wait for its answer with a time limit, never holding anything the
// keyring thread needs. The keyring thread itself never waits for another thread.
class KeyringWorker {
public:
    static KeyringWorker &instance() {
        // Never destroyed: a job still unanswered at exit belongs to its thread, which is left alone.
        static auto *worker = new KeyringWorker;
        return *worker;
    }

    Keyring::Answer run(Kind kind, const QString &account, const QString &secret) {
        std::unique_lock lock(m_mutex);
        // Once stopped, never "absent": that would put the token in the file on the way out.
        if (m_stopped)
            return {Keyring::Outcome::Failed, {},
                localizedFormat(
                    QStringLiteral("[KeyringFailed]"), {QStringLiteral("the program is ending")})};
        // The bus connection and the keyring thread's event loop need the application.
        if (!QCoreApplication::instance() || qEnvironmentVariableIntValue(Keyring::kNoKeyringVariable) == 1)
            return {Keyring::Outcome::Absent, {}, {}};
        if (m_unanswered > 0)
            return timedOut();
        if (!m_thread)
            startThread();
        auto request = std::make_shared<Request>();
        request->kind = kind;
        request->account = account;
        request->secret = secret;
        QMetaObject::invokeMethod(
            m_context, [this, request] { begin(request); }, Qt::QueuedConnection);
        if (m_changed.wait_for(lock, Keyring::waitLimit(), [&] { return request->done; }))
            return request->answer;
        request->abandoned = true;
        ++m_unanswered;
        SystemLog(QStringLiteral("keyring: no answer within %1 ms").arg(Keyring::waitLimit().count()));
        return timedOut();
    }

private:
    static Keyring::Answer timedOut() {
        return {Keyring::Outcome::TimedOut, {},
            localizedFormat(QStringLiteral("[KeyringNoAnswer]"),
                {QString::number(std::max<qint64>(1, Keyring::waitLimit().count() / 1000))})};
    }

    // With m_mutex held.
    void startThread() {
        m_thread = new QThread;
        m_thread->setObjectName(QStringLiteral("keyring"));
        m_context = new QObject;
        m_context->moveToThread(m_thread);
        m_thread->start();
        qAddPostRoutine([] { instance().stop(); });
    }

    // Before the application goes: the bus connection and the event dispatcher go with it.
    void stop() {
        QThread *thread = nullptr;
        {
            std::lock_guard lock(m_mutex);
            m_stopped = true;
            thread = m_thread;
        }
        if (!thread)
            return;
        thread->quit();
        if (!thread->wait(kStopWaitMs))
            SystemLog(QStringLiteral("keyring: its thread did not stop; leaving it"));
    }

    // On the keyring thread.
    void begin(const std::shared_ptr<Request> &request) {
        if (!keyringRuns()) {
            finish(request, {Keyring::Outcome::Absent, {}, {}});
            return;
        }
        const QString service = QLatin1String(Keyring::kService);
        QKeychain::Job *job = nullptr;
        switch (request->kind) {
        case Kind::Read:
            job = new QKeychain::ReadPasswordJob(service);
            break;
        case Kind::Write: {
            auto *write = new QKeychain::WritePasswordJob(service);
            write->setTextData(request->secret);
            job = write;
            break;
        }
        case Kind::Remove:
            job = new QKeychain::DeletePasswordJob(service);
            break;
        }
        job->setAutoDelete(true);
        job->setKey(request->account);
        QObject::connect(job, &QKeychain::Job::finished, m_context,
            [this, request](QKeychain::Job *done) { finish(request, answerOf(done, request->kind)); });
        job->start();
    }

    void finish(const std::shared_ptr<Request> &request, const Keyring::Answer &answer) {
        std::lock_guard lock(m_mutex);
        request->answer = answer;
        request->done = true;
        if (request->abandoned)
            --m_unanswered;
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    QThread *m_thread = nullptr;
    QObject *m_context = nullptr; // lives on m_thread
    int m_unanswered = 0; // requests whose callers gave up waiting and that are still under way
    bool m_stopped = false;
};

} // namespace

Keyring::Answer Keyring::read(const QString &account) {
    return KeyringWorker::instance().run(Kind::Read, account, {});
}

Keyring::Answer Keyring::write(const QString &account, const QString &secret) {
    return KeyringWorker::instance().run(Kind::Write, account, secret);
}

Keyring::Answer Keyring::remove(const QString &account) {
    return KeyringWorker::instance().run(Kind::Remove, account, {});
}

std::chrono::milliseconds Keyring::waitLimit() {
    // A real wait on another process: the fake clock of tests must not make a working keyring
    // look dead, so this is wall time; the variable lets tests and slow systems set it.
    static const int ms = [] {
        bool ok = false;
        const int set = qEnvironmentVariableIntValue("LANTERNFISH_KEYRING_WAIT_MS", &ok);
        return ok && set > 0 ? set : kDefaultWaitMs;
    }();
    return std::chrono::milliseconds(ms);
}

} // namespace lf
