// Photo preparation speed and memory: time per upload preview (long side 1000, quality 50) and
// per drop-area thumbnail (320 x 240, trim, stroke 12) for camera-sized JPEGs and a PNG, against
// the time libjpeg-turbo alone takes to decode the same JPEG at 1/4 scale, plus the process's
// peak memory. A 12 megapixel HEIC (made from the 12 megapixel JPEG by libheif's heif-enc) is
// timed per preview and per full-size JPEG against libheif's own heif-convert making a JPEG of the
// same file. The photos are made by a child process, so their pixels never count here.
//
//   photo_prep            full run: 12 and 24 megapixel JPEGs, a 2560 x 1600 PNG, a 12 megapixel
//                         HEIC; checks the targets
//   photo_prep --quick    small images, one pass each (the CTest smoke run)
#include "BenchSupport.h"
#include "share/PhotoBytes.h"
#include "share/PhotoPrep.h"
#include "share/ShareTask.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#if defined(__SANITIZE_THREAD__)
// As in the tests: Qt's own thread hand-overs are invisible to ThreadSanitizer.
extern "C" const char *__tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}
#endif

namespace {

struct Fixture {
    const char *name;
    int width;
    int height;
    const char *format;
};

const Fixture kFull[] = {
    {"camera12.jpg", 4000, 3000, "jpeg"},
    {"camera24.jpg", 6000, 4000, "jpeg"},
    {"screen.png", 2560, 1600, "png"},
};
const Fixture kQuick[] = {
    {"camera12.jpg", 800, 600, "jpeg"},
    {"camera24.jpg", 1200, 800, "jpeg"},
    {"screen.png", 640, 400, "png"},
};

constexpr double kPreviewTargetRatio = 1.5;
// A HEIC's preview and full-size JPEG against heif-convert's JPEG of it.
constexpr double kHeifTargetRatio = 1.2;
const QString kHeifEnc = QStringLiteral("heif-enc");
const QString kHeifConvert = QStringLiteral("heif-convert");
constexpr double kPeakTargetMB = 64.0;

int generate(const QString &folder, bool quick) {
    const Fixture *begin = quick ? std::begin(kQuick) : std::begin(kFull);
    const Fixture *end = quick ? std::end(kQuick) : std::end(kFull);
    for (const Fixture *f = begin; f != end; ++f) {
        if (!lf::bench::writeCameraPhoto(
                QDir(folder).filePath(QLatin1String(f->name)), f->width, f->height, f->format))
            return 1;
    }
    // The HEIC from the 12 megapixel JPEG, as a phone would make it (quality 90).
    const QString jpeg = QDir(folder).filePath(QLatin1String(begin->name));
    const QString heic = QDir(folder).filePath(QStringLiteral("camera12.heic"));
    if (QProcess::execute(
            kHeifEnc, {QStringLiteral("-q"), QStringLiteral("90"), jpeg, QStringLiteral("-o"), heic})
        != 0)
        std::fprintf(stderr, "heif-enc could not make the HEIC (libheif-examples)\n");
    return 0;
}

// Runs the jobs in turn, `iterations` rounds, and gives each one's median time in milliseconds
// (-1 when it failed). Taking turns keeps a busy machine from favouring one of them.
std::vector<double> medianMs(int iterations, const std::vector<std::function<bool()>> &jobs) {
    std::vector<std::vector<double>> times(jobs.size());
    std::vector<double> medians(jobs.size(), -1);
    for (int i = 0; i < iterations; ++i) {
        for (size_t j = 0; j < jobs.size(); ++j) {
            QElapsedTimer timer;
            timer.start();
            if (!jobs[j]())
                return medians;
            times[j].push_back(double(timer.nsecsElapsed()) / 1e6);
        }
    }
    for (size_t j = 0; j < jobs.size(); ++j) {
        std::sort(times[j].begin(), times[j].end());
        medians[j] = times[j][times[j].size() / 2];
    }
    return medians;
}

// The HEIC's preview and full-size JPEG against heif-convert; the worse ratio, or -1 when the
// HEIC is missing, or -2 on failure.
double benchHeic(const QString &folder, int iterations, const QString &out) {
    const QString heic = QDir(folder).filePath(QStringLiteral("camera12.heic"));
    if (!QFileInfo::exists(heic)) {
        std::printf("HEIC: skipped, heif-enc (libheif-examples) is missing\n");
        return -1;
    }
    const std::vector<double> times = medianMs(iterations,
        {[&] {
             QString p = heic;
             return !lf::dataForFile(p, false).isNull();
         },
            [&] {
                QString p = heic;
                return !lf::dataForFile(p, true).isNull();
            },
            [&] {
                return QProcess::execute(kHeifConvert,
                           {QStringLiteral("--quiet"), QStringLiteral("-q"), QStringLiteral("92"), heic, out})
                    == 0;
            }});
    if (times[2] < 0) {
        std::printf("HEIC: failed (is heif-convert installed?)\n");
        return -2;
    }
    const double preview = times[0] / times[2];
    const double full = times[1] / times[2];
    std::printf("HEIC %s (%.1f MB): preview %.1f ms, full-size JPEG %.1f ms, heif-convert %.1f ms\n",
        qPrintable(QFileInfo(heic).fileName()), double(QFileInfo(heic).size()) / (1024.0 * 1024.0), times[0],
        times[1], times[2]);
    std::printf("HEIC preview / heif-convert: %.2f, full size / heif-convert: %.2f (target <= %.1f)\n",
        preview, full, kHeifTargetRatio);
    return std::max(preview, full);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool quick = args.contains(QStringLiteral("--quick"));
    if (args.size() >= 3 && args.at(1) == QStringLiteral("--generate"))
        return generate(args.at(2), quick);

    QTemporaryDir dir;
    QStringList childArgs {QStringLiteral("--generate"), dir.path()};
    if (quick)
        childArgs << QStringLiteral("--quick");
    if (QProcess::execute(app.applicationFilePath(), childArgs) != 0) {
        std::fprintf(stderr, "could not make the test photos\n");
        return 1;
    }

    const int iterations = quick ? 1 : 15;
    const double startMB = lf::bench::peakMB();
    std::printf("photo_prep (%s, median of %d)\n", quick ? "quick" : "full", iterations);
    std::printf("%-14s %9s %8s %11s %9s %12s %13s\n", "file", "pixels", "file MB", "preview ms", "thumb ms",
        "jpeg 1/4 ms", "peak MB so far");

    double preview24 = 0;
    double baseline24 = 0;
    const Fixture *begin = quick ? std::begin(kQuick) : std::begin(kFull);
    const Fixture *end = quick ? std::end(kQuick) : std::end(kFull);
    bool ok = true;
    for (const Fixture *f = begin; f != end; ++f) {
        const QString path = dir.filePath(QLatin1String(f->name));
        const double fileMB = double(QFileInfo(path).size()) / (1024.0 * 1024.0);
        const lf::PhotoBytes mapped = lf::PhotoBytes::mapFile(path);
        const bool isJpeg = QByteArray(f->format) == "jpeg";
        std::vector<std::function<bool()>> jobs {[&] {
                                                     QString p = path;
                                                     return !lf::dataForFile(p, false).isNull();
                                                 },
            [&] {
                const lf::PhotoBytes bytes = lf::PhotoBytes::mapFile(path);
                return !lf::ExtractThumbnail(
                    bytes.view(), lf::kDropThumbnailSize, true, lf::kDropThumbnailStroke)
                            .isNull();
            }};
        if (isJpeg)
            jobs.push_back([&] { return lf::bench::decodeQuarter(mapped); });
        const std::vector<double> times = medianMs(iterations, jobs);
        const double preview = times[0];
        const double thumb = times[1];
        const double baseline = isJpeg ? times[2] : -1;
        ok = ok && preview >= 0 && thumb >= 0;
        std::printf("%-14s %8.1fM %8.1f %11.1f %9.1f %12s %13.1f\n", f->name,
            double(f->width) * f->height / 1e6, fileMB, preview, thumb,
            baseline < 0 ? "-" : qPrintable(QString::number(baseline, 'f', 1)), lf::bench::peakMB());
        if (f == begin + 1) {
            preview24 = preview;
            baseline24 = baseline;
        }
    }
    // Saving a share of 1,000 photos (thumbnails already on disk, as after the first save).
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath(QStringLiteral("cache"))));
    const lf::ShareTaskPtr task = lf::ShareTask::create();
    task->setPath(lf::ShareTask::newBundleInfoPath());
    const QImage thumb
        = lf::ExtractThumbnail(lf::PhotoBytes::mapFile(dir.filePath(QLatin1String(begin->name))).view(),
            lf::kDropThumbnailSize, true, lf::kDropThumbnailStroke);
    for (int i = 0; i < 1000; ++i) {
        task->pushPhoto({{QLatin1String(lf::kPhotoUrl), QStringLiteral("http://example.com/%1.jpg").arg(i)},
            {QLatin1String(lf::kPhotoOpath), QStringLiteral("/home/me/Pictures/IMG_%1.JPG").arg(i)},
            {QLatin1String(lf::kPhotoCaption), QStringLiteral("A caption of some length, number %1").arg(i)},
            {QLatin1String(lf::kPhotoThumb), thumb}});
    }
    QElapsedTimer firstSave;
    firstSave.start();
    ok = task->saveTask() && ok;
    const double firstMs = double(firstSave.nsecsElapsed()) / 1e6;
    const double saveMs = medianMs(quick ? 1 : 5, {[&] { return task->saveTask(); }})[0];
    std::printf("save of a 1000-photo share: %.1f ms (first save, writing the thumbnails: %.1f ms)\n", saveMs,
        firstMs);

    // The memory target is the JPEG and PNG work's: a HEIC is decoded whole, its peak is its own.
    const double peak = lf::bench::peakMB();
    const double heifRatio
        = benchHeic(dir.path(), quick ? 1 : 7, dir.filePath(QStringLiteral("convert.jpg")));
    ok = ok && heifRatio != -2;
    std::printf("peak memory after the HEIC: %.1f MB\n", lf::bench::peakMB());
    const double ratio = preview24 / baseline24;
    std::printf(
        "largest JPEG preview / decode-only at 1/4: %.2f (target <= %.1f)\n", ratio, kPreviewTargetRatio);
    std::printf(
        "peak memory: %.1f MB (%.1f MB before the work; target < %.0f MB)\n", peak, startMB, kPeakTargetMB);
    if (!ok) {
        std::printf("a photo could not be prepared\n");
        return 1;
    }
    if (quick) {
        std::printf("(quick run: figures of small images; the targets are checked by the full run)\n");
        return 0;
    }
    const bool met = ratio <= kPreviewTargetRatio && peak < kPeakTargetMB && heifRatio <= kHeifTargetRatio;
    std::printf("targets %s\n", met ? "met" : "MISSED");
    return met ? 0 : 1;
}
