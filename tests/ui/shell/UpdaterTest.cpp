// The self-updater against the reference server: offers, forced updates, crafted packages that
// must be refused, the swap of a self-contained tree, other kinds of installation and the dated
// icons.
#include "ShellFixture.h"

#include "shell/ProgressSheet.h"
#include "shell/Updater.h"

#include "foundation/Clock.h"
#include "foundation/Credentials.h"
#include "foundation/Identity.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "platform/UpdateInstaller.h"
#include "session/Service.h"
#include "toolkit/ClockTimer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLocale>

using namespace std::chrono_literals;

namespace lf::test {
namespace {

TEST(CompareVersionTest, NumbersByValueAndLettersAlwaysLater) {
    EXPECT_EQ(CompareVersion("1.9", "1.10"), -1);
    EXPECT_EQ(CompareVersion("1.10", "1.9"), 1);
    EXPECT_EQ(CompareVersion("1.2", "1.2"), 0);
    EXPECT_EQ(CompareVersion("1.99", "2.0"), -1);
    EXPECT_EQ(CompareVersion("1.2", "1.2.1"), -1);
    EXPECT_EQ(CompareVersion("1.02", "1.2"), 0);
    EXPECT_EQ(CompareVersion("1.2", "1.3b"), 1);
    EXPECT_EQ(CompareVersion("1.3b", "1.2"), 1);
    EXPECT_EQ(CompareVersion("2.0b1", "2.0b2"), -1);
    // Runs longer than any integer type still compare by value.
    EXPECT_EQ(CompareVersion("1.99999999999999999999", "1.100000000000000000000"), -1);
}

// What a folder holds, entry by entry: type, permissions and content (or a link's target).
QMap<QString, QString> snapshot(const QString &root, const QStringList &skip = {}) {
    QMap<QString, QString> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (std::any_of(skip.begin(), skip.end(), [&](const QString &s) { return path.startsWith(s); }))
            continue;
        const QFileInfo info = it.fileInfo();
        QString value = QString::number(int(info.permissions()), 16);
        if (info.isSymLink()) {
            value += QStringLiteral(" link ") + info.symLinkTarget();
        } else if (info.isFile()) {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            value += QStringLiteral(" file ")
                + QString::fromLatin1(
                    QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex());
        } else {
            value += QStringLiteral(" folder");
        }
        entries.insert(path.mid(root.size()), value);
    }
    return entries;
}

void writeFile(const QString &path, const QByteArray &bytes, QFile::Permissions permissions = {}) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    if (permissions)
        file.setPermissions(permissions);
}

constexpr QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
    | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;

class UpdaterTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        launch();
        ASSERT_TRUE(waitUntil([this] { return signInRequests == 1; }));
        // A self-contained tree of the running version, as a release archive unpacks.
        opt = home.filePath(QStringLiteral("opt"));
        prefix = opt + QStringLiteral("/Lanternfish");
        writeFile(prefix + QStringLiteral("/lanternfish-app.json"),
            "{\"name\": \"Lanternfish\", \"version\": \"" + Credentials::clientVersion().toUtf8() + "\"}");
        writeFile(prefix + QStringLiteral("/bin/lanternfish"), "#!/bin/sh\necho old program\n", kExecutable);
        writeFile(prefix + QStringLiteral("/share/README.txt"), "old\n");
        cache = sandboxFolder();
    }
    void TearDown() override {
        updater.reset();
        QFile::remove(QStringLiteral("/tmp/lanternfish-absolute.txt"));
        ShellTest::TearDown();
    }
    void makeUpdater(const QString &root = {}) {
        Updater::Hooks hooks;
        hooks.setDockIcon = [this](const QString &path) {
            shownIcons.append(path);
            return true;
        };
        hooks.clearDockIcon = [this] { ++iconClears; };
        if (!realRelaunch) {
            hooks.relaunch = [this](const QString &program) {
                relaunched.append(program);
                return qint64(QCoreApplication::applicationPid());
            };
        }
        hooks.relaunchFailed = [this] { ++relaunchFailures; };
        hooks.quit = [this] { ++updaterQuits; };
        updater = std::make_unique<Updater>(
            *app, Service::currentService(), hooks, root.isEmpty() ? prefix : root);
        updater->setVersionTimeoutMs(500);
    }
    QJsonObject offer(const QJsonObject &config) {
        return devCall("POST", QStringLiteral("/__dev/update"), config).toObject();
    }
    // Runs the check and lets its answer reach the main thread.
    bool check() {
        bool answered = false, result = false;
        updater->checkForUpdate(false, [&](bool updating) {
            answered = true;
            result = updating;
        });
        EXPECT_TRUE(waitUntil([&] { return answered; }));
        return result;
    }
    // Lets the download and the checks end and the main thread hear of it.
    bool waitForInstall() {
        const bool ended = waitUntil([this] { return !updater->installing() || !relaunched.isEmpty(); });
        Workers::instance().waitForAll(10000);
        deliverMainThreadWork();
        return ended;
    }
    // Everything outside the cache folder.
    QMap<QString, QString> outsideCache() {
        return snapshot(home.path(), {cache, home.filePath(QStringLiteral(".config"))});
    }
    QString readFile(const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    QStringList optEntries() {
        return QDir(opt).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    }

    ScopedFakeClock fake;
    std::unique_ptr<Updater> updater;
    QString opt, prefix, cache;
    bool realRelaunch = false;
    QStringList shownIcons;
    QStringList relaunched;
    int iconClears = 0;
    int updaterQuits = 0;
    int relaunchFailures = 0;
};

