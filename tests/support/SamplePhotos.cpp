#include "support/SamplePhotos.h"

#include "support/TestImages.h"

#include <QDir>
#include <QPainter>
#include <QRandomGenerator>

namespace lf::test {

namespace {

// Quadrants with lanterns and per-pixel noise: the noise keeps the JPEG large (it does not
// compress away) and the quadrants keep the orientation visible.
QImage largeImage() {
    QImage image = quadrantImage(kSampleLargeWidth, kSampleLargeHeight);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        QRandomGenerator place(8);
        for (int i = 0; i < 24; ++i) {
            const int r = 30 + int(place.bounded(60));
            p.setBrush(QColor(255, 190 + int(place.bounded(50)), 80));
            p.drawEllipse(
                QPoint(int(place.bounded(kSampleLargeWidth)), int(place.bounded(kSampleLargeHeight))), r, r);
        }
    }
    QRandomGenerator noise(6);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const quint32 n = noise.generate();
            const auto jitter
                = [&](int value, int shift) { return qBound(0, value + int((n >> shift) & 0x3f) - 32, 255); };
            const QRgb c = line[x];
            line[x] = qRgb(jitter(qRed(c), 0), jitter(qGreen(c), 8), jitter(qBlue(c), 16));
        }
    }
    return image;
}

bool writeFile(const QString &path, const QByteArray &bytes, const Meta &meta, QString *error) {
    if (bytes.isEmpty() || !writeBytes(path, bytes)) {
        *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    if ((meta.orientation || meta.caption) && !writeMeta(path, meta)) {
        *error = QStringLiteral("cannot write the metadata of %1").arg(path);
        return false;
    }
    return true;
}

} // namespace

QStringList writeSamplePhotos(const QString &folder, QString *error) {
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot make the folder %1").arg(folder);
        return {};
    }
    const QDir dir(folder);
    const QStringList paths = {dir.absoluteFilePath(QStringLiteral("harbour-large.jpg")),
        dir.absoluteFilePath(QStringLiteral("quadrants.png")),
        dir.absoluteFilePath(QStringLiteral("lanterns-captioned.jpg"))};
    Meta turned;
    turned.orientation = kSampleOrientation;
    Meta captioned;
    captioned.caption = QString::fromUtf8(kSampleCaption);
    if (!writeFile(paths[0], encoded(largeImage(), "jpeg", 90), turned, error)
        || !writeFile(paths[1], encoded(quadrantImage(320, 240), "png", 0), {}, error)
        || !writeFile(paths[2], encoded(quadrantImage(640, 480), "jpeg", 90), captioned, error))
        return {};
    return paths;
}

} // namespace lf::test
