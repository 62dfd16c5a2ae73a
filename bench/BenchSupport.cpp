#include "BenchSupport.h"

#include "foundation/Prefs.h"

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QEventLoop>
#include <QImageWriter>
#include <QTimer>

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <jpeglib.h>
#include <sys/resource.h>

namespace lf::bench {

QImage photoLike(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int((seed >> 24) & 15) - 8;
            const double u = double(x) / width;
            const double v = double(y) / height;
            const int band = ((x / 97) ^ (y / 61)) & 1 ? 24 : 0;
            const int r = int(120 + 90 * std::sin(6.0 * u + 2.0 * v)) + noise + band;
            const int g = int(110 + 80 * std::cos(5.0 * v - 3.0 * u)) + noise;
            const int b = int(100 + 70 * std::sin(9.0 * u * v)) + noise - band;
            line[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
    return image;
}

bool writeCameraPhoto(const QString &path, int width, int height, const char *format) {
    QImageWriter writer(path, format);
    writer.setQuality(92);
    if (!writer.write(photoLike(width, height))) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), qPrintable(writer.errorString()));
        return false;
    }
    if (QByteArray(format) == "jpeg") {
        auto image = Exiv2::ImageFactory::open(path.toStdString());
        image->readMetadata();
        image->exifData()["Exif.Image.Make"] = std::string("Bench");
        image->exifData()["Exif.Image.Model"] = std::string("Camera");
        image->exifData()["Exif.Image.Orientation"] = uint16_t(1);
        image->exifData()["Exif.GPSInfo.GPSLatitudeRef"] = std::string("N");
        image->writeMetadata();
    }
    return true;
}

bool decodeQuarter(const PhotoBytes &bytes) {
    jpeg_decompress_struct cinfo {};
    jpeg_error_mgr err {};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(
        &cinfo, reinterpret_cast<const unsigned char *>(bytes.constData()), (unsigned long)bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.scale_num = 1;
    cinfo.scale_denom = 4;
    cinfo.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&cinfo);
    std::vector<unsigned char> row(size_t(cinfo.output_width) * 4);
    JSAMPROW rows[1] = {row.data()};
    while (cinfo.output_scanline < cinfo.output_height)
        jpeg_read_scanlines(&cinfo, rows, 1);
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

double cpuSeconds() {
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double peakMB() {
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

void runUntil(const std::function<bool()> &done, int timeoutMs) {
    if (done())
        return;
    QEventLoop loop;
    QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop, [&] {
            if (done())
                loop.quit();
        });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
}

DemoSession::DemoSession(const QString &home, const QString &serverData) {
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(QDir(home).filePath(QStringLiteral("config"))));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(QDir(home).filePath(QStringLiteral("cache"))));
    Prefs::reloadLocation();
    dev::DevServerOptions options;
    options.seedDemo = true;
    options.dataDir = serverData;
    m_server = std::make_unique<dev::DevServer>(options);
    if (!m_server->start()) {
        std::fprintf(stderr, "the reference server did not start\n");
        return;
    }
    ServiceAPI::setHost(QStringLiteral("127.0.0.1"), QString::number(m_server->port()));
    m_service = std::make_shared<Service>();
    m_service->setDelegate(this);
    m_service->connect(QStringLiteral("demo@lanternfish.test"), QStringLiteral("lanternfish"));
    runUntil([this] { return m_completions > 0; }, 30000);
    m_ready = m_completions > 0;
    if (!m_ready)
        std::fprintf(stderr, "the sign-in did not end\n");
}

DemoSession::~DemoSession() {
    if (m_service)
        m_service->setDelegate(nullptr);
}

} // namespace lf::bench