TEST_F(UpdaterTest, SignedPackageIsSwappedInAndTheOldTreeGoesOnlyOnceTheNewProgramAnswers) {
    offer({{"version", "99a1"}, {"release_date", "2031-05-01"}});
    makeUpdater();
    answer = StandardAlert::Default;
    EXPECT_TRUE(check());
    EXPECT_TRUE(app->updating());
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].message, localizedString("[update]"));
    EXPECT_EQ(alerts[0].title, localizedString("[UpdateTitle]")) << "the window list names the offer";
    // The server's "a" reads as a dot.
    EXPECT_TRUE(alerts[0].informativeText.contains(QStringLiteral("99.1")))
        << alerts[0].informativeText.toStdString();
    EXPECT_TRUE(app->progressSheet()->isUp());
    ASSERT_TRUE(waitForInstall());

    EXPECT_EQ(relaunched, QStringList {prefix + QStringLiteral("/bin/lanternfish")});
    EXPECT_TRUE(readFile(prefix + QStringLiteral("/lanternfish-app.json")).contains(QStringLiteral("99a1")));
    EXPECT_FALSE(QFile::exists(updater->updatePath()));
    // Until the new program answers, the old tree waits beside it.
    ASSERT_EQ(optEntries().size(), 2) << optEntries().join(' ').toStdString();
    fake.clock.advance(std::chrono::milliseconds(Updater::kAnswerPollMs));
    ClockTimer::checkDueTimers();
    EXPECT_EQ(optEntries().size(), 2);
    EXPECT_EQ(updaterQuits, 0);

    writeFile(UpdateInstaller::ackPath(), "99.1\n");
    fake.clock.advance(std::chrono::milliseconds(Updater::kAnswerPollMs));
    ClockTimer::checkDueTimers();
    EXPECT_EQ(optEntries(), QStringList {QStringLiteral("Lanternfish")});
    EXPECT_EQ(updaterQuits, 1);
    EXPECT_FALSE(app->progressSheet()->isUp());
}

TEST_F(UpdaterTest, RealRelaunchOfTheNewProgram) {
    realRelaunch = true;
    offer({{"version", "99.0"}});
    makeUpdater();
    EXPECT_TRUE(check());
    ASSERT_TRUE(waitUntil([this] {
        fake.clock.advance(std::chrono::milliseconds(Updater::kAnswerPollMs));
        ClockTimer::checkDueTimers();
        return updaterQuits == 1;
    }));
    EXPECT_EQ(optEntries(), QStringList {QStringLiteral("Lanternfish")});
    EXPECT_EQ(UpdateInstaller::markerVersion(prefix), QStringLiteral("99.0"));
    EXPECT_TRUE(alerts.size() == 1 && alerts[0].message == localizedString("[update]"));
    EXPECT_EQ(relaunchFailures, 0);
}

TEST_F(UpdaterTest, NewProgramThatDoesNotAnswerPutsTheOldTreeBack) {
    realRelaunch = true;
    offer({{"version", "99.0"}, {"package", "no-answer"}});
    makeUpdater();
    const QMap<QString, QString> before = snapshot(opt);
    EXPECT_TRUE(check());
    ASSERT_TRUE(waitUntil([this] {
        fake.clock.advance(std::chrono::milliseconds(Updater::kAnswerPollMs));
        ClockTimer::checkDueTimers();
        return relaunchFailures == 1;
    }));
    EXPECT_EQ(snapshot(opt), before);
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_EQ(alerts[1].message, localizedString("[updatefailed]"));
    EXPECT_EQ(updaterQuits, 0);
    EXPECT_FALSE(app->updating());
}

