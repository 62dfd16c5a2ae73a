// Where the built program keeps the sign-in token: GNOME Keyring's Secret Service on a session
// bus of the test's own, a bus without any keyring, and a keyring that never answers.
#include "CliTest.h"

#include "foundation/Prefs.h"
#include "support/PrivateBus.h"

#include <QFile>

using namespace lf;
using namespace lf::test;

namespace {

constexpr int kBoundedRunMs = 20000;

class CliKeyringTest : public CliTest {
protected:
    void SetUp() override {
        bus = std::make_unique<PrivateBus>(home.filePath(QStringLiteral("bus")));
        ASSERT_TRUE(bus->started()) << bus->error().toStdString();
        CliTest::SetUp();
    }
    void TearDown() override {
        CliTest::TearDown();
        bus.reset();
        qunsetenv("LANTERNFISH_KEYRING_WAIT_MS");
    }

    QString account() const { return QStringLiteral("127.0.0.1:%1/%2").arg(port).arg(kDemoEmail); }

    static QByteArray prefsFile() {
        QFile file(Prefs::storePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QStringList issuedTokens() {
        QStringList tokens;
        for (const QJsonValue &t : demoUser().value(QLatin1String("tokens")).toArray())
            tokens.append(t.toObject().value(QLatin1String("token")).toString());
        return tokens;
    }

    RunResult signInRun() {
        return cli({QStringLiteral("signin"), QLatin1String(kDemoEmail), QStringLiteral("--password-stdin")},
            QByteArray(kDemoPassword) + '\n', kBoundedRunMs);
    }

    std::unique_ptr<PrivateBus> bus;
};

TEST_F(CliKeyringTest, WithAKeyringTheTokenIsKeptThereOnlyAndSignOutRemovesIt) {
    ASSERT_TRUE(bus->startKeyring()) << bus->error().toStdString();
    const RunResult in = signInRun();
    ASSERT_EQ(in.exitCode, 0) << in;
    EXPECT_FALSE(in.err.contains(QLatin1String("keyring"), Qt::CaseInsensitive)) << in;

    const std::optional<QString> kept = bus->lookup(account());
    ASSERT_TRUE(kept.has_value());
    EXPECT_TRUE(issuedTokens().contains(*kept)) << kept->toStdString();
    const QByteArray file = prefsFile();
    EXPECT_TRUE(file.contains(kDemoEmail));
    EXPECT_FALSE(file.contains(PrefKey::UserToken));
    EXPECT_FALSE(file.contains(kept->toUtf8()));

    // A second process signs in with what the first one kept.
    const RunResult who = cli({QStringLiteral("whoami")});
    EXPECT_EQ(who.exitCode, 0) << who;
    EXPECT_EQ(who.outLines(),
        (QStringList {QStringLiteral("Demo User <%1> on %2").arg(kDemoEmail, hostPort()),
            QStringLiteral("Sign-in kept in the keyring (com.Lanternfish.MacClient, account %1)")
                .arg(account())}))
        << who;

    const RunResult out = cli({QStringLiteral("signout")});
    EXPECT_EQ(out.exitCode, 0) << out;
    EXPECT_FALSE(bus->lookup(account()).has_value());
    EXPECT_EQ(cli({QStringLiteral("whoami")}).exitCode, 1);
}

TEST_F(CliKeyringTest, WithoutAKeyringTheFileKeepsTheTokenUntilOneRunsThenItMoves) {
    const RunResult in = signInRun();
    ASSERT_EQ(in.exitCode, 0) << in;
    EXPECT_TRUE(errorLines(in).isEmpty()) << in;
    EXPECT_TRUE(in.err.contains(
        QStringLiteral("No keyring is running, so your sign-in is kept in %1").arg(Prefs::storePath())))
        << in;
    const QString token = Prefs::prefForKey(QLatin1String(PrefKey::UserToken)).toString();
    EXPECT_TRUE(issuedTokens().contains(token)) << token.toStdString();
    const RunResult who = cli({QStringLiteral("whoami")});
    EXPECT_EQ(who.exitCode, 0) << who;
    EXPECT_EQ(who.outLines().value(1),
        QStringLiteral("Sign-in kept in %1 (no keyring is running)").arg(Prefs::storePath()))
        << who;

    ASSERT_TRUE(bus->startKeyring()) << bus->error().toStdString();
    const RunResult moved = cli({QStringLiteral("whoami")});
    EXPECT_EQ(moved.exitCode, 0) << moved;
    EXPECT_TRUE(moved.outLines().value(1).startsWith(QLatin1String("Sign-in kept in the keyring"))) << moved;
    EXPECT_EQ(bus->lookup(account()), std::optional<QString>(token));
    EXPECT_FALSE(prefsFile().contains(PrefKey::UserToken));
    // And it is found there afterwards.
    EXPECT_EQ(cli({QStringLiteral("whoami")}).exitCode, 0);
}

TEST_F(CliKeyringTest, AKeyringThatNeverAnswersCostsABoundedWaitAndNeverTheFile) {
    qputenv("LANTERNFISH_KEYRING_WAIT_MS", "300");
    ASSERT_TRUE(bus->startSilentKeyring()) << bus->error().toStdString();
    Prefs::setPref(QLatin1String(kDemoEmail), QLatin1String(PrefKey::UserName));

    const RunResult who = cli({QStringLiteral("whoami")}, {}, kBoundedRunMs);
    EXPECT_FALSE(who.timedOut) << who;
    EXPECT_EQ(who.exitCode, 1) << who;
    EXPECT_TRUE(who.out.contains(QLatin1String("Not signed in"))) << who;
    EXPECT_TRUE(who.err.contains(QLatin1String("The keyring did not answer"))) << who;

    // Signing in works with the server, but the token cannot be kept: said, and not put in the file.
    const RunResult in = signInRun();
    EXPECT_FALSE(in.timedOut) << in;
    EXPECT_EQ(in.exitCode, 1) << in;
    EXPECT_TRUE(in.err.contains(QLatin1String("The keyring did not answer"))) << in;
    EXPECT_EQ(errorLines(in).size(), 1) << in;
    EXPECT_FALSE(prefsFile().contains(PrefKey::UserToken));
}

TEST_F(CliKeyringTest, ALockedKeyringSignsOutWithAClearMessage) {
    ASSERT_TRUE(bus->startKeyring()) << bus->error().toStdString();
    ASSERT_EQ(signInRun().exitCode, 0);
    // This bus has no prompter to unlock it with, as when the user dismisses the prompt.
    ASSERT_TRUE(bus->lockKeyring()) << bus->error().toStdString();

    const RunResult who = cli({QStringLiteral("whoami")}, {}, kBoundedRunMs);
    EXPECT_EQ(who.exitCode, 1) << who;
    EXPECT_TRUE(who.out.contains(QLatin1String("Not signed in"))) << who;
    EXPECT_TRUE(who.err.contains(QLatin1String("The keyring is locked"))) << who;
    EXPECT_FALSE(prefsFile().contains(PrefKey::UserToken));
}

} // namespace
