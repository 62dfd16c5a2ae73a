#include "support/TempHome.h"

#include <QProcess>
#include <QRegularExpression>

#include <csignal>

namespace lf::test {
namespace {

using ExecutableTest = TempHomeTest;

TEST_F(ExecutableTest, PrintsOneLineWhenReadyAndStopsCleanlyOnSignals) {
    for (const int stopSignal : {SIGINT, SIGTERM}) {
        QProcess server;
        // As a shell starts background jobs: with SIGINT ignored, which the child inherits.
        struct sigaction ignore {
        }, previous {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGINT, &ignore, &previous);
        server.start(QStringLiteral(LF_DEVSERVER_EXE),
            {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"),
                home.filePath(QStringLiteral("data")), QStringLiteral("--seed"), QStringLiteral("demo")});
        ASSERT_TRUE(server.waitForStarted(5000));
        ASSERT_TRUE(server.waitForReadyRead(10000));
        const QString line = QString::fromUtf8(server.readLine());
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^listening on http://127\\.0\\.0\\.1:[0-9]+\\n$"))
                        .match(line)
                        .hasMatch())
            << line.toStdString();
        ::kill(pid_t(server.processId()), stopSignal);
        ASSERT_TRUE(server.waitForFinished(10000));
        EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(server.exitCode(), 0);
        EXPECT_TRUE(server.readAll().isEmpty());
    }
}

TEST_F(ExecutableTest, RefusesUnknownSeedsAndBadPorts) {
    for (const QStringList &arguments : {QStringList {QStringLiteral("--seed"), QStringLiteral("other")},
             QStringList {QStringLiteral("--port"), QStringLiteral("70000")}}) {
        QProcess server;
        server.start(QStringLiteral(LF_DEVSERVER_EXE), arguments);
        ASSERT_TRUE(server.waitForFinished(10000));
        EXPECT_NE(server.exitCode(), 0);
    }
}

} // namespace
} // namespace lf::test
