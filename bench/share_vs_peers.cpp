// A share of camera photos as previews, end to end, beside what other tools need for part of that
// work on the same files. The share: the photos are taken into a share (copied, decoded for their
// thumbnails and previews) and sent through the share worker to the in-process reference server
// over loopback. The peers: vipsthumbnail making the same previews (when it is installed), and
// libjpeg-turbo's 1/4-scale decode, the floor of any preview made from these JPEGs. Prints times,
// their ratios, CPU per photo and peak memory; it checks no target (the machine may be busy).
// A second process then shares a thousand small photos, for what a large share costs around the
// photos: the time until it is queued, the archive saves and their time, bytes written, memory.
//
//   share_vs_peers          ten 24-megapixel photos, then 1,000 small ones
//   share_vs_peers --quick  three small photos, then 50 (the CTest smoke run)
#include "BenchSupport.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Workers.h"
#include "sending/ShareTaskManager.h"
#include "session/Service.h"
#include "share/PhotoIntake.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using namespace lf;

namespace {

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;
    double takenSeconds = 0; // copied and prepared, before the send starts
};

int generate(const QString &folder, int count, int width, int height) {
    for (int i = 0; i < count; ++i) {
        if (!bench::writeCameraPhoto(
                QDir(folder).filePath(QStringLiteral("IMG_%1.jpg").arg(i)), width, height))
            return 1;
    }
    return 0;
}

// vipsthumbnail making a preview of every file (long side 1000, quality 50); nothing when it is
// not installed.
std::optional<double> vipsSeconds(const QStringList &files, const QString &outFolder) {
    const QString vips = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail"));
    if (vips.isEmpty())
        return std::nullopt;
    QStringList args {QStringLiteral("--size"), QStringLiteral("1000"), QStringLiteral("-o"),
        outFolder + QStringLiteral("/%s.jpg[Q=50]")};
    args += files;
    QElapsedTimer timer;
    timer.start();
    if (QProcess::execute(vips, args) != 0)
        return std::nullopt;
    return timer.nsecsElapsed() / 1e9;
}

// Counts the atomic saves of one file (each ends in a rename onto its name) from a thread of its
// own, so the count does not depend on the code under measurement reporting it.
class SaveCounter {
public:
    SaveCounter(const QString &folder, const QString &name)
        : m_name(name.toUtf8()) {
        m_fd = inotify_init1(IN_NONBLOCK);
        if (m_fd >= 0)
            inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), IN_MOVED_TO);
        m_thread = std::thread([this] { run(); });
    }
    ~SaveCounter() {
        m_stop = true;
        m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int count() const { return m_count; }

private:
    void run() {
        alignas(inotify_event) char buffer[16384];
        while (m_fd >= 0) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0) {
                if (m_stop)
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            for (ssize_t at = 0; at < n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                if (event->len > 0 && m_name == event->name)
                    ++m_count;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
    }

    QByteArray m_name;
    int m_fd = -1;
    std::atomic<bool> m_stop {false};
    std::atomic<int> m_count {0};
    std::thread m_thread;
};

// Bytes this process has had written to storage (not to sockets or memory-backed folders).
qint64 bytesWritten() {
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("write_bytes:"))
            return line.mid(12).trimmed().toLongLong();
    }
    return -1;
}

Run quarterDecodes(const QStringList &files) {
    const double cpu = bench::cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    for (const QString &file : files)
        bench::decodeQuarter(PhotoBytes::mapFile(file));
    return {timer.nsecsElapsed() / 1e9, bench::cpuSeconds() - cpu};
}

