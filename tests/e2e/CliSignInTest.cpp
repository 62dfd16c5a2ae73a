// Signing in and out with the built program against the reference server.
#include "CliTest.h"

#include "support/DemoServer.h"

#include <QDir>
#include <QFile>

using namespace lf::test;

namespace {

class CliSignInTest : public CliTest { };

TEST_F(CliSignInTest, AWrongPasswordFailsInOneLineAndLeavesTheUserSignedOut) {
    // The log folder on the desktop switches the diagnostic log on for this run.
    const QDir logs(home.filePath(QStringLiteral("Desktop/LanternfishLogs")));
    ASSERT_TRUE(QDir().mkpath(logs.path()));
    const QByteArray wrong = "wrong-horse-battery";
    const RunResult r
        = cli({QStringLiteral("signin"), QLatin1String(kDemoEmail), QStringLiteral("--password-stdin")},
            wrong + '\n');
    EXPECT_EQ(r.exitCode, 1) << r;
    EXPECT_EQ(errorLines(r).size(), 1) << r;
    EXPECT_TRUE(r.out.trimmed().isEmpty()) << r;
    EXPECT_FALSE(r.out.contains(QLatin1String(wrong)) || r.err.contains(QLatin1String(wrong))) << r;
    const QStringList logFiles = logs.entryList({QStringLiteral("*.log")}, QDir::Files);
    ASSERT_EQ(logFiles.size(), 1);
    QFile log(logs.filePath(logFiles.first()));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray logged = log.readAll();
    EXPECT_TRUE(logged.contains("sign-in of demo@lanternfish.test failed")) << logged.toStdString();
    EXPECT_FALSE(logged.contains(wrong));

    const RunResult who = cli({QStringLiteral("whoami")});
    EXPECT_EQ(who.exitCode, 1) << who;
    EXPECT_TRUE((who.out + who.err).contains(QStringLiteral("Not signed in (server %1)").arg(hostPort())))
        << who;
}

TEST_F(CliSignInTest, TheRightPasswordSignsInUntilSignOut) {
    const RunResult r
        = cli({QStringLiteral("signin"), QLatin1String(kDemoEmail), QStringLiteral("--password-stdin")},
            QByteArray(kDemoPassword) + '\n');
    ASSERT_EQ(r.exitCode, 0) << r;
    EXPECT_EQ(r.outLines().value(0), QStringLiteral("Signed in as %1 on %2").arg(kDemoEmail, hostPort()))
        << r;
    EXPECT_TRUE(errorLines(r).isEmpty()) << r;
    // The server issued a token to this client.
    EXPECT_FALSE(demoUser().value(QLatin1String("tokens")).toArray().isEmpty());

    // A later run signs in from what the first one stored.
    const RunResult who = cli({QStringLiteral("whoami")});
    EXPECT_EQ(who.exitCode, 0) << who;
    EXPECT_EQ(who.outLines().value(0), QStringLiteral("Demo User <%1> on %2").arg(kDemoEmail, hostPort()))
        << who;

    const RunResult out = cli({QStringLiteral("signout")});
    EXPECT_EQ(out.exitCode, 0) << out;
    const RunResult after = cli({QStringLiteral("whoami")});
    EXPECT_EQ(after.exitCode, 1) << after;
    EXPECT_TRUE((after.out + after.err).contains(QStringLiteral("Not signed in"))) << after;
}

TEST_F(CliSignInTest, AnUnconfirmedAccountIsRefused) {
    const RunResult r = cli({QStringLiteral("signin"), QStringLiteral("pending@lanternfish.test"),
                                QStringLiteral("--password-stdin")},
        QByteArray(kDemoPassword) + '\n');
    EXPECT_EQ(r.exitCode, 1) << r;
    EXPECT_EQ(errorLines(r).size(), 1) << r;
}

TEST_F(CliSignInTest, SignUpNeedsTheTermsThenTheConfirmationBeforeSigningIn) {
    const QString email = QStringLiteral("nia.park@example.org");
    const QStringList signUp {QStringLiteral("signup"), QStringLiteral("Nia"), QStringLiteral("Park"), email,
        QStringLiteral("--password-stdin")};
    const QByteArray password = "harbour-lights\n";

    const RunResult withoutTerms = cli(signUp, password);
    EXPECT_EQ(withoutTerms.exitCode, 2) << withoutTerms;
    EXPECT_TRUE(withoutTerms.err.contains(QStringLiteral("/terms/"))) << withoutTerms;
    EXPECT_TRUE(requests(QStringLiteral("POST"), QStringLiteral("/api/user")).isEmpty());

    const RunResult made = cli(signUp + QStringList {QStringLiteral("--accept-terms")}, password);
    ASSERT_EQ(made.exitCode, 0) << made;
    // Not confirmed yet: the sign-in says what to do, in one line.
    const QStringList signIn {QStringLiteral("signin"), email, QStringLiteral("--password-stdin")};
    const RunResult early = cli(signIn, password);
    EXPECT_EQ(early.exitCode, 1) << early;
    EXPECT_EQ(errorLines(early).size(), 1) << early;
    EXPECT_TRUE(early.err.contains(email)) << early;

    devCall(*server, "POST", QStringLiteral("/__dev/users/confirm"), QJsonObject {{"email", email}});
    const RunResult confirmed = cli(signIn, password);
    EXPECT_EQ(confirmed.exitCode, 0) << confirmed;

    // The same address again, and a password the server refuses: one line each, exit 1 or 2.
    const RunResult again = cli(signUp + QStringList {QStringLiteral("--accept-terms")}, password);
    EXPECT_EQ(again.exitCode, 1) << again;
    EXPECT_TRUE(again.err.contains(QStringLiteral("already exists"))) << again;
    const RunResult tooShort = cli(QStringList {QStringLiteral("signup"), QStringLiteral("A"),
                                       QStringLiteral("B"), QStringLiteral("ab@example.org"),
                                       QStringLiteral("--accept-terms"), QStringLiteral("--password-stdin")},
        "abc\n");
    EXPECT_EQ(tooShort.exitCode, 2) << tooShort;
}

} // namespace
