#include "platform/CrashReports.h"

#include "foundation/LogCategories.h"
#include "foundation/Prefs.h"
#include "foundation/TextRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lf::CrashReports {

namespace {

// Filled at installation: the handler only formats numbers and copies bytes.
char g_folder[1024];
char g_version[128];
constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kMaxFrames = 64;
// A stack of its own, so a stack overflow can still be reported.
char g_altStack[64 * 1024];

// Appends `text` to the buffer at `pos`, never past `size - 1`.
void append(char *buffer, size_t size, size_t &pos, const char *text) {
    while (*text && pos + 1 < size)
        buffer[pos++] = *text++;
    buffer[pos] = '\0';
}

void appendNumber(char *buffer, size_t size, size_t &pos, long value, int width) {
    char digits[24];
    int n = 0;
    const bool negative = value < 0;
    unsigned long rest
        = negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
        digits[n++] = char('0' + rest % 10);
        rest /= 10;
    } while (rest && n < 23);
    while (n < width && n < 23)
        digits[n++] = '0';
    if (negative)
        append(buffer, size, pos, "-");
    char text[24];
    for (int i = 0; i < n; ++i)
        text[i] = digits[n - 1 - i];
    text[n] = '\0';
    append(buffer, size, pos, text);
}

// UTC "YYYY-MM-DD-HHMMSS" from seconds since the epoch, without the C library's time zone code.
void appendDate(char *buffer, size_t size, size_t &pos, time_t now) {
    long days = long(now / 86400);
    long secs = long(now % 86400);
    // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
    days += 719468;
    const long era = days / 146097;
    const long doe = days - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    const long day = doy - (153 * mp + 2) / 5 + 1;
    const long month = mp < 10 ? mp + 3 : mp - 9;
    const long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    appendNumber(buffer, size, pos, year, 4);
    append(buffer, size, pos, "-");
    appendNumber(buffer, size, pos, month, 2);
    append(buffer, size, pos, "-");
    appendNumber(buffer, size, pos, day, 2);
    append(buffer, size, pos, "-");
    appendNumber(buffer, size, pos, secs / 3600, 2);
    appendNumber(buffer, size, pos, secs / 60 % 60, 2);
    appendNumber(buffer, size, pos, secs % 60, 2);
}

void writeAll(int fd, const char *text) {
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(fd, text, left);
        if (n <= 0)
            return;
        text += n;
        left -= size_t(n);
    }
}

void onFatalSignal(int signal) {
    const time_t now = ::time(nullptr);
    char path[1200];
    size_t pos = 0;
    append(path, sizeof path, pos, g_folder);
    append(path, sizeof path, pos, "/Lanternfish_");
    appendDate(path, sizeof path, pos, now);
    append(path, sizeof path, pos, ".crash");
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
        char head[512];
        size_t at = 0;
        append(head, sizeof head, at, "Process: lanternfish [");
        appendNumber(head, sizeof head, at, long(::getpid()), 1);
        append(head, sizeof head, at, "]\nVersion: ");
        append(head, sizeof head, at, g_version);
        append(head, sizeof head, at, "\nDate: ");
        appendDate(head, sizeof head, at, now);
        append(head, sizeof head, at, " UTC\nSignal: ");
        appendNumber(head, sizeof head, at, signal, 1);
        append(head, sizeof head, at, " (");
        append(head, sizeof head, at, sigabbrev_np(signal) ? sigabbrev_np(signal) : "?");
        append(head, sizeof head, at, ")\n\nBacktrace:\n");
        writeAll(fd, head);
        void *frames[kMaxFrames];
        const int count = ::backtrace(frames, kMaxFrames);
        ::backtrace_symbols_fd(frames, count, fd);
        ::fsync(fd);
        ::close(fd);
    }
    // The default action ends the process as the signal would have, core dump included.
    std::signal(signal, SIG_DFL);
    ::raise(signal);
}

} // namespace

QString folder() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir(state).filePath(QStringLiteral("Lanternfish/CrashReporter"));
}

bool installHandler(const QString &version, const QString &folderPath) {
    const QByteArray folderBytes = QFile::encodeName(QDir::cleanPath(folderPath));
    const QByteArray versionBytes = version.toUtf8();
    if (folderBytes.size() >= int(sizeof g_folder) - 40 || !QDir().mkpath(folderPath))
        return false;
    std::memcpy(g_folder, folderBytes.constData(), size_t(folderBytes.size()) + 1);
    std::strncpy(g_version, versionBytes.constData(), sizeof g_version - 1);
    // The first backtrace loads the unwinder, which allocates: do that now, not in the handler.
    void *warm[2];
    ::backtrace(warm, 2);
    stack_t stack {};
    stack.ss_sp = g_altStack;
    stack.ss_size = sizeof g_altStack;
    ::sigaltstack(&stack, nullptr);
    struct sigaction action { };
    action.sa_handler = onFatalSignal;
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
    return true;
}

QString nextLog(const QString &folderPath, const QDateTime &since) {
    const QFileInfoList entries = QDir(folderPath).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if (!entry.fileName().startsWith(QLatin1String(kLogPrefix), Qt::CaseInsensitive))
            continue;
        if (!since.isValid() || entry.lastModified() > since)
            return entry.filePath();
    }
    return {};
}

bool checkCrashLogs(const std::function<bool(const QString &path)> &upload, const QString &folderPath) {
    const QDateTime since = Prefs::prefForKey(QLatin1String(PrefKey::DateLastCrashlog)).toDateTime();
    const QString path = nextLog(folderPath, since);
    if (path.isEmpty()) {
        qCInfo(lfPlatform).noquote() << QStringLiteral("no new crashlogs since.. %1 [YAY!]")
                                            .arg(since.isValid() ? since.toString(Qt::ISODate)
                                                                 : QStringLiteral("ever"));
        return false;
    }
    const QFileInfo log(path);
    const QDateTime modified = log.lastModified();
    qCInfo(lfPlatform).noquote() << QStringLiteral("uploading log file: %1, date: %2")
                                        .arg(log.fileName(), modified.toString(Qt::ISODate));
    if (!upload(path))
        return false;
    Prefs::setPref(modified, QLatin1String(PrefKey::DateLastCrashlog));
    if (!QFile::rename(path, log.dir().filePath(QLatin1String(kSentPrefix) + log.fileName())))
        qCWarning(lfPlatform) << "could not mark the crash log as sent:" << log.fileName();
    return true;
}

void nostalgiaCleanUp(const QString &tmpRoot) {
    const QString user = CleanUserName();
    if (user.isEmpty() || user.contains(QLatin1Char('/')) || user == QLatin1String("..")
        || user == QLatin1String("."))
        return;
    const QString path = QDir(tmpRoot).filePath(QStringLiteral("Lanternfish_") + user);
    // /var/tmp is shared: a link or someone else's folder under our name must not lead the
    // removal anywhere else.
    struct stat info { };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return;
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
        qCInfo(lfPlatform) << "leaving" << path << "alone: not a folder of this user's";
        return;
    }
    QDir(path).removeRecursively();
}

} // namespace lf::CrashReports
