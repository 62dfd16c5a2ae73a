#include "platform/ScriptingClient.h"

#include "platform/DesktopBus.h"
#include "platform/ScriptingAdaptor.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QUrl>

namespace lf {

namespace {

constexpr int kCallTimeoutMs = 15000;
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

} // namespace

ScriptingClient::ScriptingClient(const QDBusConnection &connection, const QString &name)
    : m_connection(connection)
    , m_name(name) { }

bool ScriptingClient::programRunning() const {
    return m_connection.isConnected() && m_connection.interface()->isServiceRegistered(m_name);
}

qint64 ScriptingClient::programPid() const {
    if (!m_connection.isConnected())
        return 0;
    const QDBusReply<uint> pid = m_connection.interface()->servicePid(m_name);
    return pid.isValid() ? qint64(pid.value()) : 0;
}

bool ScriptingClient::open(const QStringList &absolutePaths) {
    QStringList uris;
    for (const QString &path : absolutePaths)
        uris.append(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
    QDBusMessage message = QDBusMessage::createMethodCall(m_name, QString::fromLatin1(kBusObjectPath),
        QString::fromLatin1(kApplicationInterface), QStringLiteral("Open"));
    message << uris << QVariantMap();
    const QDBusMessage reply = m_connection.call(message, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        m_error = reply.errorMessage();
        return false;
    }
    return true;
}

bool ScriptingClient::call(const QString &method, const QVariantList &arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        m_name, QString::fromLatin1(kBusObjectPath), QString::fromLatin1(kScriptingInterface), method);
    message.setArguments(arguments);
    const QDBusMessage reply = m_connection.call(message, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        m_error = reply.errorMessage();
        return false;
    }
    return true;
}

QVariant ScriptingClient::property(const QString &name) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        m_name, QString::fromLatin1(kBusObjectPath), kProperties, QStringLiteral("Get"));
    message << QString::fromLatin1(kScriptingInterface) << name;
    const QDBusMessage reply = m_connection.call(message, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage || reply.arguments().isEmpty()) {
        m_error = reply.errorMessage();
        return {};
    }
    return reply.arguments().first().value<QDBusVariant>().variant();
}

bool ScriptingClient::setProperty(const QString &name, const QVariant &value) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        m_name, QString::fromLatin1(kBusObjectPath), kProperties, QStringLiteral("Set"));
    message << QString::fromLatin1(kScriptingInterface) << name << QVariant::fromValue(QDBusVariant(value));
    const QDBusMessage reply = m_connection.call(message, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        m_error = reply.errorMessage();
        return false;
    }
    return true;
}

QList<QVariantMap> ScriptingClient::records(const QString &name) {
    const QVariant value = property(name);
    QList<QVariantMap> out;
    if (!value.canConvert<QDBusArgument>())
        return out;
    const QDBusArgument argument = value.value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        QVariantMap record;
        argument >> record;
        out.append(record);
    }
    argument.endArray();
    return out;
}

} // namespace lf
