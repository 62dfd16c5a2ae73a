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
    // The text is shown as it reads, never as markup (it may hold a server's words).
    bool growlString(const QString &text);

    // The body to send for `text` to a daemon that reads markup in bodies (or does not).
    static QString bodyFor(const QString &text, bool daemonReadsMarkup);

private:
    void askCapabilities();

    QDBusConnection m_connection;
    QString m_service;
    // Until the daemon said otherwise, it is taken to read markup: escaped text is then safe.
    bool m_bodyMarkup = true;
    bool m_askedCapabilities = false;
};

} // namespace lf
