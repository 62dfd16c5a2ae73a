#pragma once

#include <QDBusConnection>
#include <QString>

namespace lf {

inline constexpr const char *kLauncherEntryInterface = "com.canonical.Unity.LauncherEntry";

// The program's progress on its taskbar or dock entry: the launcher-entry signal that docks and
// taskbars (KDE Plasma, Dash to Dock, Plank) follow for the desktop entry it names.
class LauncherEntry {
public:
    explicit LauncherEntry(const QDBusConnection &connection = QDBusConnection::sessionBus(),
        const QString &desktopEntry = QStringLiteral("com.Lanternfish.MacClient.desktop"));

    // `progress` from 0 to 1 and `count` of shares waiting; both shown.
    void showProgress(double progress, qint64 count);
    // Hides both.
    void clear();

    static constexpr const char *kObjectPath = "/com/Lanternfish/MacClient/LauncherEntry";

private:
    void update(const QVariantMap &properties);

    QDBusConnection m_connection;
    QString m_appUri;
    // What was last sent: a dock needs no repeat of it every few seconds.
    QVariantMap m_last;
    bool m_sent = false;
};

} // namespace lf
