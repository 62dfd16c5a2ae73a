#include "support/PrivateBus.h"

#include "foundation/Keyring.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVirtualObject>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace lf::test {

namespace {

constexpr const char *kSecretsName = "org.freedesktop.secrets";
constexpr int kStartMs = 10000;

// Takes every call and answers none: a keyring hung on a prompt nobody sees, or just hung.
class SilentObject : public QDBusVirtualObject {
public:
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &, const QDBusConnection &) override { return true; }
};

void stopProcess(QProcess &process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

} // namespace

PrivateBus::PrivateBus(const QString &folder, const QString &address)
    : m_folder(folder)
    , m_address(address)
    , m_connectionName(QStringLiteral("lf-test-bus-%1").arg(quintptr(this))) {
    // The programs this test starts use the keyring on this bus, if it starts one.
    m_noKeyring = qgetenv(Keyring::kNoKeyringVariable);
    qunsetenv(Keyring::kNoKeyringVariable);
    if (!address.isEmpty())
        return;
    m_ownBus = true;
    m_hadAddress = qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
    m_previousAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    QDir().mkpath(folder);
    // No service folders: nothing is started by activation, so only what the test starts runs.
    const QString config = QDir(folder).filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("cannot write %1").arg(config);
        return;
    }
    file.write(
        QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
            .arg(QDir(folder).filePath(QStringLiteral("bus")))
            .toUtf8());
    file.close();
    m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
    m_daemon.start(QStringLiteral("dbus-daemon"),
        {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
            QStringLiteral("--print-address")});
    if (!m_daemon.waitForStarted(kStartMs)) {
        m_error = QStringLiteral("dbus-daemon does not start: %1").arg(m_daemon.errorString());
        return;
    }
    QByteArray out;
    while (!out.contains('\n') && m_daemon.waitForReadyRead(kStartMs))
        out += m_daemon.readAllStandardOutput();
    m_address = QString::fromUtf8(out).section(QLatin1Char('\n'), 0, 0).trimmed();
    if (m_address.isEmpty()) {
        m_error = QStringLiteral("dbus-daemon gave no address: %1")
                      .arg(QString::fromUtf8(m_daemon.readAllStandardError()));
        return;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
}

PrivateBus::~PrivateBus() {
    stopKeyring();
    QDBusConnection::disconnectFromBus(m_connectionName);
    if (!m_noKeyring.isNull())
        qputenv(Keyring::kNoKeyringVariable, m_noKeyring);
    if (!m_ownBus)
        return;
    stopProcess(m_daemon);
    if (m_hadAddress)
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_previousAddress);
    else
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

QDBusConnection PrivateBus::connection() {
    return QDBusConnection::connectToBus(m_address, m_connectionName);
}

bool PrivateBus::waitForKeyringName() {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kStartMs) {
        const QDBusReply<bool> owned
            = connection().interface()->isServiceRegistered(QLatin1String(kSecretsName));
        if (owned.isValid() && owned.value())
            return true;
        if (m_keyring.state() == QProcess::NotRunning)
            break;
        QThread::msleep(20);
    }
    m_error = QStringLiteral("the keyring did not come up (%1): %2 %3")
                  .arg(m_keyring.state() == QProcess::NotRunning ? QStringLiteral("ended")
                                                                 : QStringLiteral("running"),
                      QString::fromUtf8(m_keyring.readAllStandardOutput()),
                      QString::fromUtf8(m_keyring.readAllStandardError()));
    return false;
}

bool PrivateBus::startKeyring() {
    if (!started())
        return false;
    const QString data = QDir(m_folder).filePath(QStringLiteral("keyring-data"));
    const QString runtime = QDir(m_folder).filePath(QStringLiteral("keyring-run"));
    QDir().mkpath(data);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    env.insert(QStringLiteral("XDG_DATA_HOME"), data);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    m_keyring.setProcessEnvironment(env);
    // --unlock reads the login keyring's password from standard input, creating the keyring.
    m_keyring.start(QStringLiteral("gnome-keyring-daemon"),
        {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
    if (!m_keyring.waitForStarted(kStartMs)) {
        m_error = QStringLiteral("gnome-keyring-daemon does not start: %1").arg(m_keyring.errorString());
        return false;
    }
    m_keyring.write("keyring-test-password");
    // Without an event loop the bytes leave only when waited for; the end of input follows them.
    m_keyring.waitForBytesWritten(kStartMs);
    m_keyring.closeWriteChannel();
    return waitForKeyringName();
}

bool PrivateBus::startSilentKeyring() {
    if (!started())
        return false;
    auto object = std::make_unique<SilentObject>();
    QDBusConnection bus = connection();
    if (!bus.registerVirtualObject(QStringLiteral("/"), object.get(), QDBusConnection::SubPath)
        || !bus.registerService(QLatin1String(kSecretsName))) {
        m_error = QStringLiteral("cannot take the keyring's name: %1").arg(bus.lastError().message());
        return false;
    }
    m_silentObject = std::move(object);
    return true;
}

void PrivateBus::stopKeyring() {
    stopProcess(m_keyring);
    if (m_silentObject) {
        QDBusConnection bus = connection();
        bus.unregisterService(QLatin1String(kSecretsName));
        bus.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
        m_silentObject.reset();
    }
}

bool PrivateBus::lockKeyring() {
    QDBusMessage lock = QDBusMessage::createMethodCall(QLatin1String(kSecretsName),
        QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("org.freedesktop.Secret.Service"),
        QStringLiteral("Lock"));
    lock << QVariant::fromValue(QList<QDBusObjectPath> {
        QDBusObjectPath(QStringLiteral("/org/freedesktop/secrets/collection/login"))});
    const QDBusMessage reply = connection().call(lock);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        m_error = reply.errorMessage();
        return false;
    }
    return true;
}

std::optional<QString> PrivateBus::lookup(const QString &account) const {
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    tool.setProcessEnvironment(env);
    // QtKeychain keeps the key as "user" and the service name as "server".
    tool.start(QStringLiteral("secret-tool"),
        {QStringLiteral("lookup"), QStringLiteral("user"), account, QStringLiteral("server"),
            QLatin1String(Keyring::kService)});
    if (!tool.waitForFinished(kStartMs) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(tool.readAllStandardOutput());
}

} // namespace lf::test
