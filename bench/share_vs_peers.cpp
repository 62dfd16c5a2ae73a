// A share of camera photos as previews, end to end, beside what other tools need for part of that
// work on the same files. The share: the photos are taken into a share (copied, decoded for their
// thumbnails and previews) and sent through the share worker to the in-process reference server
// over loopback. The peers: vipsthumbnail making the same previews (when it is installed), and
// libjpeg-turbo's 1/4-scale decode, the floor of any preview made from these JPEGs. Prints times,
// their ratios, CPU per photo and peak memory; it checks no target (the machine may be busy).
//
//   share_vs_peers          ten 24-megapixel photos
//   share_vs_peers --quick  three small photos (the CTest smoke run)
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

Run quarterDecodes(const QStringList &files) {
    const double cpu = bench::cpuSeconds();
    QElapsedTimer timer;
    timer.start();
    for (const QString &file : files)
        bench::decodeQuarter(PhotoBytes::mapFile(file));
    return {timer.nsecsElapsed() / 1e9, bench::cpuSeconds() - cpu};
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
    return 0;
}
