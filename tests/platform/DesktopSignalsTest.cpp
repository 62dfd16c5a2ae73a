// Notifications and taskbar progress as another program on the bus sees them.
#include "platform/DesktopNotifications.h"
#include "platform/LauncherEntry.h"

#include "support/TempHome.h"
#include "support/Waits.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>

#include <gtest/gtest.h>

namespace lf::test {
namespace {

// A notification daemon under a name of this test process's own.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        QString app, icon, summary, body;
        int timeout = 0;
    };
    QList<Shown> shown;
public slots:
    uint Notify(const QString &app, uint replaces, const QString &icon, const QString &summary,
        const QString &body, const QStringList &actions, const QVariantMap &hints, int timeout) {
        Q_UNUSED(replaces)
        Q_UNUSED(actions)
        Q_UNUSED(hints)
        shown.append({app, icon, summary, body, timeout});
        return uint(shown.size());
    }
};

class UpdateRecorder : public QObject {
    Q_OBJECT
public:
    QList<QPair<QString, QVariantMap>> updates;
public slots:
    void update(const QString &appUri, const QVariantMap &properties) {
        updates.append({appUri, properties});
    }
};

QString daemonName() {
    return QStringLiteral("org.freedesktop.NotificationsTest.p%1").arg(QCoreApplication::applicationPid());
}

class DesktopSignalsTest : public TempHomeTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    }
};

TEST_F(DesktopSignalsTest, NotificationsReachTheDaemonAndAreDroppedWithoutOne) {
    DesktopNotifications notifications(QDBusConnection::sessionBus(), daemonName());
    EXPECT_FALSE(notifications.isRunning());
    EXPECT_FALSE(notifications.growlString(QStringLiteral("nobody listens")));

    QDBusConnection daemonBus
        = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("daemon"));
    FakeNotifications daemon;
    ASSERT_TRUE(daemonBus.registerObject(
        QStringLiteral("/org/freedesktop/Notifications"), &daemon, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(daemonBus.registerService(daemonName()));
    ASSERT_TRUE(waitUntil([&] { return notifications.isRunning(); }));

    EXPECT_TRUE(notifications.growlString(QStringLiteral("Your photos were shared")));
    ASSERT_TRUE(waitUntil([&] { return daemon.shown.size() == 1; }));
    EXPECT_EQ(daemon.shown[0].app, QStringLiteral("Lanternfish"));
    EXPECT_EQ(daemon.shown[0].summary, QStringLiteral("Lanternfish"));
    EXPECT_EQ(daemon.shown[0].body, QStringLiteral("Your photos were shared"));
    EXPECT_EQ(daemon.shown[0].timeout, -1);

    // The daemon going away mid-session turns notifications off again, without an error.
    daemonBus.unregisterService(daemonName());
    ASSERT_TRUE(waitUntil([&] { return !notifications.isRunning(); }));
    EXPECT_FALSE(notifications.growlString(QStringLiteral("lost")));
    QDBusConnection::disconnectFromBus(QStringLiteral("daemon"));
}

TEST_F(DesktopSignalsTest, LauncherEntryNamesTheDesktopEntryAndSkipsRepeats) {
    UpdateRecorder recorder;
    QDBusConnection listener
        = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("dock"));
    ASSERT_TRUE(listener.connect(QString(), QString::fromLatin1(LauncherEntry::kObjectPath),
        QString::fromLatin1(kLauncherEntryInterface), QStringLiteral("Update"), &recorder,
        SLOT(update(QString, QVariantMap))));

    LauncherEntry entry;
    entry.showProgress(0.25, 2);
    entry.showProgress(0.25, 2);
    entry.showProgress(1.5, 1);
    entry.clear();
    ASSERT_TRUE(waitUntil([&] { return recorder.updates.size() >= 3; }));
    deliverMainThreadWork();
    ASSERT_EQ(recorder.updates.size(), 3);
    EXPECT_EQ(recorder.updates[0].first, QStringLiteral("application://com.Lanternfish.MacClient.desktop"));
    EXPECT_DOUBLE_EQ(recorder.updates[0].second.value(QStringLiteral("progress")).toDouble(), 0.25);
    EXPECT_EQ(recorder.updates[0].second.value(QStringLiteral("count")).toLongLong(), 2);
    EXPECT_TRUE(recorder.updates[0].second.value(QStringLiteral("progress-visible")).toBool());
    // Progress past the end is shown as complete, not as an overflowing bar.
    EXPECT_DOUBLE_EQ(recorder.updates[1].second.value(QStringLiteral("progress")).toDouble(), 1.0);
    EXPECT_FALSE(recorder.updates[2].second.value(QStringLiteral("progress-visible")).toBool());
    EXPECT_FALSE(recorder.updates[2].second.value(QStringLiteral("count-visible")).toBool());
    QDBusConnection::disconnectFromBus(QStringLiteral("dock"));
}

} // namespace
} // namespace lf::test

#include "DesktopSignalsTest.moc"
