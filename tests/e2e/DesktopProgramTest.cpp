// The desktop program as a user starts it: on an X server, with credentials stored by an earlier
// sign-in, against the reference server; driven and read over the session bus.
#include "DesktopTest.h"

#include "foundation/Prefs.h"
#include "support/PrivateBus.h"
#include "support/TestImages.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcessEnvironment>

#include <limits>
#include <tuple>

#include <gtest/gtest.h>

namespace lf::test {
namespace {

class DesktopProgramTest : public DesktopTest {
protected:
    bool waitForProperty(const char *name, const std::function<bool(const QVariant &)> &wanted) {
        return waitFor([&] { return wanted(property(name)); });
    }

    // The window's state as "lanternfish-cli status --json" reports it.
    QJsonObject windowState() {
        const RunResult status = cli({QStringLiteral("status"), QStringLiteral("--json")});
        EXPECT_EQ(status.exitCode, 0) << status;
        return parseJson(status.out).toObject().value(QLatin1String("window")).toObject();
    }
};

TEST_F(DesktopProgramTest, SignsInFromStoredCredentialsAndTakesFilesFromASecondStart) {
    signIn();
    startProgram();
    ASSERT_TRUE(waitForProperty("SignedIn", [](const QVariant &v) { return v.toBool(); }))
        << program->errSoFar().toStdString();

    const QString photo = QDir(home.path()).filePath(QStringLiteral("beach.jpg"));
    ASSERT_TRUE(writeBytes(photo, encoded(quadrantImage(640, 480), "jpeg", 90)));
    const RunResult second = runProgram(desktopPath(), {photo}, {}, 30000);
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

TEST_F(DesktopProgramTest, SignsInWithTheTokenTheCliKeptInTheKeyring) {
    PrivateBus keyring(home.filePath(QStringLiteral("keyring")), busAddress);
    ASSERT_TRUE(keyring.startKeyring()) << keyring.error().toStdString();
    signIn();
    ASSERT_TRUE(keyring.lookup(QStringLiteral("127.0.0.1:%1/%2").arg(port).arg(kDemoEmail)).has_value());
    ASSERT_FALSE(Prefs::prefForKey(QLatin1String(PrefKey::UserToken)).isValid());
    startProgram();
    ASSERT_TRUE(waitForProperty("SignedIn", [](const QVariant &v) { return v.toBool(); }))
        << program->errSoFar().toStdString();
    EXPECT_FALSE(Prefs::prefForKey(QLatin1String(PrefKey::UserToken)).isValid());
}

TEST_F(DesktopProgramTest, CliHandsItsShareToTheRunningWindowWhichSendsItOnce) {
    signIn();
    startProgram();
    ASSERT_TRUE(waitForProperty("SignedIn", [](const QVariant &v) { return v.toBool(); }))
        << program->errSoFar().toStdString();
    // status reads the window's state over the bus.
    EXPECT_TRUE(windowState().value(QLatin1String("signed_in")).toBool());
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

TEST_F(DesktopProgramTest, AStalledUpdateCheckLeavesTheWindowAnswering) {
    addFaults(
        QStringLiteral("GET"), QStringLiteral("/update/linux"), QJsonArray {QJsonObject {{"stall", true}}});
    startProgram();
    // The stall is taken, and the request held, once the check has reached the server.
    ASSERT_TRUE(waitFor([this] { return devState().value(QLatin1String("faults")).toArray().isEmpty(); }))
        << program->errSoFar().toStdString();
    // A window waiting for the check would not answer at all; the fastest of a few reads
    // tells that from a busy machine.
    qint64 fastest = std::numeric_limits<qint64>::max();
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        EXPECT_TRUE(property("SignedIn").isValid());
        fastest = std::min(fastest, timer.elapsed());
    }
    EXPECT_LT(fastest, 200);
    resetDev();
}

// --version and --help answer without a display; an unknown option is refused with the usage.
TEST(DesktopOptionsTest, AnswerWithoutADisplay) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"})
        environment.remove(QLatin1String(name));
    auto run = [&](const QStringList &args) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(desktopPath(), args);
        process.waitForFinished(30000);
        return std::make_tuple(process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError()));
    };
    const auto [versionStatus, version, versionErr] = run({QStringLiteral("--version")});
    EXPECT_EQ(versionStatus, 0) << versionErr.toStdString();
    EXPECT_TRUE(version.startsWith(QLatin1String("lanternfish "))) << version.toStdString();
    const auto [helpStatus, help, helpErr] = run({QStringLiteral("--help")});
    EXPECT_EQ(helpStatus, 0) << helpErr.toStdString();
    EXPECT_TRUE(help.contains(QLatin1String("Usage: lanternfish"))) << help.toStdString();
    const auto [badStatus, badOut, bad] = run({QStringLiteral("--frobnicate")});
    EXPECT_EQ(badStatus, 2);
    EXPECT_TRUE(bad.contains(QLatin1String("--frobnicate")) && bad.contains(QLatin1String("Usage:")))
        << bad.toStdString();
}

} // namespace
} // namespace lf::test