// Small photos made from one picture, each with a mark of its own so no two files are alike.
int generateSmall(const QString &folder, int count) {
    const QImage base = bench::photoLike(640, 480);
    for (int i = 0; i < count; ++i) {
        QImage image = base;
        for (int bit = 0; bit < 16; ++bit)
            image.setPixel(bit, 0, (i >> bit) & 1 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
        if (!image.save(QDir(folder).filePath(QStringLiteral("small_%1.jpg").arg(i)), "jpeg", 85))
            return 1;
    }
    return 0;
}

// The many-photo share, in a process of its own so its memory figure is its own. The reference
// server keeps its data in memory-backed storage when it can, so the bytes written are the
// client's.
int manySmallPhotos(const QString &program, bool quick) {
    const int count = quick ? 50 : 1000;
    QTemporaryDir home;
    const QString photos = home.filePath(QStringLiteral("photos"));
    QDir().mkpath(photos);
    if (QProcess::execute(program, {QStringLiteral("--generate-small"), photos, QString::number(count)})
        != 0) {
        std::fprintf(stderr, "could not make the test photos\n");
        return 1;
    }
    QStringList files;
    for (int i = 0; i < count; ++i)
        files.append(QDir(photos).filePath(QStringLiteral("small_%1.jpg").arg(i)));

    std::unique_ptr<QTemporaryDir> serverData;
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        serverData = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/lf-bench-XXXXXX"));
    bench::DemoSession demo(home.path(), serverData ? serverData->path() : QString());
    if (!demo.ready())
        return 1;
    Prefs::setBoolPref(false, PrefKey::ShareHighResPhotos);

    int bundlesDone = 0;
    QObject observer;
    NotificationCenter::defaultCenter().addObserver(
        &observer, kUploadDoneNotification, [&](const Notification &) { ++bundlesDone; });

    double queuedSeconds = 0;
    double shareSeconds = 0;
    double saveMs = 0;
    double pressMs = 0;
    double serialiseMs = 0;
    qint64 archiveBytes = 0;
    int saves = 0;
    const qint64 writtenBefore = bytesWritten();
    {
        ShareTaskManager manager(demo.service());
        manager.loadCurrentShareTask();
        const ShareTaskPtr task = ShareTask::singleton();
        SaveCounter counter(task->path(), QString::fromLatin1(kShareArchiveName));
        QElapsedTimer timer;
        timer.start();
        QString problem;
        const std::optional<QList<PhotoInfo>> infos = takeDroppedPhotos(files, task->path(), &problem);
        if (!infos) {
            std::fprintf(stderr, "%s\n", qPrintable(problem));
            return 1;
        }
        for (const PhotoInfo &info : *infos)
            task->pushPhoto(info);
        task->recipients()->append(QStringLiteral("friend@example.com"));
        // A save of the whole archive, timed alone; pressing Share makes one more on the main thread.
        QElapsedTimer serialise;
        serialise.start();
        archiveBytes = task->archiveData().size();
        serialiseMs = serialise.nsecsElapsed() / 1e6;
        QElapsedTimer save;
        save.start();
        task->saveTask();
        saveMs = save.nsecsElapsed() / 1e6;
        QElapsedTimer press;
        press.start();
        manager.sendCurrentShareTask();
        pressMs = press.nsecsElapsed() / 1e6;
        queuedSeconds = timer.nsecsElapsed() / 1e9;
        bench::runUntil([&] { return bundlesDone > 0; }, 600000);
        shareSeconds = timer.nsecsElapsed() / 1e9;
        manager.waitForSaves(10000);
        saves = counter.count() - 1;
    }
    Workers::instance().waitForAll(10000);
    const qint64 written = bytesWritten() - writtenBefore;
    if (bundlesDone == 0) {
        std::fprintf(stderr, "the share did not go through\n");
        return 1;
    }
    std::printf("\n%d small photos (640x480), previews only\n", count);
    std::printf("queued (taken in and handed to the worker): %.2f s; shared end to end: %.2f s\n",
        queuedSeconds, shareSeconds);
    std::printf("archive: %d saves during the share; one save of %.0f KB takes %.1f ms (%.1f ms of it "
                "making the bytes); pressing Share holds the main thread %.1f ms\n",
        saves, archiveBytes / 1024.0, saveMs, serialiseMs, pressMs);
    if (written >= 0)
        std::printf("written to disk by the client: %.1f MB (the photos' copies: %.1f MB)\n",
            written / 1048576.0, [&] {
                qint64 total = 0;
                for (const QString &file : files)
                    total += QFileInfo(file).size();
                return total / 1048576.0;
            }());
    std::printf("peak memory: %.1f MB\n", bench::peakMB());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool quick = args.contains(QStringLiteral("--quick"));
    const int count = quick ? 3 : 10;
    const QSize size = quick ? QSize(1200, 800) : QSize(6000, 4000);
    if (args.size() >= 3 && args.at(1) == QStringLiteral("--generate"))
        return generate(args.at(2), count, size.width(), size.height());
    if (args.size() >= 4 && args.at(1) == QStringLiteral("--generate-small"))
        return generateSmall(args.at(2), args.at(3).toInt());
    if (args.contains(QStringLiteral("--many")))
        return manySmallPhotos(app.applicationFilePath(), quick);

    QTemporaryDir home;
    // Made by a child process, so their pixels never count in this one's peak memory.
    const QString photos = home.filePath(QStringLiteral("photos"));
    QDir().mkpath(photos);
    QStringList childArgs {QStringLiteral("--generate"), photos};
    if (quick)
        childArgs << QStringLiteral("--quick");
    if (QProcess::execute(app.applicationFilePath(), childArgs) != 0) {
        std::fprintf(stderr, "could not make the test photos\n");
        return 1;
    }
    QStringList files;
    for (int i = 0; i < count; ++i)
        files.append(QDir(photos).filePath(QStringLiteral("IMG_%1.jpg").arg(i)));

    bench::DemoSession demo(home.path());
    if (!demo.ready())
        return 1;
    const std::shared_ptr<Service> &service = demo.service();
    Prefs::setBoolPref(false, PrefKey::ShareHighResPhotos);

    int bundlesDone = 0;
    QObject observer;
    NotificationCenter::defaultCenter().addObserver(
        &observer, kUploadDoneNotification, [&](const Notification &) { ++bundlesDone; });

    const double startMB = bench::peakMB();
    Run share;
    bool taken = true;
    {
        ShareTaskManager manager(service);
        manager.loadCurrentShareTask();
        const ShareTaskPtr task = ShareTask::singleton();
        const double cpu = bench::cpuSeconds();
        QElapsedTimer timer;
        timer.start();
        QString problem;
        const std::optional<QList<PhotoInfo>> infos = takeDroppedPhotos(files, task->path(), &problem);
        if (infos) {
            for (const PhotoInfo &info : *infos)
                task->pushPhoto(info);
        } else {
            std::fprintf(stderr, "%s\n", qPrintable(problem));
            taken = false;
        }
        task->recipients()->append(QStringLiteral("friend@example.com"));
        share.takenSeconds = timer.nsecsElapsed() / 1e9;
        manager.sendCurrentShareTask();
        bench::runUntil([&] { return bundlesDone > 0; }, 600000);
        share.seconds = timer.nsecsElapsed() / 1e9;
        share.cpuSeconds = bench::cpuSeconds() - cpu;
    }
    const double shareMB = bench::peakMB();
    Workers::instance().waitForAll(10000);
    if (!taken || bundlesDone == 0) {
        std::fprintf(stderr, "the share did not go through\n");
        return 1;
    }

    const Run turbo = quarterDecodes(files);
    const QString out = home.filePath(QStringLiteral("vips"));
    QDir().mkpath(out);
    const std::optional<double> vips = vipsSeconds(files, out);

    std::printf("share_vs_peers (%s): %d photos of %.0f megapixels, previews only\n",
        quick ? "quick" : "full", count, double(size.width()) * size.height() / 1e6);
    std::printf("%-36s %9s %14s\n", "", "wall s", "CPU ms/photo");
    std::printf("%-36s %9.2f %14.1f\n", "share, end to end", share.seconds, 1000 * share.cpuSeconds / count);
    std::printf("%-36s %9.2f\n", "  of which taking the photos in", share.takenSeconds);
    if (vips)
        std::printf("%-36s %9.2f %14s\n", "vipsthumbnail, previews only", *vips, "-");
    else
        std::printf("%-36s %9s   (vipsthumbnail is not installed: package libvips-tools)\n",
            "vipsthumbnail, previews only", "-");
    std::printf(
        "%-36s %9.2f %14.1f\n", "libjpeg-turbo 1/4 decode", turbo.seconds, 1000 * turbo.cpuSeconds / count);
    if (vips)
        std::printf("share / vipsthumbnail: %.2fx\n", share.seconds / *vips);
    std::printf("share / 1/4 decode: %.2fx wall, %.2fx CPU per photo\n", share.seconds / turbo.seconds,
        share.cpuSeconds / turbo.cpuSeconds);
    std::printf("peak memory: %.1f MB during the share (%.1f MB before it; the in-process server counts)\n",
        shareMB, startMB);
    std::fflush(stdout);

    QStringList manyArgs {QStringLiteral("--many")};
    if (quick)
        manyArgs << QStringLiteral("--quick");
    return QProcess::execute(app.applicationFilePath(), manyArgs);
}
