#include "platform/DesktopBus.h"

#include "platform/ScriptingAdaptor.h"
#include "support/TempHome.h"
#include "support/Waits.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace lf::test {
namespace {

// A name of this test process's own: tests run side by side on one session bus.
QString testName() {
    return QStringLiteral("com.Lanternfish.MacClientTest.p%1").arg(QCoreApplication::applicationPid());
}

// A second connection to the session bus, as a second start of the program has.
QDBusConnection secondConnection(const QString &tag) {
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("second-") + tag);
}

struct Received {
    QStringList files;
    QStringList urls;
    QStringList actions;
    int activations = 0;
};

DesktopBus::Receiver recordInto(Received &received) {
    return {[&](const QStringList &files) { received.files += files; },
        [&](const QString &url) { received.urls.append(url); }, [&] { ++received.activations; },
        [&](const QString &action) { received.actions.append(action); }};
}

class DesktopBusTest : public TempHomeTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    }
};

TEST_F(DesktopBusTest, SecondStartHandsAbsolutePathsAndUrlsToTheFirstAndExits) {
    DesktopBus first(QDBusConnection::sessionBus(), testName());
    ASSERT_EQ(first.start({}), DesktopBus::Start::Primary);
    Received received;
    first.setReceiver(recordInto(received));

    // The second start runs in another folder; names with spaces and "#" survive the trip.
    QDir(home.path()).mkpath(QStringLiteral("pics"));
    const QString relative = QStringLiteral("pics/beach day #2.jpg");
    const QString absolute = home.filePath(relative);
    const QString colon = home.filePath(QStringLiteral("at:noon.jpg"));
    QFile(colon).open(QIODevice::WriteOnly);
    {
        DesktopBus second(secondConnection(QStringLiteral("files")), testName());
        const auto start = second.start(
            {relative, QStringLiteral("at:noon.jpg"), QStringLiteral("file:///srv/photos/x%20y.png"),
                QStringLiteral("lanternfish:///tmp/a.jpg#share"),
                QStringLiteral("https://example.org/evil.jpg")},
            home.path());
        EXPECT_EQ(start, DesktopBus::Start::HandedOver) << second.error().toStdString();
    }
    ASSERT_TRUE(waitUntil([&] { return !received.files.isEmpty(); }));
    EXPECT_EQ(received.files, (QStringList {absolute, colon, QStringLiteral("/srv/photos/x y.png")}));
    EXPECT_EQ(received.urls, QStringList {QStringLiteral("lanternfish:///tmp/a.jpg#share")});
    EXPECT_EQ(received.activations, 0);

    // Without arguments the second start only brings the first forward.
    DesktopBus third(secondConnection(QStringLiteral("bare")), testName());
    EXPECT_EQ(third.start({}), DesktopBus::Start::HandedOver);
    EXPECT_TRUE(waitUntil([&] { return received.activations == 1; }));
}

TEST_F(DesktopBusTest, NameIsFreeAgainWhenTheFirstQuits) {
    auto first = std::make_unique<DesktopBus>(QDBusConnection::sessionBus(), testName());
    ASSERT_EQ(first->start({}), DesktopBus::Start::Primary);
    first.reset();
    DesktopBus next(secondConnection(QStringLiteral("next")), testName());
    EXPECT_EQ(next.start({}), DesktopBus::Start::Primary);
}

TEST_F(DesktopBusTest, PrimaryDeliversItsOwnArgumentsOnceTheReceiverIsThere) {
    DesktopBus bus(QDBusConnection::sessionBus(), testName());
    ASSERT_EQ(bus.start({QStringLiteral("a.jpg"), QStringLiteral("lanternfish://callback?x=1")}, home.path()),
        DesktopBus::Start::Primary);
    Received received;
    deliverMainThreadWork();
    bus.setReceiver(recordInto(received));
    EXPECT_TRUE(received.files.isEmpty()); // carried out on the next turn, after the answer
    ASSERT_TRUE(waitUntil([&] { return !received.urls.isEmpty(); }));
    EXPECT_EQ(received.files, QStringList {home.filePath(QStringLiteral("a.jpg"))});
    EXPECT_EQ(received.urls, QStringList {QStringLiteral("lanternfish://callback?x=1")});
}

TEST_F(DesktopBusTest, WithoutASessionBusTheProgramRunsAlone) {
    const QDBusConnection none = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=%1").arg(home.filePath(QStringLiteral("no-bus"))), QStringLiteral("none"));
    DesktopBus bus(none, testName());
    EXPECT_EQ(bus.start({QStringLiteral("a.jpg")}, home.path()), DesktopBus::Start::Alone);
}

TEST_F(DesktopBusTest, CallsFromOtherProgramsAreCheckedBeforeTheyReachTheProgram) {
    DesktopBus bus(QDBusConnection::sessionBus(), testName());
    ASSERT_EQ(bus.start({}), DesktopBus::Start::Primary);
    Received received;
    bus.setReceiver(recordInto(received));
    QDBusConnection client = secondConnection(QStringLiteral("client"));
    auto call = [&](const QString &interface, const QString &method, const QVariantList &args) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            testName(), QString::fromLatin1(kBusObjectPath), interface, method);
        message.setArguments(args);
        return client.call(message, QDBus::BlockWithGui, 5000);
    };
    const QString app = QString::fromLatin1(kApplicationInterface);

    // A relative path means nothing to another program; a remote file is not fetched.
    EXPECT_EQ(
        call(app, QStringLiteral("Open"),
            {QStringList {QStringLiteral("rel.jpg"), QStringLiteral("sftp://host/a.jpg")}, QVariantMap()})
            .type(),
        QDBusMessage::ReplyMessage);
    ASSERT_TRUE(waitUntil([&] { return received.activations == 1; }));
    EXPECT_TRUE(received.files.isEmpty());

    const QDBusMessage action = call(app, QStringLiteral("ActivateAction"),
        {QStringLiteral("quit"), QVariant::fromValue(QVariantList()), QVariantMap()});
    EXPECT_EQ(action.type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(action.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
    // The desktop entry's own actions arrive.
    for (const char *name : {kActionSettings, kActionNewShare}) {
        EXPECT_EQ(call(app, QStringLiteral("ActivateAction"),
                      {QString::fromLatin1(name), QVariant::fromValue(QVariantList()), QVariantMap()})
                      .type(),
            QDBusMessage::ReplyMessage);
    }
    ASSERT_TRUE(waitUntil([&] { return received.actions.size() == 2; }));
    EXPECT_EQ(received.actions, (QStringList {QStringLiteral("settings"), QStringLiteral("new-share")}));

    // Scripting before the shell gave its backend: an error, not a crash.
    const QDBusMessage early = call(
        QString::fromLatin1(kScriptingInterface), QStringLiteral("RemovePhoto"), {QVariant::fromValue(0u)});
    EXPECT_EQ(early.type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(early.errorName(), QStringLiteral("com.Lanternfish.MacClient.Error.NotReady"));
}

} // namespace
} // namespace lf::test
