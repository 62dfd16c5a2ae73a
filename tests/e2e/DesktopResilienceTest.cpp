// The desktop program when things go wrong around it: a server that stalls every request, a
// worker stuck on a photo path that never opens, the session ending mid-share, and a user who
// answers every question with Escape. Driven with real input through the X server.
#include "DesktopTest.h"

#include "api/HttpTransport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QThread>

#include <csignal>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace lf::test {
namespace {

// The desktop allows a program five seconds to end.
constexpr int kEndLimitMs = 5000;
// A window that answers at all answers within this, even on a busy test machine; a frozen one
// is stuck for the whole time-out of a request (75 s) instead.
constexpr int kAnswerMs = 1000;

class DesktopResilienceTest : public DesktopTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(DesktopTest::SetUp());
        if (!IsSkipped()) {
            ASSERT_NO_FATAL_FAILURE(writePhotos());
        }
    }

    // Every request of every path waits a minute before it is answered.
    void stallEveryEndpoint() {
        QJsonArray stalls;
        for (int i = 0; i < 50; ++i)
            stalls.append(QJsonObject {{"delay_ms", 60000}});
        for (const QString &method : {QStringLiteral("GET"), QStringLiteral("POST")})
            ASSERT_NO_FATAL_FAILURE(addFaults(method, QStringLiteral("/*"), stalls));
    }

    // The slowest answer to a property read over `forMs`, read again and again.
    qint64 slowestPropertyRead(int forMs) {
        QElapsedTimer overall;
        overall.start();
        qint64 slowest = 0;
        while (overall.elapsed() < forMs) {
            QDBusMessage get = QDBusMessage::createMethodCall(QStringLiteral("com.Lanternfish.MacClient"),
                QStringLiteral("/com/Lanternfish/MacClient"),
                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
            get << QStringLiteral("com.Lanternfish.MacClient.Scripting") << QStringLiteral("CurrentPhotos");
            QElapsedTimer one;
            one.start();
            const QDBusMessage reply = privateBus().call(get, QDBus::Block, 3 * kAnswerMs);
            const qint64 took = reply.type() == QDBusMessage::ReplyMessage ? one.elapsed() : 3 * kAnswerMs;
            slowest = std::max(slowest, took);
            QThread::msleep(100);
        }
        return slowest;
    }

    // Makes a FIFO where a photo is expected: opening it for reading blocks until a writer comes.
    QString fifoPhoto() {
        const QString path = home.filePath(QStringLiteral("photos/never-opens.jpg"));
        EXPECT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        return path;
    }

    // Starts a share whose first photo upload hangs on the wire.
    void startStalledShare(const QString &message) {
        ASSERT_NO_FATAL_FAILURE(
            addFaults(QStringLiteral("POST"), QStringLiteral("/api/photo"), {QJsonObject {{"stall", true}}}));
        script(QStringLiteral("AddRecipient"), {QString(), QStringLiteral("zed@example.org")});
        script(QStringLiteral("AddPhoto"), {samplePhotos[0], QString()});
        ASSERT_TRUE(waitFor([this] { return listProperty("CurrentPhotos").size() == 1; }));
        QDBusMessage set = QDBusMessage::createMethodCall(QStringLiteral("com.Lanternfish.MacClient"),
            QStringLiteral("/com/Lanternfish/MacClient"), QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Set"));
        set << QStringLiteral("com.Lanternfish.MacClient.Scripting") << QStringLiteral("CurrentMessage")
            << QVariant::fromValue(QDBusVariant(message));
        ASSERT_EQ(privateBus().call(set).type(), QDBusMessage::ReplyMessage);
        script(QStringLiteral("Share"));
        ASSERT_TRUE(waitFor([this] {
            return !requests(QStringLiteral("POST"), QStringLiteral("/api/photo")).isEmpty();
        })) << program->errSoFar().toStdString();
        ASSERT_TRUE(property("Sharing").toBool());
    }

    // Waits for the program's end, and for how long it took.
    RunResult endWithin(qint64 *tookMs) {
        QElapsedTimer timer;
        timer.start();
        const RunResult ended = program->finish(3 * kEndLimitMs);
        *tookMs = timer.elapsed();
        return ended;
    }

    // The question showing the button `answer`, given the keyboard; empty when none shows.
    std::optional<QVariantMap> question(const QString &answer) {
        const std::optional<QVariantMap> button = waitForControl(answer, QStringLiteral("Button"));
        if (button)
            focusWindow(button->value(QStringLiteral("window")).toString());
        return button;
    }
};

TEST_F(DesktopResilienceTest, AStallingServerNeverFreezesTheWindowWhileItChecksTheConnection) {
    ASSERT_NO_FATAL_FAILURE(signIn());
    HttpTransport::shared().closeIdleConnections();
    server->stop();
    startProgram();
    ASSERT_TRUE(waitFor([this] { return !balloon().isEmpty(); })) << program->errSoFar().toStdString();

    // The server comes back, but answers nothing for a minute; the balloon looks for it every
    // five seconds meanwhile.
    ASSERT_TRUE(server->start());
    ASSERT_NO_FATAL_FAILURE(stallEveryEndpoint());
    EXPECT_LT(slowestPropertyRead(12000), kAnswerMs);
    EXPECT_FALSE(requests().isEmpty()) << "the connection was never checked";
    EXPECT_TRUE(program->running());
}

TEST_F(DesktopResilienceTest, QuitEndsTheProcessWhileAWorkerIsStuckOnAPhotoThatNeverOpens) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    script(QStringLiteral("AddPhoto"), {fifoPhoto(), QString()});
    // Time for the photo's worker to reach the open() that never returns.
    QThread::msleep(300);
    EXPECT_LT(slowestPropertyRead(300), kAnswerMs);

    ASSERT_NO_FATAL_FAILURE(focusWindow(QStringLiteral("MainWindow")));
    key(QStringLiteral("ctrl+q"));
    qint64 took = 0;
    const RunResult ended = endWithin(&took);
    EXPECT_FALSE(ended.timedOut) << ended;
    EXPECT_EQ(ended.exitCode, 0) << ended;
    EXPECT_LT(took, kEndLimitMs);
}

