// Crash reports: the handler's file, the choice of the report to send, the upload to the reference
// server and the clean-up of the old temporary folder.
#include "platform/CrashReports.h"

#include "foundation/Prefs.h"
#include "foundation/TextRules.h"
#include "support/SessionFixture.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>

#include <csignal>

#include <gtest/gtest.h>

namespace lf::test {
namespace {

// Writes a report modified at `modified`.
QString writeLog(const QString &folder, const QString &name, const QDateTime &modified) {
    QDir().mkpath(folder);
    QFile file(QDir(folder).filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("Signal: 11 (SEGV)\n");
    file.flush();
    file.setFileTime(modified, QFileDevice::FileModificationTime);
    file.close();
    return file.fileName();
}

using CrashReportsTest = SessionTest;
using CrashHandlerTest = TempHomeTest;

TEST_F(CrashHandlerTest, WritesSignalVersionAndBacktraceThenDies) {
    const QString folder = CrashReports::folder();
    EXPECT_EQ(folder, home.filePath(QStringLiteral(".local/state/Lanternfish/CrashReporter")));
    // A forked child writes into this test's home; no server threads run here.
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            CrashReports::installHandler(QStringLiteral("3.1.4"));
            std::raise(SIGSEGV);
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    const QStringList logs = QDir(folder).entryList({QStringLiteral("Lanternfish_*.crash")}, QDir::Files);
    ASSERT_EQ(logs.size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Lanternfish_\\d{4}-\\d\\d-\\d\\d-\\d{6}\\.crash$"))
                    .match(logs.first())
                    .hasMatch());
    QFile file(QDir(folder).filePath(logs.first()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("Version: 3.1.4"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Signal: 11 (SEGV)"))) << text.toStdString();
    // At least the handler's own frame and the one that raised.
    EXPECT_GE(text.section(QStringLiteral("Backtrace:\n"), 1).count(QLatin1Char('\n')), 2);
}

TEST_F(CrashReportsTest, OneNewReportPerSignInOldestFirstThenMarkedSent) {
    const QString folder = CrashReports::folder();
    const QDateTime base = QDateTime::currentDateTime().addDays(-3);
    writeLog(folder, QStringLiteral("Lanternfish_2026-01-01-100000.crash"), base);
    writeLog(folder, QStringLiteral("lanternfish_2026-01-02-100000.crash"), base.addDays(1));
    writeLog(folder, QStringLiteral("Other_2026-01-01-000000.crash"), base.addDays(2));
    signIn();
    const auto upload = [this](const QString &path) { return service->uploadCrashLog(path); };

    ASSERT_TRUE(CrashReports::checkCrashLogs(upload));
    QJsonArray logs = demoState().value("client_logs").toArray();
    ASSERT_EQ(logs.size(), 1);
    EXPECT_EQ(logs[0].toObject().value("params").toObject().value("file_name").toString(),
        "Lanternfish_2026-01-01-100000.crash");
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath("(sent)Lanternfish_2026-01-01-100000.crash")));
    EXPECT_EQ(Prefs::prefForKey(PrefKey::DateLastCrashlog).toDateTime().toSecsSinceEpoch(),
        base.toSecsSinceEpoch());

    // The next sign-in sends the next one, whatever the case of its prefix.
    ASSERT_TRUE(CrashReports::checkCrashLogs(upload));
    EXPECT_EQ(demoState().value("client_logs").toArray().size(), 2);
    EXPECT_FALSE(CrashReports::checkCrashLogs(upload));

    // A report older than the last one sent is never sent; a failed upload changes nothing.
    writeLog(folder, QStringLiteral("Lanternfish_2025-12-31-100000.crash"), base.addDays(-1));
    EXPECT_TRUE(
        CrashReports::nextLog(folder, Prefs::prefForKey(PrefKey::DateLastCrashlog).toDateTime()).isEmpty());
    const QString fresh
        = writeLog(folder, QStringLiteral("Lanternfish_2026-02-01-100000.crash"), base.addDays(2));
    const QVariant mark = Prefs::prefForKey(PrefKey::DateLastCrashlog);
    fault("POST", "/api/client_logs", {QJsonObject {{"status", 422}}});
    EXPECT_FALSE(CrashReports::checkCrashLogs(upload));
    EXPECT_TRUE(QFile::exists(fresh));
    EXPECT_EQ(Prefs::prefForKey(PrefKey::DateLastCrashlog), mark);
}

TEST_F(CrashHandlerTest, OldTemporaryFolderGoesButALinkUnderItsNameLeadsNowhere) {
    const QString tmp = home.filePath(QStringLiteral("vartmp"));
    const QString mine = QDir(tmp).filePath(QStringLiteral("Lanternfish_") + CleanUserName());
    ASSERT_TRUE(QDir().mkpath(mine + QStringLiteral("/sub")));
    QFile(mine + QStringLiteral("/sub/a.jpg")).open(QIODevice::WriteOnly);
    CrashReports::nostalgiaCleanUp(tmp);
    EXPECT_FALSE(QFileInfo::exists(mine));

    const QString precious = home.filePath(QStringLiteral("precious"));
    QDir().mkpath(precious);
    QFile(precious + QStringLiteral("/keep.txt")).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::link(precious, mine));
    CrashReports::nostalgiaCleanUp(tmp);
    EXPECT_TRUE(QFileInfo::exists(precious + QStringLiteral("/keep.txt")));
}

} // namespace
} // namespace lf::test
