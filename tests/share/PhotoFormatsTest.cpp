// HEIC, HEIF, AVIF and WebP photos: taken in, previewed and sent as JPEG like the others.
#include "support/TestImages.h"

#include "foundation/Prefs.h"
#include "share/ImageMetaData.h"
#include "share/PhotoIntake.h"
#include "share/PhotoPrep.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QImageReader>

#include <exiv2/exiv2.hpp>

using namespace lf;
using namespace lf::test;

namespace {

class PhotoFormats : public TempHomeTest {
protected:
    QString file(const QString &name, const QByteArray &bytes) {
        const QString path = home.filePath(name);
        EXPECT_FALSE(bytes.isEmpty()) << name.toStdString();
        EXPECT_TRUE(writeBytes(path, bytes)) << path.toStdString();
        return path;
    }
    QString shareSet() {
        const QString folder = home.filePath(QStringLiteral("set.shareset"));
        QDir().mkpath(folder);
        return folder;
    }
};

// The corners of an upright quadrant image, as in the JPEG orientation tests.
void expectCorners(const QImage &image, const QColor &topLeft, const QColor &topRight) {
    ASSERT_FALSE(image.isNull());
    const int w = image.width();
    const int h = image.height();
    EXPECT_TRUE(near(image.pixelColor(w / 4, h / 4), topLeft))
        << image.pixelColor(w / 4, h / 4).name().toStdString();
    EXPECT_TRUE(near(image.pixelColor(3 * w / 4, h / 4), topRight))
        << image.pixelColor(3 * w / 4, h / 4).name().toStdString();
}

std::unique_ptr<Exiv2::Image> exifOf(const QByteArray &jpeg) {
    auto image = Exiv2::ImageFactory::open(
        reinterpret_cast<const Exiv2::byte *>(jpeg.constData()), long(jpeg.size()));
    image->readMetadata();
    return std::unique_ptr<Exiv2::Image>(image.release());
}

std::string exifText(const Exiv2::Image &image, const char *key) {
    const auto it = image.exifData().findKey(Exiv2::ExifKey(key));
    return it == image.exifData().end() ? std::string() : it->toString();
}

// Mean difference per channel between two images of one size, 0 to 255.
double meanDifference(const QImage &a, const QImage &b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row);
            const QRgb q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * x.width() * x.height());
}

} // namespace

TEST_F(PhotoFormats, EachTypeIsTakenByNameAndCheckedByContent) {
    const QImage picture = quadrantImage(64, 48);
    const QString heic = file(QStringLiteral("a.HEIC"), heifEncoded(picture));
    const QString heif = file(QStringLiteral("b.heif"), heifEncoded(picture));
    const QString avif = file(QStringLiteral("c.avif"), heifEncoded(picture, {.codec = "avif"}));
    const QString webp = file(QStringLiteral("d.webp"), encoded(picture, "webp", 90));
    for (const QString &path : {heic, heif, avif, webp}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_TRUE(supportedFile(path));
        EXPECT_EQ(photoFileProblem(path), QString());
        QString problem;
        EXPECT_TRUE(takeDroppedPhoto(path, shareSet(), &problem)) << problem.toStdString();
    }
    // Without an extension the content decides.
    EXPECT_TRUE(supportedFile(file(QStringLiteral("phone-photo"), readBytes(heic))));

    // A name that promises HEIF over other content is refused, naming the file.
    const QString png = file(QStringLiteral("fake.heic"), encoded(picture, "png"));
    EXPECT_EQ(photoFileProblem(png), png + QStringLiteral(" is not a HEIF image (it holds a PNG image)"));
    const QString text = file(QStringLiteral("notes.heic"), "ftypheic but only words");
    EXPECT_EQ(photoFileProblem(text), text + QStringLiteral(" is not a HEIF image"));
    EXPECT_FALSE(takeDroppedPhoto(text, shareSet()));
    EXPECT_EQ(photoFileProblem(file(QStringLiteral("av1.heic"), readBytes(avif))),
        home.filePath(QStringLiteral("av1.heic"))
            + QStringLiteral(" is not a HEIF image (it holds a AVIF image)"));
}

