#include "foundation/Log.h"

#include "foundation/Clock.h"
#include "foundation/Dates.h"

#include <QDir>
#include <QMutex>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
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

} // namespace

bool CheckReallyWantsLogs() {
    auto &s = state();
    QMutexLocker lock(&s.mutex);
    if (!s.decided) {
        s.decided = true;
        s.wanted = QFileInfo(logFolder()).isDir();
    }
    return s.wanted;
}

bool logsWanted() {
    auto &s = state();
    QMutexLocker lock(&s.mutex);
    return s.decided && s.wanted;
}

void DesktopLog(const char *function, const QString &message) {
    auto &s = state();
    // One lock and one append per line: lines from several threads never mix, none is lost.
    // The date is formatted under the lock too, as the C library's local-time conversion is not
    // reliably thread-safe.
    QMutexLocker lock(&s.mutex);
    if (!s.decided || !s.wanted)
        return;
    const QDateTime now = Clock::instance().now();
    const QByteArray line = QStringLiteral("[%1] %2 - %3\n")
                                .arg(logDateString(now), QString::fromUtf8(function ? function : ""), message)
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
    auto &s = state();
    QMutexLocker lock(&s.mutex);
    s.decided = false;
    s.wanted = false;
    s.filePath.clear();
}

} // namespace lf