// Each faulty package is refused before anything beside the cache changes.
TEST_F(UpdaterTest, FaultyPackagesAreRefusedLeavingEverythingAsItWas) {
    const struct {
        QJsonObject config;
        const char *reason;
    } cases[] = {
        {{{"package", "escape"}}, "outside its folder"},
        {{{"package", "absolute"}}, "absolute path"},
        {{{"package", "link"}}, "links Lanternfish-99.0/share/etc outside"},
        {{{"package", "fifo"}}, "FIFO"},
        {{{"package", "second-folder"}}, "more than one folder"},
        {{{"package", "huge"}}, "too large"},
        {{{"package", "no-marker"}}, "not a Lanternfish release"},
        {{{"package", "wrong-version"}}, "holds version 99.0.1"},
        {{{"package", "exit-1"}}, "failed: cannot start"},
        {{{"package", "hang"}}, "did not answer in time"},
        {{{"signature", "bad"}}, "signature is not valid"},
    };
    makeUpdater();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reason);
        QJsonObject config = c.config;
        config.insert("version", "99.0");
        for (const char *key : {"package", "signature"}) {
            if (!config.contains(key))
                config.insert(key, QJsonValue::Null);
        }
        offer(config);
        alerts.clear();
        const QMap<QString, QString> before = outsideCache();
        EXPECT_TRUE(check());
        ASSERT_TRUE(waitForInstall());
        ASSERT_EQ(alerts.size(), 2);
        EXPECT_EQ(alerts[1].message, localizedString("[updatefailed]"));
        EXPECT_TRUE(alerts[1].informativeText.contains(QLatin1String(c.reason)))
            << alerts[1].informativeText.toStdString();
        EXPECT_EQ(outsideCache(), before);
        EXPECT_TRUE(relaunched.isEmpty());
        EXPECT_FALSE(QFile::exists(QStringLiteral("/tmp/lanternfish-absolute.txt")));
        EXPECT_FALSE(app->updating());
        EXPECT_FALSE(app->progressSheet()->isUp());
    }
}

TEST_F(UpdaterTest, UnsignedUpdateIsOnlyAnnounced) {
    offer({{"version", "99.0"}, {"signature", "none"}});
    makeUpdater();
    const QMap<QString, QString> before = outsideCache();
    EXPECT_FALSE(check());
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(
        alerts[0].message, localizedFormat(QStringLiteral("[updateAvailable]"), {QStringLiteral("99.0")}));
    EXPECT_EQ(alerts[0].informativeText, localizedString("[updateAdviceUnsigned]"));
    EXPECT_EQ(requestCount("GET", "/downloads/"), 0);
    EXPECT_EQ(outsideCache(), before);
}

// `cmake --install` into a prefix beside other programs: no marker, so nothing is changed.
TEST_F(UpdaterTest, SharedPrefixGetsANoticeAndStaysUntouched) {
    const QString shared = home.filePath(QStringLiteral("usr-local"));
    writeFile(shared + QStringLiteral("/bin/lanternfish"), "installed", kExecutable);
    writeFile(shared + QStringLiteral("/bin/other-program"), "other", kExecutable);
    writeFile(shared + QStringLiteral("/share/other/data.txt"), "other data");
    makeUpdater(shared);
    offer({{"version", "99.0"}});
    const QMap<QString, QString> before = outsideCache();
    answer = StandardAlert::Default;
    EXPECT_FALSE(check());
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(
        alerts[0].message, localizedFormat(QStringLiteral("[updateAvailable]"), {QStringLiteral("99.0")}));
    EXPECT_TRUE(alerts[0].informativeText.contains(shared));
    EXPECT_FALSE(updater->installing());
    EXPECT_EQ(requestCount("GET", "/downloads/"), 0);
    EXPECT_EQ(outsideCache(), before);

    // A forced update says the same and quits.
    offer({{"compat_version", "98.0"}});
    alerts.clear();
    EXPECT_TRUE(check());
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].message, localizedString("[mandatory]"));
    EXPECT_TRUE(alerts[0].informativeText.contains(shared));
    EXPECT_EQ(updaterQuits, 1);
    EXPECT_EQ(outsideCache(), before);
}

