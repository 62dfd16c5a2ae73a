// The desktop program as a user starts it: on an X server, with credentials stored by an earlier
// sign-in, against the reference server; driven and read over the session bus.
#include "DesktopTest.h"

#include "foundation/Prefs.h"
#include "support/PrivateBus.h"
#include "support/TestImages.h"

#include <QDir>

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

} // namespace
} // namespace lf::test
