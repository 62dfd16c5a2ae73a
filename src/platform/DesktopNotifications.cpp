#include "platform/DesktopNotifications.h"

#include "foundation/LogCategories.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QStringList>
#include <QVariantMap>

namespace lf {

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// The daemon picks its own display time.
constexpr int kDefaultTimeout = -1;

} // namespace

DesktopNotifications::DesktopNotifications(
    const QDBusConnection &connection, const QString &service, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
    , m_service(service) { }

bool DesktopNotifications::isRunning() const {
    if (!m_connection.isConnected())
        return false;
    QDBusConnectionInterface *bus = m_connection.interface();
    if (bus->isServiceRegistered(m_service))
        return true;
    // A daemon that the bus starts on demand is as good as a running one.
    const QDBusReply<QStringList> activatable = bus->call(QStringLiteral("ListActivatableNames"));
    return activatable.isValid() && activatable.value().contains(m_service);
}

QString DesktopNotifications::bodyFor(const QString &text, bool daemonReadsMarkup) {
    if (!daemonReadsMarkup)
        return text;
    QString escaped = text;
    escaped.replace(QLatin1Char('&'), QLatin1String("&amp;"))
        .replace(QLatin1Char('<'), QLatin1String("&lt;"))
        .replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return escaped;
}

void DesktopNotifications::askCapabilities() {
    if (m_askedCapabilities)
        return;
    m_askedCapabilities = true;
    const QDBusMessage call
        = QDBusMessage::createMethodCall(m_service, kPath, kInterface, QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *answer) {
        const QDBusPendingReply<QStringList> reply = *answer;
        if (reply.isValid())
            m_bodyMarkup = reply.value().contains(QLatin1String("body-markup"));
        answer->deleteLater();
    });
}

bool DesktopNotifications::growlString(const QString &text) {
    if (!isRunning())
        return false;
    askCapabilities();
    QDBusMessage call
        = QDBusMessage::createMethodCall(m_service, kPath, kInterface, QStringLiteral("Notify"));
    // Priority 0 and not sticky: the daemon's normal urgency and its own time-out.
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("com.Lanternfish.MacClient"));
    hints.insert(QStringLiteral("category"), QStringLiteral("transfer.complete"));
    call << QString::fromLatin1(kApplicationName) << 0u << QStringLiteral("com.Lanternfish.MacClient")
         << QString::fromLatin1(kApplicationName) << bodyFor(text, m_bodyMarkup) << QStringList() << hints
         << kDefaultTimeout;
    if (!m_connection.send(call)) {
        qCInfo(lfPlatform) << "desktop notification not sent:" << m_connection.lastError().message();
        return false;
    }
    return true;
}

} // namespace lf