TEST(UpdateInstallerTest, KindsOfInstallation) {
    TempHome home;
    const QString tree = home.filePath(QStringLiteral("Lanternfish-1.0"));
    writeFile(tree + QStringLiteral("/bin/lanternfish"), "x", kExecutable);
    EXPECT_EQ(UpdateInstaller::kindOf(tree), InstallKind::SharedPrefix);
    writeFile(
        tree + QStringLiteral("/lanternfish-app.json"), "{\"name\": \"Lanternfish\", \"version\": \"1.0\"}");
    EXPECT_EQ(UpdateInstaller::kindOf(tree), InstallKind::SelfContained);
    // A marker in a folder others share never makes it ours.
    writeFile(home.filePath(QStringLiteral(".local/lanternfish-app.json")),
        "{\"name\": \"Lanternfish\", \"version\": \"1.0\"}");
    writeFile(home.filePath(QStringLiteral(".local/bin/lanternfish")), "x", kExecutable);
    EXPECT_EQ(UpdateInstaller::kindOf(home.filePath(QStringLiteral(".local"))), InstallKind::SharedPrefix);
    EXPECT_EQ(UpdateInstaller::kindOf(QStringLiteral("/usr")), InstallKind::PackageManager);
    writeFile(home.filePath(QStringLiteral("build/CMakeCache.txt")), "");
    EXPECT_EQ(UpdateInstaller::kindOf(home.filePath(QStringLiteral("build"))), InstallKind::BuildFolder);
}

TEST_F(UpdaterTest, AStalledCheckLeavesTheWindowFreeAndStacksNoSecondCheck) {
    fault("GET", QStringLiteral("/update/linux"), QJsonArray {QJsonObject {{"stall", true}}});
    makeUpdater();
    bool answered = false;
    updater->checkForUpdate(false, [&](bool) { answered = true; });
    // The stall is taken, and the request held, once the check has reached the server.
    ASSERT_TRUE(waitUntil([this] {
        return devCall("GET", QStringLiteral("/__dev/state")).toObject().value("faults").toArray().isEmpty();
    }));
    EXPECT_TRUE(updater->checking());
    EXPECT_FALSE(answered);
    // The 4-hour timer meanwhile asks nothing more.
    updater->checkForUpdate(true);
    devCall("POST", QStringLiteral("/__dev/reset"));
    EXPECT_TRUE(waitUntil([&] { return answered; }));
    Workers::instance().waitForAll(10000);
    deliverMainThreadWork();
    EXPECT_EQ(requestCount("GET", "/update/"), 0) << "the reset emptied the log; no second check came after";
}

TEST_F(UpdaterTest, NoSecondOfferWhileOneIsUp) {
    offer({{"version", "99.0"}});
    makeUpdater();
    answer = StandardAlert::Alternate;
    setAlertRunner([this](const StandardAlert &alert) {
        alerts.append(alert);
        // The 4-hour check fires while the offer waits for its answer.
        updater->checkForUpdate(true);
        return answer;
    });
    EXPECT_FALSE(check());
    Workers::instance().waitForAll(10000);
    deliverMainThreadWork();
    EXPECT_EQ(alerts.size(), 1);
    EXPECT_EQ(requestCount("GET", "/update/"), 1);
}

TEST_F(UpdaterTest, ForcedUpdateWithADigestInOtherCaseFailsAndQuits) {
    const QJsonObject real = offer({{"version", "99.0"}});
    offer({{"compat_version", "98.0"}, {"md5_hash", real.value("md5_hash").toString().toUpper()}});
    makeUpdater();
    const QMap<QString, QString> before = outsideCache();
    EXPECT_TRUE(check());
    EXPECT_TRUE(updater->mandatory());
    EXPECT_TRUE(alerts.isEmpty()) << "a forced update asks nothing";
    EXPECT_EQ(app->progressSheet()->text(), localizedString("[mandatory]"));
    ASSERT_TRUE(waitForInstall());
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].message, localizedString("[mandatoryfailed]"));
    EXPECT_EQ(updaterQuits, 1);
    EXPECT_EQ(outsideCache(), before);
    EXPECT_FALSE(QFile::exists(updater->updatePath())) << "a package that failed its check is not kept";
}