TEST_F(DesktopResilienceTest, TheSessionEndingStopsAStalledShareInTimeAndTheNextStartFinishesIt) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    const QString message = QStringLiteral("Sent across a logout");
    ASSERT_NO_FATAL_FAILURE(startStalledShare(message));
    script(QStringLiteral("AddPhoto"), {fifoPhoto(), QString()});
    QThread::msleep(300);

    program->sendSignal(SIGTERM);
    qint64 took = 0;
    const RunResult ended = endWithin(&took);
    EXPECT_FALSE(ended.signalled) << "ended by the signal, not by the program: " << ended;
    EXPECT_EQ(ended.exitCode, 0) << ended;
    EXPECT_LT(took, kEndLimitMs);

    resetDev();
    startProgram();
    ASSERT_TRUE(waitFor(
        [&] {
            const QJsonArray bundles = bundlesWithMessage(message);
            return bundles.size() == 1
                && bundles[0].toObject().value(QLatin1String("state")).toString() == QLatin1String("closed");
        },
        90000))
        << program->errSoFar().toStdString();
}

TEST_F(DesktopResilienceTest, EscapeKeepsSharingAndStaysSignedIn) {
    ASSERT_NO_FATAL_FAILURE(startSignedIn());
    ASSERT_NO_FATAL_FAILURE(startStalledShare(QStringLiteral("Escape keeps it going")));

    ASSERT_NO_FATAL_FAILURE(focusWindow(QStringLiteral("MainWindow")));
    key(QStringLiteral("ctrl+q"));
    ASSERT_TRUE(question(QStringLiteral("Quit"))) << "no quit question";
    key(QStringLiteral("Escape"));
    EXPECT_TRUE(waitFor([this] { return !control(QStringLiteral("Quit"), QStringLiteral("Button")); }));
    EXPECT_TRUE(program->running());
    EXPECT_TRUE(property("Sharing").toBool());

    // Account › Sign Out, from the keyboard.
    ASSERT_NO_FATAL_FAILURE(focusWindow(QStringLiteral("MainWindow")));
    key(QStringLiteral("alt+a"));
    QThread::msleep(300);
    key(QStringLiteral("o"));
    ASSERT_TRUE(question(QStringLiteral("Sign Out"))) << "no sign-out question";
    key(QStringLiteral("Escape"));
    EXPECT_TRUE(waitFor([this] { return !control(QStringLiteral("Sign Out"), QStringLiteral("Button")); }));
    EXPECT_TRUE(signedIn());
    EXPECT_TRUE(property("Sharing").toBool());
}

} // namespace
} // namespace lf::test
