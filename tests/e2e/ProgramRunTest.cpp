// The whole-program harness itself, driven with the shell so it is checked before any program of
// ours runs under it.
#include "ProgramRun.h"

#include "support/TempHome.h"

#include <QDeadlineTimer>

#include <csignal>

using namespace lf::test;

namespace {

const QString kShell = QStringLiteral("/bin/sh");

class ProgramRunTest : public TempHomeTest { };

TEST_F(ProgramRunTest, PassesInputAndKeepsTheStreamsAndExitCodeApart) {
    const RunResult r = runProgram(kShell,
        {QStringLiteral("-c"), QStringLiteral("read line; echo \"got $line\"; echo oops >&2; exit 3")},
        "hello\nsecond\n");
    EXPECT_EQ(r.exitCode, 3) << r;
    EXPECT_FALSE(r.signalled);
    EXPECT_EQ(r.outLines(), QStringList {QStringLiteral("got hello")});
    EXPECT_EQ(r.errLines(), QStringList {QStringLiteral("oops")});
}

TEST_F(ProgramRunTest, TheProgramRunsInTheTestsTemporaryHome) {
    const RunResult r = runProgram(kShell,
        {QStringLiteral("-c"),
            QStringLiteral(
                "printf '%s\\n' \"$HOME\" \"$XDG_CONFIG_HOME\" \"$XDG_CACHE_HOME\" \"$XDG_DATA_HOME\" "
                "\"$XDG_STATE_HOME\"")});
    ASSERT_EQ(r.exitCode, 0) << r;
    EXPECT_EQ(r.outLines(),
        (QStringList {home.path(), home.filePath(QStringLiteral(".config")),
            home.filePath(QStringLiteral(".cache")), home.filePath(QStringLiteral(".local/share")),
            home.filePath(QStringLiteral(".local/state"))}));
}

TEST_F(ProgramRunTest, AnOverrunningProgramIsKilledAndReportedAsTimedOut) {
    QDeadlineTimer limit(10000);
    const RunResult r = runProgram(kShell, {QStringLiteral("-c"), QStringLiteral("exec sleep 30")}, {}, 200);
    EXPECT_FALSE(limit.hasExpired());
    EXPECT_TRUE(r.timedOut);
    EXPECT_TRUE(r.signalled);
    EXPECT_EQ(r.exitCode, -1);
}

TEST_F(ProgramRunTest, BackgroundRunIsSignalledOnceItsConditionHolds) {
    // The shell turns SIGINT into exit status 130, so a SIGKILL sent instead would show.
    BackgroundRun interrupted(kShell,
        {QStringLiteral("-c"),
            QStringLiteral("trap 'exit 130' INT; echo ready; while :; do sleep 0.05; done")});
    ASSERT_TRUE(
        interrupted.waitUntil([&] { return interrupted.outSoFar().contains(QLatin1String("ready")); }));
    interrupted.sendSignal(SIGINT);
    const RunResult r = interrupted.finish(10000);
    EXPECT_EQ(r.exitCode, 130) << r;
    EXPECT_FALSE(r.timedOut);

    BackgroundRun killed(kShell, {QStringLiteral("-c"), QStringLiteral("echo ready >&2; exec sleep 30")});
    ASSERT_TRUE(killed.waitUntil([&] { return killed.errSoFar().contains(QLatin1String("ready")); }));
    killed.sendSignal(SIGKILL);
    const RunResult k = killed.finish(10000);
    EXPECT_TRUE(k.signalled) << k;
    EXPECT_FALSE(k.timedOut);
}

TEST_F(ProgramRunTest, WaitingStopsWhenTheProgramEndsFirstOrTimeRunsOut) {
    BackgroundRun quick(kShell, {QStringLiteral("-c"), QStringLiteral("exit 0")});
    EXPECT_FALSE(quick.waitUntil([] { return false; }, 10000));
    EXPECT_FALSE(quick.running());

    BackgroundRun slow(kShell, {QStringLiteral("-c"), QStringLiteral("exec sleep 30")});
    EXPECT_FALSE(slow.waitUntil([] { return false; }, 150));
    EXPECT_TRUE(slow.running()); // killed and reaped by its destructor
}

} // namespace