TEST_F(UpdaterTest, DigestCaseMatters) {
    const QString path = home.filePath(QStringLiteral("package.tar.gz"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("package bytes");
    file.close();
    const QString digest
        = QString::fromLatin1(QCryptographicHash::hash("package bytes", QCryptographicHash::Md5).toHex());
    EXPECT_TRUE(md5Matches(path, digest));
    EXPECT_FALSE(md5Matches(path, digest.toUpper()));
    EXPECT_FALSE(md5Matches(home.filePath(QStringLiteral("missing")), digest));
}

TEST_F(UpdaterTest, DeclinedOfferGoesOnAndAsksAgainInFourHours) {
    offer({{"version", "99.0"}});
    makeUpdater();
    answer = StandardAlert::Alternate;
    EXPECT_FALSE(check());
    EXPECT_FALSE(app->updating());
    EXPECT_FALSE(updater->installing());
    EXPECT_EQ(alerts.size(), 1);

    fake.clock.advance(std::chrono::milliseconds(Updater::kCheckIntervalMs - 1000));
    ClockTimer::checkDueTimers();
    Workers::instance().waitForAll(10000);
    deliverMainThreadWork();
    EXPECT_EQ(alerts.size(), 1);
    fake.clock.advance(2s);
    ClockTimer::checkDueTimers();
    EXPECT_TRUE(waitUntil([this] { return alerts.size() == 2; }));
    // The repeated check does not add a timer of its own.
    fake.clock.advance(std::chrono::milliseconds(Updater::kCheckIntervalMs));
    ClockTimer::checkDueTimers();
    EXPECT_TRUE(waitUntil([this] { return alerts.size() == 3; }));
}

TEST_F(UpdaterTest, SameVersionOffersNothingAndShowsTheFirstIconOfTheDay) {
    const QString today
        = QLocale().toString(Clock::instance().now().toLocalTime().date(), QLocale::ShortFormat);
    offer({{"version", Credentials::clientVersion()},
        {"icons",
            QJsonArray {QJsonObject {{"dates", QJsonArray {"1/1/01"}}, {"uri", "icons/dated/never.png"}},
                QJsonObject {{"dates", QJsonArray {"1/2/01", today}}, {"uri", "icons/dated/first.png"}},
                QJsonObject {{"dates", QJsonArray {today}}, {"uri", "icons/dated/second.png"}}}}});
    makeUpdater();
    EXPECT_FALSE(check());
    EXPECT_TRUE(alerts.isEmpty());
    ASSERT_TRUE(waitUntil([this] { return !shownIcons.isEmpty(); }));
    EXPECT_TRUE(shownIcons.first().endsWith(QStringLiteral("/Lanternfish/misc/first.png")));
    EXPECT_TRUE(QImage(shownIcons.first()).width() > 0);
    // Rechecking the same day changes nothing; a day without an icon clears it.
    fake.clock.advance(std::chrono::milliseconds(Updater::kIconIntervalMs));
    ClockTimer::checkDueTimers();
    EXPECT_EQ(shownIcons.size(), 1);
    fake.clock.advance(24h);
    ClockTimer::checkDueTimers();
    EXPECT_GE(iconClears, 1);
    EXPECT_TRUE(updater->iconPath().isEmpty());
}

TEST_F(UpdaterTest, MissingIconIsTriedAgainAtTheNextTimedCheckOnly) {
    const QString today
        = QLocale().toString(Clock::instance().now().toLocalTime().date(), QLocale::ShortFormat);
    offer({{"version", Credentials::clientVersion()},
        {"icons",
            QJsonArray {QJsonObject {{"dates", QJsonArray {today}}, {"uri", "icons/gone/missing.png"}}}}});
    makeUpdater();
    EXPECT_FALSE(check());
    auto fetches = [this] {
        Workers::instance().waitForAll(10000);
        deliverMainThreadWork();
        return requestCount("GET", "/icons/gone/missing.png");
    };
    EXPECT_EQ(fetches(), 1);
    // The tray's refresh every 2.5 seconds asks for the icon each time.
    for (int i = 0; i < 4; ++i)
        updater->checkIcons();
    EXPECT_EQ(fetches(), 1);
    fake.clock.advance(std::chrono::milliseconds(Updater::kIconIntervalMs));
    ClockTimer::checkDueTimers();
    EXPECT_EQ(fetches(), 2);
    EXPECT_TRUE(shownIcons.isEmpty());
}

TEST(UpdaterIconTest, ServerNamedIconsStayInTheirFolder) {
    EXPECT_TRUE(Updater::imageDest(QStringLiteral("/dated/holiday.png"))
                    .endsWith(QStringLiteral("/Lanternfish/misc/holiday.png")));
    EXPECT_TRUE(Updater::imageDest(QStringLiteral("/dated/..")).isEmpty());
    EXPECT_TRUE(Updater::imageDest(QStringLiteral("/dated/")).isEmpty());
    EXPECT_TRUE(Updater::imageDest(QStringLiteral("http://h/x/..%2F..%2Fevil.png"))
                    .endsWith(QStringLiteral("/misc/evil.png")));
}

} // namespace
} // namespace lf::test