TEST_F(PhotoFormats, TurnsFromTheFileAndFromExifAreAppliedOnce) {
    struct Case {
        const char *name;
        QByteArray bytes;
    };
    const QImage stored = quadrantImage(96, 64);
    // Turned a quarter clockwise, the stored top-left (red) is at the top right.
    const Case cases[] = {
        {"irot.heic", heifEncoded(stored, {.turn = 6})},
        {"exif-only.heic", heifEncoded(stored, {.exif = exifBlock({.orientation = 6})})},
        // Phones state the turn both ways: it must not be applied twice.
        {"both.heic", heifEncoded(stored, {.turn = 6, .exif = exifBlock({.orientation = 6})})},
        {"irot.avif", heifEncoded(stored, {.codec = "avif", .turn = 6})},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = file(QLatin1String(c.name), c.bytes);
        QSize size;
        const QImage upright = ExtractImage(c.bytes, &size);
        ASSERT_EQ(upright.size(), QSize(64, 96));
        expectCorners(upright, kBottomLeft, kTopLeft);
        // The drop thumbnail and the Pictures palette's reader agree.
        QImageReader reader(path);
        reader.setAutoTransform(true);
        expectCorners(reader.read(), kBottomLeft, kTopLeft);
        QString preview = path;
        expectCorners(QImage::fromData(dataForFile(preview, false).toByteArray()), kBottomLeft, kTopLeft);
        EXPECT_TRUE(preview.endsWith(QLatin1String(".jpg")));
    }

    // WebP carries its turn in Exif, like JPEG.
    const QString webp = file(QStringLiteral("turned.webp"), encoded(stored, "webp", 95));
    ASSERT_TRUE(writeMeta(webp, {.orientation = 6}));
    expectCorners(ExtractImage(readBytes(webp)), kBottomLeft, kTopLeft);
}

TEST_F(PhotoFormats, LargePhotoPreviewIsShrunkUpright) {
    const QString path = file(QStringLiteral("big.heic"), heifEncoded(quadrantImage(1280, 960), {.turn = 8}));
    QString preview = path;
    QString error;
    const PhotoBytes bytes = dataForFile(preview, false, &error);
    const QImage image = QImage::fromData(bytes.toByteArray());
    ASSERT_EQ(image.size(), QSize(750, 1000)) << error.toStdString();
    EXPECT_EQ(jpegLumaDc(bytes.toByteArray()), 16); // the preview's quality, as for JPEG
    // A quarter anticlockwise: the stored top-right (green) is at the top left.
    expectCorners(image, kTopRight, kBottomRight);

    // The thumbnail made at the drop hands its preview on; both are upright.
    const QString copy = file(QStringLiteral("dropped.heic"), readBytes(path));
    const PhotoInfo info = makeDroppedPhoto(copy, path);
    const QImage thumb = thumbImage(info);
    EXPECT_LT(thumb.width(), thumb.height());
    QString again = copy;
    EXPECT_EQ(QImage::fromData(dataForFile(again, false).toByteArray()).size(), QSize(750, 1000));
}

