#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace lf {

inline constexpr const char *kNotificationsService = "org.freedesktop.Notifications";

// Desktop notifications through the freedesktop notification service. The service counts as
// running when its name is on the bus or the bus can start it; without it notifications are
// dropped silently, as a user without a notification daemon expects.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    // The one kind of notification the program shows.
    static constexpr const char *kShareCompleted = "ShareCompleted";
    static constexpr const char *kApplicationName = "Lanternfish";

    // `service` is the daemon's name except in tests, which run side by side on one bus.
    explicit DesktopNotifications(const QDBusConnection &connection = QDBusConnection::sessionBus(),
        const QString &service = QString::fromLatin1(kNotificationsService), QObject *parent = nullptr);

    bool isRunning() const;
    // Posts `text` titled "Lanternfish"; true when it went to the service. Never waits for it.
    bool growlString(const QString &text);

private:
    QDBusConnection m_connection;
    QString m_service;
};

} // namespace lf
