// How the built program reports what it cannot do: exit status and a one-line message.
#include "CliTest.h"

#include "foundation/Credentials.h"
#include "support/SamplePhotos.h"

using namespace lf::test;

namespace {

const QString kRefusedMessage = QStringLiteral("Never arrives");

class CliFailureTest : public CliTest {
protected:
    // Shares the sample photos while the server refuses every create.
    RunResult shareRefusedEveryTime() {
        QJsonArray refusals;
        for (int i = 0; i < 30; ++i)
            refusals.append(QJsonObject {{"status", 400}});
        addFaults(QStringLiteral("POST"), QStringLiteral("/api/bundle"), refusals);
        return cli(
            QStringList {QStringLiteral("share"), QStringLiteral("--to"),
                QStringLiteral("ann.friend@lanternfish.test"), QStringLiteral("--message"), kRefusedMessage}
            + samplePhotos());
    }

    QStringList samplePhotos() {
        QString error;
        const QStringList photos = writeSamplePhotos(home.filePath(QStringLiteral("photos")), &error);
        EXPECT_EQ(photos.size(), 3) << error.toStdString();
        return photos;
    }
};

TEST_F(CliFailureTest, UsageErrorsExitTwoWithoutDoingAnything) {
    ASSERT_NO_FATAL_FAILURE(signIn());
    const QString photo = samplePhotos().value(1);
    resetDev();
    const QList<QStringList> cases = {
        {QStringLiteral("frobnicate")},
        {QStringLiteral("signin")},
        {QStringLiteral("use-server"), QStringLiteral("no-port-here")},
        {QStringLiteral("use-server"), QStringLiteral("127.0.0.1:99999")},
        {QStringLiteral("share"), photo},
        {QStringLiteral("share"), QStringLiteral("--to"), QStringLiteral("ann.friend@lanternfish.test")},
        {QStringLiteral("share"), QStringLiteral("--to"), QStringLiteral("not an address"), photo},
        {QStringLiteral("contacts"), QStringLiteral("add"), QStringLiteral("Only Name")},
        {QStringLiteral("groups"), QStringLiteral("create")},
        {QStringLiteral("config"), QStringLiteral("noSuchPreference")},
    };
    for (const QStringList &args : cases) {
        const RunResult r = cli(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(QLatin1Char(' ')).toStdString() << "\n" << r;
        EXPECT_FALSE(errorLines(r).isEmpty()) << args.join(QLatin1Char(' ')).toStdString() << "\n" << r;
        EXPECT_TRUE(r.out.isEmpty()) << args.join(QLatin1Char(' ')).toStdString() << "\n" << r;
    }
    // Without a command it shows how to use it.
    const RunResult bare = cli({});
    EXPECT_EQ(bare.exitCode, 2) << bare;
    EXPECT_TRUE(bare.err.contains(QLatin1String("share"))) << bare;

    // Nothing reached the server, and the server choice is the one made before.
    EXPECT_TRUE(requests().isEmpty());
    EXPECT_EQ(cli({QStringLiteral("whoami")}).exitCode, 0);

    for (const char *info : {"--help", "--version"}) {
        const RunResult r = cli({QLatin1String(info)});
        EXPECT_EQ(r.exitCode, 0) << info << "\n" << r;
        EXPECT_FALSE(r.out.trimmed().isEmpty()) << info;
    }
}

TEST_F(CliFailureTest, EveryCommandExplainsItselfWithoutDoingAnything) {
    for (const char *command : {"use-server", "signin", "signup", "signout", "whoami", "share", "resume",
             "status", "cancel", "contacts", "groups", "complete", "config"}) {
        const QString name = QLatin1String(command);
        const RunResult help = cli({name, QStringLiteral("--help")});
        EXPECT_EQ(help.exitCode, 0) << command << "\n" << help;
        EXPECT_TRUE(help.out.startsWith(QLatin1String("Usage:"))) << help;
        EXPECT_TRUE(help.out.contains(QStringLiteral("lanternfish-cli %1").arg(name))) << help;
        EXPECT_TRUE(help.err.isEmpty()) << help;
        EXPECT_EQ(cli({QStringLiteral("help"), name}).out, help.out) << command;
    }
    // Also after other arguments, as a user adds it to a command line that failed.
    const RunResult nested = cli({QStringLiteral("contacts"), QStringLiteral("add"), QStringLiteral("-h")});
    EXPECT_EQ(nested.exitCode, 0) << nested;
    EXPECT_TRUE(nested.out.contains(QLatin1String("contacts delete EMAIL"))) << nested;
    EXPECT_EQ(cli({QStringLiteral("frobnicate"), QStringLiteral("--help")}).exitCode, 2);
    EXPECT_TRUE(requests().isEmpty());

    const RunResult version = cli({QStringLiteral("--version")});
    EXPECT_EQ(version.outLines(),
        QStringList {QStringLiteral("lanternfish-cli ") + lf::Credentials::clientVersion()});
}

TEST_F(CliFailureTest, SettingsAreReadAndWrittenByTheirType) {
    const RunResult set
        = cli({QStringLiteral("config"), QStringLiteral("shareHighResPhotos"), QStringLiteral("false")});
    ASSERT_EQ(set.exitCode, 0) << set;
    const RunResult get = cli({QStringLiteral("config"), QStringLiteral("shareHighResPhotos")});
    ASSERT_EQ(get.exitCode, 0) << get;
    EXPECT_EQ(get.outLines(), QStringList {QStringLiteral("false")}) << get;
    const RunResult wrongType
        = cli({QStringLiteral("config"), QStringLiteral("shareHighResPhotos"), QStringLiteral("maybe")});
    EXPECT_NE(wrongType.exitCode, 0) << wrongType;
    EXPECT_EQ(cli({QStringLiteral("config"), QStringLiteral("shareHighResPhotos")}).outLines(),
        QStringList {QStringLiteral("false")});
}

TEST_F(CliFailureTest, ServerThatIsDownOrASignedOutUserExitOne) {
    const RunResult signedOut = cli({QStringLiteral("contacts"), QStringLiteral("--json")});
    EXPECT_EQ(signedOut.exitCode, 1) << signedOut;
    EXPECT_EQ(errorLines(signedOut).size(), 1) << signedOut;

    ASSERT_NO_FATAL_FAILURE(signIn());
    stopServer(); // its port is closed now

    const RunResult contacts = cli({QStringLiteral("contacts"), QStringLiteral("--json")}, {}, 30000);
    EXPECT_EQ(contacts.exitCode, 1) << contacts;
    EXPECT_EQ(errorLines(contacts).size(), 1) << contacts;
    EXPECT_TRUE(contacts.out.trimmed().isEmpty()) << contacts;

    const RunResult signin
        = cli({QStringLiteral("signin"), QLatin1String(kDemoEmail), QStringLiteral("--password-stdin")},
            QByteArray(kDemoPassword) + '\n', 30000);
    EXPECT_EQ(signin.exitCode, 1) << signin;
    EXPECT_EQ(errorLines(signin).size(), 1) << signin;
    EXPECT_FALSE(signin.err.contains(QLatin1String("--password"))) << signin;
}

TEST_F(CliFailureTest, AShareTheServerKeepsRefusingIsGivenUpWithItsFullSizeUploads) {
    ASSERT_NO_FATAL_FAILURE(signIn());
    const RunResult r = shareRefusedEveryTime();
    EXPECT_EQ(r.exitCode, 1) << r;
    EXPECT_EQ(errorLines(r).size(), 1) << r;
    EXPECT_TRUE(r.outLines().filter(QStringLiteral("Shared")).isEmpty()) << r;
    EXPECT_GT(requests(QStringLiteral("POST"), QStringLiteral("/api/bundle")).size(), 1);
    EXPECT_TRUE(bundlesWithMessage(kRefusedMessage).isEmpty());
    // The large photo's full-size copy has no bundle to go to.
    EXPECT_TRUE(requests(QStringLiteral("POST"), QStringLiteral("/api/photo")).isEmpty());
}

} // namespace
