#include "platform/LauncherEntry.h"

#include <QDBusMessage>
#include <QVariantMap>

#include <algorithm>

namespace lf {

LauncherEntry::LauncherEntry(const QDBusConnection &connection, const QString &desktopEntry)
    : m_connection(connection)
    , m_appUri(QStringLiteral("application://") + desktopEntry) { }

void LauncherEntry::showProgress(double progress, qint64 count) {
    update({{QStringLiteral("progress"), std::clamp(progress, 0.0, 1.0)},
        {QStringLiteral("progress-visible"), true}, {QStringLiteral("count"), count},
        {QStringLiteral("count-visible"), count > 0}});
}

void LauncherEntry::clear() {
    update({{QStringLiteral("progress"), 0.0}, {QStringLiteral("progress-visible"), false},
        {QStringLiteral("count"), qint64(0)}, {QStringLiteral("count-visible"), false}});
}

void LauncherEntry::update(const QVariantMap &properties) {
    if (m_sent && properties == m_last)
        return;
    if (!m_connection.isConnected())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath),
        QString::fromLatin1(kLauncherEntryInterface), QStringLiteral("Update"));
    signal << m_appUri << properties;
    m_sent = m_connection.send(signal);
    m_last = properties;
}

} // namespace lf
