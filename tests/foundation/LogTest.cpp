#include "foundation/Log.h"
#include "foundation/Dates.h"
#include "foundation/LogCategories.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <thread>

using namespace lf;

namespace {

class LogTest : public test::TempHomeTest {
protected:
    QString logFolder() const { return home.filePath(QStringLiteral("Desktop/LanternfishLogs")); }
    QStringList logFiles() const { return QDir(logFolder()).entryList(QDir::Files); }
};

} // namespace

TEST_F(LogTest, NothingIsWrittenWhenTheFolderWasMissingAtLaunch) {
    EXPECT_FALSE(CheckReallyWantsLogs());
    QDir().mkpath(logFolder());
    EXPECT_FALSE(CheckReallyWantsLogs()); // decided once
    DesktopLog("void f()", QStringLiteral("hello"));
    EXPECT_TRUE(logFiles().isEmpty());
}

TEST_F(LogTest, LinesFromManyThreadsArriveWholeAndComplete) {
    QDir().mkpath(logFolder());
    ASSERT_TRUE(CheckReallyWantsLogs());
    constexpr int threads = 4, perThread = 300;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([t] {
            const QString filler(200, QLatin1Char('a' + t));
            for (int i = 0; i < perThread; ++i)
                DesktopLog("void worker()", QStringLiteral("%1 %2 %3").arg(t).arg(i).arg(filler));
        });
    }
    for (auto &th : pool)
        th.join();

    ASSERT_EQ(logFiles().size(), 1);
    EXPECT_TRUE(logFiles().first().endsWith(QStringLiteral(".log")));
    QFile f(QDir(logFolder()).filePath(logFiles().first()));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.size(), threads * perThread + 1); // last piece is after the final newline
    QSet<QString> seen;
    for (int i = 0; i < threads * perThread; ++i) {
        const QString line = QString::fromUtf8(lines[i]);
        ASSERT_TRUE(line.startsWith(QLatin1Char('['))) << i;
        const QString message = line.section(QStringLiteral("] void worker() - "), 1);
        const QStringList parts = message.split(QLatin1Char(' '));
        ASSERT_EQ(parts.size(), 3) << line.toStdString();
        ASSERT_EQ(parts[2], QString(200, QLatin1Char('a' + parts[0].toInt()))) << line.toStdString();
        seen.insert(parts[0] + QLatin1Char(' ') + parts[1]);
    }
    EXPECT_EQ(seen.size(), threads * perThread);
}

TEST_F(LogTest, CategoryMessagesReachTheFileOnlyWhileTheSwitchIsOn) {
    // Off: our categories are silent, so nothing of theirs reaches standard error either.
    EXPECT_FALSE(lfSending().isInfoEnabled());
    EXPECT_FALSE(lfApi().isWarningEnabled());
    qCWarning(lfSending) << "dropped";

    QDir().mkpath(logFolder());
    ASSERT_TRUE(CheckReallyWantsLogs());
    EXPECT_TRUE(lfSending().isInfoEnabled());
    qCInfo(lfSending).noquote() << QStringLiteral("sent") << 3;
    qCWarning(lfApi).noquote() << QStringLiteral("request failed");

    ASSERT_EQ(logFiles().size(), 1);
    QFile f(QDir(logFolder()).filePath(logFiles().first()));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("] lf.sending - sent 3"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("] lf.api - request failed"))) << lines[1].toStdString();

    resetLogStateForTesting();
    EXPECT_FALSE(lfSending().isInfoEnabled());
}
