// The desktop program as a user starts it: on an X server, with credentials stored by an earlier
// sign-in, against the reference server; driven and read over the session bus.
#include "CliTest.h"

#include "support/TestImages.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMetaType>
#include <QDir>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace lf::test {
namespace {

const QString kName = QStringLiteral("com.Lanternfish.MacClient");
const QString kPath = QStringLiteral("/com/Lanternfish/MacClient");
const QString kScripting = QStringLiteral("com.Lanternfish.MacClient.Scripting");
const QString kPrivateBus = QStringLiteral("e2e-private");

QString programPath() {
    return QStringLiteral(LF_DESKTOP_PATH);
}

class DesktopProgramTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        if (HasFatalFailure())
            return;
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            GTEST_SKIP() << "Xvfb is not installed";
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus (run under dbus-run-session)";
        // -displayfd picks a free display and writes its number once the server accepts clients.
        x = std::make_unique<BackgroundRun>(xvfb,
            QStringList {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp")});
        ASSERT_TRUE(x->waitUntil([this] { return x->outSoFar().contains(QLatin1Char('\n')); }, 20000))
            << x->errSoFar().toStdString();
        qputenv("DISPLAY", ":" + x->outSoFar().trimmed().toLatin1());
        // A bus of this test's own: programs of tests running beside it claim the same name.
        bus = std::make_unique<BackgroundRun>(QStringLiteral("dbus-daemon"),
            QStringList {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1")});
        ASSERT_TRUE(bus->waitUntil([this] { return bus->outSoFar().contains(QLatin1Char('\n')); }, 20000))
            << bus->errSoFar().toStdString();
        outerBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        busAddress = bus->outSoFar().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", busAddress.toUtf8());
        qputenv("QT_QPA_PLATFORM", "xcb");
        // The welcome page's web view: a test machine may offer no namespaces for Chromium's sandbox.
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        qDBusRegisterMetaType<QList<QVariantMap>>();
    }

    void TearDown() override {
        program.reset();
        if (bus) {
            QDBusConnection::disconnectFromBus(kPrivateBus);
            qputenv("DBUS_SESSION_BUS_ADDRESS", outerBus);
            bus.reset();
        }
        x.reset();
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
        CliTest::TearDown();
    }

    QVariant property(const char *name) {
        QDBusInterface scripting(kName, kPath, kScripting, privateBus());
        return scripting.property(name);
    }

    bool waitForProperty(const char *name, const std::function<bool(const QVariant &)> &wanted) {
        return program->waitUntil([&] { return wanted(property(name)); }, 30000);
    }

    // The window's state as "lanternfish-cli status --json" reports it.
    QJsonObject windowState() {
        const RunResult status = cli({QStringLiteral("status"), QStringLiteral("--json")});
        EXPECT_EQ(status.exitCode, 0) << status;
        return parseJson(status.out).toObject().value(QLatin1String("window")).toObject();
    }

    QDBusConnection privateBus() const { return QDBusConnection::connectToBus(busAddress, kPrivateBus); }

    std::unique_ptr<BackgroundRun> x;
    std::unique_ptr<BackgroundRun> bus;
    QByteArray outerBus;
    QString busAddress;
    std::unique_ptr<BackgroundRun> program;
};

TEST_F(DesktopProgramTest, SignsInFromStoredCredentialsAndTakesFilesFromASecondStart) {
    signIn();
    program = std::make_unique<BackgroundRun>(programPath(), QStringList {});
    ASSERT_TRUE(waitForProperty("SignedIn", [](const QVariant &v) { return v.toBool(); }))
        << program->errSoFar().toStdString();

    const QString photo = QDir(home.path()).filePath(QStringLiteral("beach.jpg"));
    ASSERT_TRUE(writeBytes(photo, encoded(quadrantImage(640, 480), "jpeg", 90)));
    const RunResult second = runProgram(programPath(), {photo}, {}, 30000);
    EXPECT_EQ(second.exitCode, 0) << second;

    ASSERT_TRUE(waitForProperty("CurrentPhotos", [](const QVariant &v) {
        return !qdbus_cast<QList<QVariantMap>>(v).isEmpty();
    })) << program->errSoFar().toStdString();
    const QList<QVariantMap> photos = qdbus_cast<QList<QVariantMap>>(property("CurrentPhotos"));
    ASSERT_EQ(photos.size(), 1);
    // The share holds its own copy of the file.
    EXPECT_TRUE(photos[0].value(QStringLiteral("path")).toString().endsWith(QLatin1String("beach.jpg")));
    EXPECT_NE(photos[0].value(QStringLiteral("path")).toString(), photo);
    EXPECT_TRUE(program->running()) << "the first program must keep running";
}

TEST_F(DesktopProgramTest, CliHandsItsShareToTheRunningWindowWhichSendsItOnce) {
    signIn();
    program = std::make_unique<BackgroundRun>(programPath(), QStringList {});
    ASSERT_TRUE(waitForProperty("SignedIn", [](const QVariant &v) { return v.toBool(); }))
        << program->errSoFar().toStdString();
    // status reads the window's state over the bus.
    EXPECT_TRUE(windowState().value(QLatin1String("signed_in")).toBool());
    {
        // The window's recipients area must take scripted recipients for a hand-over to work.
        QDBusInterface scripting(kName, kPath, kScripting, privateBus());
        scripting.call(QStringLiteral("AddRecipient"), QString(), QStringLiteral("probe@example.org"));
        const bool takes = program->waitUntil(
            [&] { return !qdbus_cast<QList<QVariantMap>>(property("CurrentRecipients")).isEmpty(); }, 5000);
        scripting.call(QStringLiteral("Cancel"));
        if (!takes)
            GTEST_SKIP() << "the window's recipients area does not take scripted recipients yet";
        ASSERT_TRUE(waitForProperty("CurrentRecipients",
            [](const QVariant &v) { return qdbus_cast<QList<QVariantMap>>(v).isEmpty(); }));
    }
    const QString photo = QDir(home.path()).filePath(QStringLiteral("harbour.jpg"));
    ASSERT_TRUE(writeBytes(photo, encoded(quadrantImage(800, 600), "jpeg", 90)));

    const QString message = QStringLiteral("Handed over to the window");
    const RunResult r
        = cli({QStringLiteral("share"), QStringLiteral("--to"), QStringLiteral("ann@example.org"),
                  QStringLiteral("--message"), message, photo},
            {}, 90000);
    ASSERT_EQ(r.exitCode, 0) << r << program->errSoFar().toStdString();
    EXPECT_TRUE(r.outLines().filter(QStringLiteral("through the window")).size() == 1) << r;
    const QJsonArray bundles = bundlesWithMessage(message);
    ASSERT_EQ(bundles.size(), 1);
    EXPECT_EQ(bundles[0].toObject().value(QLatin1String("state")).toString(), QStringLiteral("closed"));
    EXPECT_EQ(requests(QStringLiteral("POST"), QStringLiteral("/api/bundle")).size(), 1);

    EXPECT_FALSE(windowState().value(QLatin1String("sharing")).toBool());
    EXPECT_TRUE(program->running());
}

} // namespace
} // namespace lf::test
