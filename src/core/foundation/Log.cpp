#include "foundation/Log.h"

#include "foundation/Clock.h"
#include "foundation/Dates.h"

#include <QDir>
#include <QLoggingCategory>
#include <QMutex>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace lf {

namespace {

struct LogState {
    QMutex mutex;
    bool decided = false;
    bool wanted = false;
    QString filePath;
};

LogState &state() {
    static LogState s;
    return s;
}

QString logFolder() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation))
        .filePath(QLatin1String(kLogFolderName));
}

bool writeAll(int fd, const QByteArray &bytes) {
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

bool isOurCategory(const char *name) {
    return name && qstrncmp(name, "lf.", 3) == 0;
}

// The filter and handler that were in place before ours; messages not ours go on to them.
std::atomic<QLoggingCategory::CategoryFilter> g_previousFilter {nullptr};
std::atomic<QtMessageHandler> g_previousHandler {nullptr};

// Runs under Qt's category registry lock: takes our state lock only briefly, never the other way round.
void categoryFilter(QLoggingCategory *category) {
    if (QLoggingCategory::CategoryFilter previous = g_previousFilter.load())
        previous(category);
    if (!isOurCategory(category->categoryName()))
        return;
    const bool on = logsWanted();
    for (QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg})
        category->setEnabled(type, on);
}

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (isOurCategory(context.category)) {
        DesktopLog(context.category, message);
        return;
    }
    if (QtMessageHandler previous = g_previousHandler.load())
        previous(type, context, message);
}

// Applies the switch to every category, those made later included.
void refilterCategories() {
    static std::once_flag once;
    bool installed = false;
    std::call_once(once, [&installed] {
        installed = true;
        g_previousFilter = QLoggingCategory::installFilter(categoryFilter);
    });
    // Installing the filter again is how the registry is made to run it over every category.
    if (!installed)
        QLoggingCategory::installFilter(categoryFilter);
}

} // namespace

bool CheckReallyWantsLogs() {
    auto &s = state();
    bool wanted = false;
    {
        QMutexLocker lock(&s.mutex);
        if (!s.decided) {
            s.decided = true;
            s.wanted = QFileInfo(logFolder()).isDir();
        }
        wanted = s.wanted;
    }
    if (wanted) {
        static std::once_flag once;
        std::call_once(once, [] { g_previousHandler = qInstallMessageHandler(messageHandler); });
    }
    refilterCategories();
    return wanted;
}

void installLogCategoryFilter() {
    refilterCategories();
}

bool logsWanted() {
    auto &s = state();
    QMutexLocker lock(&s.mutex);
    return s.decided && s.wanted;
}

void DesktopLog(const char *source, const QString &message) {
    auto &s = state();
    // One lock and one append per line: lines from several threads never mix, none is lost.
    // The date is formatted under the lock too, as the C library's local-time conversion is not
    // reliably thread-safe.
    QMutexLocker lock(&s.mutex);
    if (!s.decided || !s.wanted)
        return;
    const QDateTime now = Clock::instance().now();
    const QByteArray line = QStringLiteral("[%1] %2 - %3\n")
                                .arg(logDateString(now), QString::fromUtf8(source ? source : ""), message)
                                .toUtf8();
    if (s.filePath.isEmpty()) {
        const QString folder = logFolder();
        QDir().mkpath(folder);
        s.filePath = QDir(folder).filePath(fileNameDateString(now) + QStringLiteral(".log"));
    }
    const int fd
        = ::open(QFile::encodeName(s.filePath).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    writeAll(fd, line);
    ::close(fd);
}

void SystemLog(const QString &message) {
    qWarning("%s", qUtf8Printable(message));
}

void resetLogStateForTesting() {
    {
        auto &s = state();
        QMutexLocker lock(&s.mutex);
        s.decided = false;
        s.wanted = false;
        s.filePath.clear();
    }
    refilterCategories();
}

} // namespace lf
