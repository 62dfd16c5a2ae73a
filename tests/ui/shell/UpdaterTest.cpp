// The self-updater against the reference server: offers, forced updates, the package installed
// into a temporary prefix, digests and the dated icons.
#include "ShellFixture.h"

#include "shell/ProgressSheet.h"
#include "shell/Updater.h"

#include "foundation/Clock.h"
#include "foundation/Credentials.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "session/Service.h"
#include "toolkit/ClockTimer.h"

#include <QCryptographicHash>
#include <QDir>
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

class UpdaterTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        launch();
        ASSERT_TRUE(waitUntil([this] { return signInRequests == 1; }));
        prefix = home.filePath(QStringLiteral("opt/Lanternfish"));
        QDir().mkpath(prefix + QStringLiteral("/bin"));
        QFile old(prefix + QStringLiteral("/bin/lanternfish"));
        old.open(QIODevice::WriteOnly);
        old.write("old program");
    }
    void TearDown() override {
        updater.reset();
        ShellTest::TearDown();
    }
    void makeUpdater() {
        Updater::Hooks hooks;
        hooks.setDockIcon = [this](const QString &path) {
            shownIcons.append(path);
            return true;
        };
        hooks.clearDockIcon = [this] { ++iconClears; };
        hooks.relaunch = [this](const QString &program) { relaunched.append(program); };
        hooks.quit = [this] { ++updaterQuits; };
        updater = std::make_unique<Updater>(*app, Service::currentService(), hooks, prefix);
    }
    QJsonObject offer(const QJsonObject &config) {
        return devCall("POST", QStringLiteral("/__dev/update"), config).toObject();
    }
    // Lets the download end and the main thread hear of it.
    bool waitForDownload() {
        const bool ended = waitUntil([this] { return !updater->downloading(); });
        Workers::instance().waitForAll(10000);
        deliverMainThreadWork();
        return ended;
    }
    QString readFile(const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    ScopedFakeClock fake;
    std::unique_ptr<Updater> updater;
    QString prefix;
    QStringList shownIcons;
    QStringList relaunched;
    int iconClears = 0;
    int updaterQuits = 0;
};

TEST_F(UpdaterTest, AcceptedOfferInstallsThePackageIntoThePrefixAndRelaunches) {
    offer({{"version", "99a1"}, {"release_date", "2031-05-01"}});
    makeUpdater();
    answer = StandardAlert::Default;
    EXPECT_TRUE(updater->checkForUpdate());
    EXPECT_TRUE(app->updating());
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].message, localizedString("[update]"));
    // The server's "a" reads as a dot.
    EXPECT_TRUE(alerts[0].informativeText.contains(QStringLiteral("99.1")))
        << alerts[0].informativeText.toStdString();
    EXPECT_TRUE(app->progressSheet()->isUp());
    ASSERT_TRUE(waitForDownload());

    EXPECT_EQ(readFile(prefix + QStringLiteral("/VERSION")), QStringLiteral("99a1\n"));
    EXPECT_FALSE(QFile::exists(prefix + QStringLiteral("/bin/lanternfish")));
    EXPECT_FALSE(QFileInfo::exists(prefix + QStringLiteral(".LF_COPY")));
    EXPECT_FALSE(QFile::exists(updater->updatePath()));
    EXPECT_EQ(QDir(home.filePath("opt")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList {QStringLiteral("Lanternfish")});
    EXPECT_EQ(relaunched, QStringList {prefix + QStringLiteral("/bin/lanternfish")});
    EXPECT_EQ(updaterQuits, 0) << "the new program gets a moment to start";
    fake.clock.advance(2100ms);
    ClockTimer::checkDueTimers();
    EXPECT_EQ(updaterQuits, 1);
    EXPECT_FALSE(app->progressSheet()->isUp());
}

TEST_F(UpdaterTest, ForcedUpdateWithADigestInOtherCaseFailsAndQuitsLeavingTheInstallation) {
    const QJsonObject real = offer({{"version", "99.0"}});
    offer({{"compat_version", "98.0"}, {"md5_hash", real.value("md5_hash").toString().toUpper()}});
    makeUpdater();
    EXPECT_TRUE(updater->checkForUpdate());
    EXPECT_TRUE(updater->mandatory());
    EXPECT_TRUE(alerts.isEmpty()) << "a forced update asks nothing";
    EXPECT_EQ(app->progressSheet()->text(), localizedString("[mandatory]"));
    ASSERT_TRUE(waitForDownload());
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].message, localizedString("[mandatoryfailed]"));
    EXPECT_EQ(updaterQuits, 1);
    EXPECT_EQ(readFile(prefix + QStringLiteral("/bin/lanternfish")), QStringLiteral("old program"));
    EXPECT_TRUE(relaunched.isEmpty());
    EXPECT_FALSE(QFile::exists(updater->updatePath())) << "a package that failed its check is not kept";
    EXPECT_FALSE(app->progressSheet()->isUp());
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
    EXPECT_FALSE(updater->checkForUpdate());
    EXPECT_FALSE(app->updating());
    EXPECT_FALSE(updater->downloading());
    EXPECT_EQ(alerts.size(), 1);

    fake.clock.advance(std::chrono::milliseconds(Updater::kCheckIntervalMs - 1000));
    ClockTimer::checkDueTimers();
    EXPECT_EQ(alerts.size(), 1);
    fake.clock.advance(2s);
    ClockTimer::checkDueTimers();
    EXPECT_EQ(alerts.size(), 2);
    // The repeated check does not add a timer of its own.
    fake.clock.advance(std::chrono::milliseconds(Updater::kCheckIntervalMs));
    ClockTimer::checkDueTimers();
    EXPECT_EQ(alerts.size(), 3);
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
    EXPECT_FALSE(updater->checkForUpdate());
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