TEST_F(PhotoFormats, FullSizeGoesAsJpegWithDateAndLocationOnlyWhenAllowed) {
    const QImage source = quadrantImage(320, 240);
    const Meta meta {.description = QStringLiteral("  Harbour at dusk "),
        .gps = true,
        .dateTaken = QStringLiteral("2024:06:01 19:45:10")};
    const QString heic = file(QStringLiteral("dusk.heic"), heifEncoded(source, {.exif = exifBlock(meta)}));
    const QString webp = file(QStringLiteral("dusk.webp"), encoded(source, "webp", 95));
    ASSERT_TRUE(writeMeta(webp, meta));

    for (const QString &original : {heic, webp}) {
        SCOPED_TRACE(original.toStdString());
        // The caption comes from the photo's own description.
        EXPECT_EQ(makeDroppedPhoto(original, original).value(kPhotoCaption).toString(),
            QStringLiteral("Harbour at dusk"));

        Prefs::setBoolPref(false, QLatin1String(PrefKey::CameraGPSInfo));
        QString path = original;
        const QByteArray jpeg = dataForFile(path, true).toByteArray();
        EXPECT_EQ(path, original.left(original.lastIndexOf(QLatin1Char('.'))) + QStringLiteral(".jpg"));
        ASSERT_TRUE(jpeg.startsWith("\xFF\xD8"));
        EXPECT_EQ(jpegLumaDc(jpeg), 3); // quality 92
        const QImage sent = QImage::fromData(jpeg);
        ASSERT_EQ(sent.size(), source.size());
        EXPECT_LT(meanDifference(sent, source), 4.0);

        const auto kept = exifOf(jpeg);
        EXPECT_EQ(exifText(*kept, "Exif.Photo.DateTimeOriginal"), "2024:06:01 19:45:10");
        EXPECT_EQ(exifText(*kept, "Exif.Image.Orientation"), "1");
        EXPECT_EQ(exifText(*kept, "Exif.GPSInfo.GPSLatitude"), "");

        Prefs::setBoolPref(true, QLatin1String(PrefKey::CameraGPSInfo));
        QString located = original;
        const QVariantMap gps = ExtractMetaData(dataForFile(located, true).toByteArray())
                                    .value(QLatin1String(kMetaGPS))
                                    .toMap();
        EXPECT_NEAR(gps.value(QLatin1String(kGPSLatitude)).toDouble(), 48.8567, 1e-4);
        EXPECT_EQ(gps.value(QLatin1String(kGPSLongitudeRef)).toString(), QStringLiteral("E"));
        EXPECT_NEAR(gps.value(QLatin1String(kGPSAltitude)).toDouble(), 35.0, 1e-3);
    }
}

TEST_F(PhotoFormats, AFileOfSeveralImagesSharesItsPrimary) {
    // A burst: a red frame stored first, the primary one after it.
    QImage first(80, 60, QImage::Format_RGB32);
    first.fill(Qt::red);
    const QByteArray bytes = heifEncoded(quadrantImage(80, 60), {.before = first});
    const QImage image = ExtractImage(bytes);
    expectCorners(image, kTopLeft, kTopRight);
    EXPECT_TRUE(near(image.pixelColor(60, 45), kBottomRight));
}

TEST_F(PhotoFormats, DamagedAndOversizedHeifAreRefusedWithAReason) {
    const QByteArray whole = heifEncoded(quadrantImage(256, 192));
    // Cut in its picture data: the header still reads, the picture does not.
    const QString cut = file(QStringLiteral("cut.heic"), whole.left(whole.size() - whole.size() / 3));
    QString problem;
    EXPECT_FALSE(takeDroppedPhoto(cut, shareSet(), &problem));
    EXPECT_TRUE(problem.startsWith(cut + QStringLiteral(" is a damaged image"))) << problem.toStdString();

    // Taken in whole, then cut short before it is sent: no bytes, an error text instead.
    const QString original = file(QStringLiteral("breaks.heic"), whole);
    const std::optional<PhotoInfo> taken = takeDroppedPhoto(original, shareSet());
    ASSERT_TRUE(taken);
    const QString copy = taken->value(kPhotoUrl).toString();
    QFile(copy).resize(whole.size() / 2);
    for (const bool full : {false, true}) {
        QString path = copy;
        QString error;
        EXPECT_TRUE(dataForFile(path, full, &error).isNull());
        EXPECT_EQ(error, QStringLiteral("couldn't representationUsingType:NSJPEGFileType ") + copy);
    }

    // A header that claims more than 100 megapixels is refused before anything is decoded.
    QByteArray huge = whole;
    const qsizetype ispe = huge.indexOf("ispe");
    ASSERT_GT(ispe, 0);
    for (const int at : {8, 12})
        for (int i = 0; i < 4; ++i)
            huge[ispe + at + i] = "\x00\x00\x27\x11"[i]; // 10001 x 10001
    const QString big = file(QStringLiteral("huge.heic"), huge);
    EXPECT_EQ(photoFileProblem(big),
        big + QStringLiteral(" is too large to share: 10001 x 10001 pixels, more than 100 megapixels"));
    QString error;
    EXPECT_TRUE(decodeHeif(huge, &error).isNull());
    EXPECT_EQ(error, QStringLiteral("the image is 10001 x 10001 pixels, more than 100 megapixels"));
}
