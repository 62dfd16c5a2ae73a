// Signing in and out with the built program against the reference server.
#include "CliTest.h"

using namespace lf::test;

namespace {

class CliSignInTest : public CliTest { };

TEST_F(CliSignInTest, AWrongPasswordFailsInOneLineAndLeavesTheUserSignedOut) {
    const QByteArray wrong = "wrong-horse-battery";
    const RunResult r
        = cli({QStringLiteral("signin"), QLatin1String(kDemoEmail), QStringLiteral("--password-stdin")},
            wrong + '\n');
    EXPECT_EQ(r.exitCode, 1) << r;
    EXPECT_EQ(errorLines(r).size(), 1) << r;
    EXPECT_TRUE(r.out.trimmed().isEmpty()) << r;
    EXPECT_FALSE(r.out.contains(QLatin1String(wrong)) || r.err.contains(QLatin1String(wrong))) << r;

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
    EXPECT_EQ(
        who.outLines(), QStringList {QStringLiteral("Demo User <%1> on %2").arg(kDemoEmail, hostPort())})
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

} // namespace
