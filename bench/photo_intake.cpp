// Dropping a large batch of camera photos on the drop view: how long the event loop is held at
// most while they are copied and thumbnailed, and how fast thumbnails appear.
//
//   photo_intake [--quick] [--count N] [--width W --height H] [--screenshot FILE]
#include "BenchSupport.h"

#include "intake/PhotoDropView.h"
#include "share/ShareTask.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace lf;

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral(".cache"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral(".config"))));
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.addOptions({{QStringLiteral("quick"), QStringLiteral("A short run for the test suite.")},
        {QStringLiteral("count"), QStringLiteral("Photos dropped."), QStringLiteral("n"),
            QStringLiteral("200")},
        {QStringLiteral("width"), QStringLiteral("Photo width."), QStringLiteral("px"),
            QStringLiteral("4000")},
        {QStringLiteral("height"), QStringLiteral("Photo height."), QStringLiteral("px"),
            QStringLiteral("3000")},
        {QStringLiteral("screenshot"), QStringLiteral("Save the window when done."),
            QStringLiteral("file")}});
    parser.process(app);
    const bool quick = parser.isSet(QStringLiteral("quick"));
    const int count = quick ? 8 : parser.value(QStringLiteral("count")).toInt();
    const int width = quick ? 1600 : parser.value(QStringLiteral("width")).toInt();
    const int height = quick ? 1200 : parser.value(QStringLiteral("height")).toInt();

    // One camera photo, copied: every copy costs the same to copy and decode.
    const QString folder = home.filePath(QStringLiteral("Pictures"));
    QDir().mkpath(folder);
    const QString first = QDir(folder).filePath(QStringLiteral("IMG_0000.jpg"));
    if (!bench::writeCameraPhoto(first, width, height))
        return 1;
    QStringList files {first};
    for (int i = 1; i < count; ++i) {
        files.append(QDir(folder).filePath(QStringLiteral("IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0'))));
        QFile::copy(first, files.last());
    }
    std::printf("%d photos of %dx%d (%.1f MB each)\n", count, width, height, QFileInfo(first).size() / 1e6);

    PhotoDropView view;
    view.setDropAllowed([] { return true; });
    view.resize(900, 560);
    view.show();
    // The window's first showing (fonts, artwork) is not part of the drop.
    bool shown = false;
    QTimer::singleShot(300, [&] { shown = true; });
    bench::runUntil([&] { return shown; }, 5000);

    // A timer that wants to run every 5 ms: the longest gap between its runs is the longest time
    // the window could not answer.
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestStall = 0;
    qint64 stallEnded = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (now - last - 5 > longestStall) {
            longestStall = now - last - 5;
            stallEnded = now;
        }
        last = now;
    });
    qint64 firstShown = -1;
    const ShareTaskPtr task = ShareTask::singleton();
    bool done = false;
    QObject::connect(&view, &PhotoDropView::dropFinished, [&] { done = true; });
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (firstShown < 0 && task->photoCount() > 0)
            firstShown = clock.elapsed();
    });

    clock.start();
    ticker.start(5);
    watcher.start(1);
    const double cpuBefore = bench::cpuSeconds();
    view.dropFiles(files);
    bench::runUntil([&] { return done; }, 30 * 60 * 1000);
    const qint64 total = clock.elapsed();
    ticker.stop();
    const double cpu = bench::cpuSeconds() - cpuBefore;

    std::printf("photos added:              %d of %d\n", task->photoCount(), count);
    std::printf("first thumbnail shown:     %lld ms\n", static_cast<long long>(firstShown));
    std::printf("all in:                    %.2f s\n", total / 1000.0);
    std::printf("thumbnail rate:            %.1f photos/s\n",
        task->photoCount() * 1000.0 / std::max<qint64>(1, total));
    std::printf("longest main-thread stall: %lld ms (ended %.2f s in)\n",
        static_cast<long long>(longestStall), stallEnded / 1000.0);
    std::printf("CPU:                       %.1f s; peak memory %.0f MB\n", cpu, bench::peakMB());

    const QString shot = parser.value(QStringLiteral("screenshot"));
    if (!shot.isEmpty()) {
        view.jumpToImage(task->photoCount() / 2, true);
        app.processEvents();
        view.grab().save(shot);
    }
    task->clearTask();
    return task->photoCount() == 0 && done ? 0 : 1;
}
