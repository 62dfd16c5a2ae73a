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
        qputenv("QT_QPA_PLATFORM", "xcb");
        // The welcome page's web view: a test machine may offer no namespaces for Chromium's sandbox.
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        qDBusRegisterMetaType<QList<QVariantMap>>();
    }

    void TearDown() override {
        program.reset();
        x.reset();
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
        CliTest::TearDown();
    }

    QVariant property(const char *name) {
        QDBusInterface scripting(kName, kPath, kScripting, QDBusConnection::sessionBus());
        return scripting.property(name);
    }

    bool waitForProperty(const char *name, const std::function<bool(const QVariant &)> &wanted) {
        return program->waitUntil([&] { return wanted(property(name)); }, 30000);
    }

    std::unique_ptr<BackgroundRun> x;
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

} // namespace
} // namespace lf::test
