// Sharing throughput: N generated photos (mixed sizes, high-resolution sharing on) go through the
// share worker to the in-process reference server over loopback. Prints photos per second, the
// client's CPU time per photo, and the same bytes sent by plain libcurl uploads as this machine's
// physical baseline. `--quick` shares a few photos (the CTest smoke run).
#include "BenchSupport.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Workers.h"
#include "sending/ShareTaskManager.h"
#include "session/Service.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <curl/curl.h>

#include <cstdio>

using namespace lf;

namespace {

QString writePhoto(const QString &path, int side, quint32 seed) {
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < side; ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < side; ++x)
            line[x] = (random.generate() & 0x3f3f3f) | 0xff808080u;
    }
    image.save(path, "JPEG", 90);
    return path;
}

size_t discard(char *, size_t size, size_t count, void *) {
    return size * count;
}

// Plain libcurl POSTs of the files to a path the server drains and refuses: the loopback baseline.
double curlSeconds(const QString &baseUrl, const QStringList &files) {
    CURL *curl = curl_easy_init();
    const QByteArray url = (baseUrl + QStringLiteral("/__dev/baseline")).toUtf8();
    QElapsedTimer timer;
    timer.start();
    for (const QString &file : files) {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        const QByteArray bytes = f.readAll();
        curl_easy_setopt(curl, CURLOPT_URL, url.constData());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, bytes.constData());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(bytes.size()));
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
        curl_easy_perform(curl);
    }
    curl_easy_cleanup(curl);
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const int count = quick ? 4 : 40;

    QTemporaryDir home;
    bench::DemoSession demo(home.path());
    if (!demo.ready())
        return 1;
    const std::shared_ptr<Service> &service = demo.service();
    Prefs::setBoolPref(true, PrefKey::ShareHighResPhotos);

    int bundlesDone = 0;
    bool stagedDone = false;
    QObject observer;
    NotificationCenter::defaultCenter().addObserver(&observer, {}, [&](const Notification &n) {
        if (n.name == QLatin1String(kUploadDoneNotification))
            ++bundlesDone;
        if (n.name == QLatin1String(kGrowlNotification)
            && n.object.toString() == QLatin1String(GrowlKey::SuccessFull))
            stagedDone = true;
    });

    double seconds = 0;
    double bundleSeconds = 0; // the bundle itself, before the paced full-size uploads
    double cpu = 0;
    QStringList files;
    qint64 bytes = 0;
    {
        ShareTaskManager manager(service);
        manager.loadCurrentShareTask();
        const ShareTaskPtr task = ShareTask::singleton();
        for (int i = 0; i < count; ++i) {
            // Mixed sizes: every other photo is large enough to be staged in full.
            const int side = i % 2 ? 1200 : 160;
            files.append(writePhoto(QDir(task->path()).filePath(QStringLiteral("p%1.jpg").arg(i)), side, i));
            bytes += QFileInfo(files.last()).size();
            task->pushPhoto({{kPhotoUrl, files.last()}});
        }
        task->recipients()->append(QStringLiteral("friend@example.com"));
        const QString copies = home.filePath(QStringLiteral("copies"));
        QDir().mkpath(copies);
        QStringList baselineFiles;
        for (const QString &f : files) {
            baselineFiles.append(QDir(copies).filePath(QFileInfo(f).fileName()));
            QFile::copy(f, baselineFiles.last());
        }

        const double cpuStart = bench::cpuSeconds();
        QElapsedTimer timer;
        timer.start();
        manager.sendCurrentShareTask();
        bench::runUntil([&] { return bundlesDone > 0; }, 600000);
        bundleSeconds = timer.nsecsElapsed() / 1e9;
        bench::runUntil([&] { return bundlesDone > 0 && stagedDone; }, 600000);
        seconds = timer.nsecsElapsed() / 1e9;
        cpu = bench::cpuSeconds() - cpuStart; // includes the in-process server's share
        files = baselineFiles;
    }
    const double baseline = curlSeconds(demo.server().baseUrl(), files);
    Workers::instance().waitForAll(10000);

    std::printf("photos shared: %d (%.1f MB on disk, high-resolution sharing on)\n", count, bytes / 1e6);
    std::printf("share time: %.2f s, %.1f photos/s\n", seconds, count / seconds);
    std::printf(
        "bundle (screen-size and small photos, before the paced full-size uploads): %.2f s\n", bundleSeconds);
    std::printf("process CPU per photo (client and in-process server): %.1f ms\n", 1000.0 * cpu / count);
    std::printf(
        "plain libcurl upload of the same files: %.3f s (%.1f MB/s)\n", baseline, bytes / 1e6 / baseline);
    return bundlesDone > 0 && stagedDone ? 0 : 1;
}
