#include "support/TestImages.h"

#include "share/ImageMetaData.h"
#include "share/PhotoPrep.h"
#include "support/TempHome.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QImageReader>

#include <exiv2/exiv2.hpp>

using namespace lf;
using namespace lf::test;

namespace {

class PhotoPrep : public TempHomeTest {
protected:
    QString file(const QString &name, const QByteArray &bytes) {
        const QString path = home.filePath(name);
        EXPECT_TRUE(writeBytes(path, bytes)) << path.toStdString();
        return path;
    }
    QString jpeg(const QString &name, int w, int h, const Meta &meta = {}) {
        const QString path = file(name, encoded(quadrantImage(w, h), "jpeg"));
        EXPECT_TRUE(writeMeta(path, meta));
        return path;
    }
};

QImage decode(const PhotoBytes &bytes) {
    return QImage::fromData(bytes.rawData());
}

} // namespace

TEST_F(PhotoPrep, ExtensionTablesAndSupportedFiles) {
    EXPECT_TRUE(supportedFile(QStringLiteral("/nowhere/a.JPG")));
    EXPECT_TRUE(supportedFile(QStringLiteral("/nowhere/a.tiff")));
    EXPECT_FALSE(supportedFile(QStringLiteral("/nowhere/a.ico")));
    EXPECT_FALSE(supportedFile(QString()));
    // Not a photo extension: accepted only when a decoder opens the content.
    EXPECT_TRUE(supportedFile(file(QStringLiteral("icon.ico"), encoded(quadrantImage(16, 16), "ico"))));
    EXPECT_TRUE(supportedFile(file(QStringLiteral("noextension"), encoded(quadrantImage(8, 8), "png"))));
    EXPECT_FALSE(supportedFile(file(QStringLiteral("drawing.wmf"), "not a picture at all")));
    EXPECT_FALSE(supportedFile(file(QStringLiteral("notes.txt"), "hello")));

    EXPECT_TRUE(isUploadAsIsExtension(QStringLiteral("WMF")));
    EXPECT_TRUE(isUploadAsIsExtension(QStringLiteral("ico")));
    EXPECT_FALSE(isPhotoExtension(QStringLiteral("ico")));
    EXPECT_FALSE(isUploadAsIsExtension(QStringLiteral("webp")));
}

TEST_F(PhotoPrep, FullJpegIsTheFileItselfAndPreviewIsSmallJpeg) {
    const QString original = jpeg(QStringLiteral("big.jpeg"), 3000, 2000);

    QString path = original;
    QString error;
    const PhotoBytes full = dataForFile(path, true, &error);
    EXPECT_TRUE(full.isMapped());
    EXPECT_EQ(full.toByteArray(), readBytes(original));
    EXPECT_EQ(path, original);

    const PhotoBytes preview = dataForFile(path, false, &error);
    ASSERT_FALSE(preview.isNull());
    EXPECT_EQ(decode(preview).size(), QSize(1000, 667));
    EXPECT_EQ(jpegLumaDc(preview.toByteArray()), 16); // quality 50
    EXPECT_EQ(path, home.filePath(QStringLiteral("big.jpg")));
    EXPECT_TRUE(error.isEmpty());
}

TEST_F(PhotoPrep, UpperCaseExtensionCountsAsLowerCase) {
    const QString original = jpeg(QStringLiteral("CAMERA.JPG"), 60, 40);
    QString path = original;
    const PhotoBytes full = dataForFile(path, true);
    EXPECT_EQ(full.toByteArray(), readBytes(original));
    EXPECT_EQ(path, original);
}

TEST_F(PhotoPrep, SmallPngPreviewKeepsItsSizeAndBecomesJpeg) {
    const QString original = file(QStringLiteral("shot.png"), encoded(quadrantImage(900, 600), "png"));
    QString path = original;
    const PhotoBytes preview = dataForFile(path, false);
    ASSERT_FALSE(preview.isNull());
    const QImage image = decode(preview);
    EXPECT_EQ(image.size(), QSize(900, 600));
    EXPECT_EQ(jpegLumaDc(preview.toByteArray()), 16);
    EXPECT_TRUE(near(image.pixelColor(200, 150), kTopLeft));
    EXPECT_EQ(path, home.filePath(QStringLiteral("shot.jpg")));
}

TEST_F(PhotoPrep, FullUploadOfAnotherTypeIsReencodedAtFullQuality) {
    const QString original = file(QStringLiteral("photo.raw"), encoded(quadrantImage(1200, 800), "png"));
    QString path = original;
    const PhotoBytes full = dataForFile(path, true);
    ASSERT_FALSE(full.isNull());
    EXPECT_FALSE(full.isMapped());
    EXPECT_EQ(decode(full).size(), QSize(1200, 800));
    EXPECT_EQ(jpegLumaDc(full.toByteArray()), 2); // quality 95
    EXPECT_EQ(path, home.filePath(QStringLiteral("photo.jpg")));
}

TEST_F(PhotoPrep, UnreadableFilesGiveTheErrorText) {
    QString missing = home.filePath(QStringLiteral("gone.jpg"));
    QString error;
    EXPECT_TRUE(dataForFile(missing, true, &error).isNull());
    EXPECT_EQ(error,
        QStringLiteral("exists = 0 couldn't load original ") + home.filePath(QStringLiteral("gone.jpg")));

    QString folder = home.filePath(QStringLiteral("folder.jpg"));
    QDir().mkpath(folder);
    EXPECT_TRUE(dataForFile(folder, false, &error).isNull());
    EXPECT_EQ(error, QStringLiteral("exists = 1 couldn't load original ") + folder);

    QString empty = file(QStringLiteral("empty.png"), QByteArray());
    EXPECT_TRUE(dataForFile(empty, true, &error).isNull());
    EXPECT_TRUE(error.startsWith(QStringLiteral("exists = 1 ")));
}

TEST_F(PhotoPrep, TruncatedAndGarbageFilesOfEveryTypeDecodeToNothing) {
    const QImage picture = quadrantImage(300, 200);
    for (const char *format : {"jpeg", "png", "gif", "bmp", "tiff"}) {
        const QByteArray whole = encoded(picture, format);
        ASSERT_FALSE(whole.isEmpty()) << format;
        const QByteArray cases[] = {whole.left(whole.size() * 6 / 10), QByteArray(4096, '\x5a')};
        for (const QByteArray &bytes : cases) {
            SCOPED_TRACE(format);
            const QString name = QStringLiteral("bad.%1").arg(QLatin1String(format));
            QString path = file(name, bytes);
            const QString asWritten = path;
            QString error;
            EXPECT_TRUE(dataForFile(path, false, &error).isNull());
            EXPECT_EQ(error, QStringLiteral("couldn't representationUsingType:NSJPEGFileType ") + asWritten);
            EXPECT_TRUE(ExtractImage(bytes).isNull());
            EXPECT_TRUE(ExtractThumbnail(bytes, kDropThumbnailSize, true, kDropThumbnailStroke).isNull());
        }
    }
    EXPECT_TRUE(ExtractMetaData(QByteArray(4096, '\x5a')).isEmpty());
    EXPECT_TRUE(ExtractBestCaption(QByteArray()).isNull());
}

TEST_F(PhotoPrep, AFileSentAsItIsMustBeAWholeImageOfItsType) {
    const QImage picture = quadrantImage(300, 200);
    for (const char *format : {"jpeg", "png", "gif", "bmp", "tiff"}) {
        SCOPED_TRACE(format);
        const QByteArray whole = encoded(picture, format);
        QString path = file(QStringLiteral("whole.%1").arg(QLatin1String(format)), whole);
        EXPECT_EQ(dataForFile(path, true).toByteArray(), whole);
        // TIFF has no end marker to look for: only its signature is checked.
        if (QLatin1String(format) == QLatin1String("tiff"))
            continue;
        QString cut
            = file(QStringLiteral("cut.%1").arg(QLatin1String(format)), whole.left(whole.size() * 6 / 10));
        const QString asWritten = cut;
        QString error;
        EXPECT_TRUE(dataForFile(cut, true, &error).isNull());
        EXPECT_EQ(error, QStringLiteral("incomplete image ") + asWritten);
    }
    for (const char *name : {"text.jpg", "text.png", "text.gif", "text.bmp", "text.tif"}) {
        QString path = file(QLatin1String(name), QByteArray("not an image at all, just words"));
        EXPECT_TRUE(dataForFile(path, true).isNull()) << name;
    }
}

TEST_F(PhotoPrep, CaptionComesFromTheFirstNonBlankSource) {
    const auto caption = [&](const Meta &meta) {
        return ExtractBestCaption(readBytes(jpeg(QStringLiteral("c.jpg"), 16, 16, meta)));
    };
    EXPECT_EQ(caption({.caption = QStringLiteral(" \tBeach day\t "),
                  .objectName = QStringLiteral("obj"),
                  .description = QStringLiteral("desc")}),
        QStringLiteral("Beach day"));
    // A caption of spaces does not count: the TIFF description is next.
    EXPECT_EQ(caption({.caption = QStringLiteral("    "),
                  .objectName = QStringLiteral("obj"),
                  .description = QStringLiteral("  Sunset ")}),
        QStringLiteral("Sunset"));
    EXPECT_EQ(caption({.caption = QStringLiteral(" "), .objectName = QStringLiteral(" Zürich ")}),
        QStringLiteral("Zürich"));
    EXPECT_TRUE(caption({.caption = QStringLiteral("\t")}).isNull());

    // A value of the wrong type is skipped, not taken.
    const QVariantMap odd {
        {QLatin1String(kMetaIPTC), QVariantMap {{QLatin1String(kMetaCaptionAbstract), 42}}},
        {QLatin1String(kMetaTIFF),
            QVariantMap {{QLatin1String(kMetaImageDescription), QStringLiteral("ok")}}}};
    EXPECT_EQ(ExtractBestCaption(odd), QStringLiteral("ok"));
}

TEST_F(PhotoPrep, MetadataHasStoredSizeOrientationAndGps) {
    const QString path = jpeg(QStringLiteral("m.jpg"), 64, 48, {.orientation = 6, .gps = true});
    const QVariantMap meta = ExtractMetaData(readBytes(path));
    EXPECT_EQ(meta.value(QLatin1String(kMetaPixelWidth)).toInt(), 64);
    EXPECT_EQ(meta.value(QLatin1String(kMetaPixelHeight)).toInt(), 48);
    EXPECT_EQ(orientationOf(meta), 6);
    const QVariantMap gps = meta.value(QLatin1String(kMetaGPS)).toMap();
    EXPECT_NEAR(gps.value(QLatin1String(kGPSLatitude)).toDouble(), 48.8567, 1e-4);
    EXPECT_EQ(gps.value(QLatin1String(kGPSLatitudeRef)).toString(), QStringLiteral("N"));
    EXPECT_NEAR(gps.value(QLatin1String(kGPSLongitude)).toDouble(), 2.352, 1e-4);
    EXPECT_DOUBLE_EQ(gps.value(QLatin1String(kGPSAltitude)).toDouble(), 35.0);

    // A PNG without metadata still reports its size.
    const QVariantMap png = ExtractMetaData(encoded(quadrantImage(30, 20), "png"));
    EXPECT_EQ(png.value(QLatin1String(kMetaPixelWidth)).toInt(), 30);
    EXPECT_FALSE(png.contains(QLatin1String(kMetaGPS)));
}

TEST_F(PhotoPrep, EveryOrientationDecodesUprightAndReportsTheStoredSize) {
    struct Case {
        int orientation;
        QColor topLeft, topRight;
        bool turned;
    };
    const Case cases[] = {
        {1, kTopLeft, kTopRight, false},
        {2, kTopRight, kTopLeft, false},
        {3, kBottomRight, kBottomLeft, false},
        {4, kBottomLeft, kBottomRight, false},
        {5, kTopLeft, kBottomLeft, true},
        {6, kBottomLeft, kTopLeft, true},
        {7, kBottomRight, kTopRight, true},
        {8, kTopRight, kBottomRight, true},
        // Out of range: shown as stored.
        {0, kTopLeft, kTopRight, false},
        {9, kTopLeft, kTopRight, false},
        {65535, kTopLeft, kTopRight, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.orientation);
        const QString path = jpeg(QStringLiteral("o.jpg"), 80, 60, {.orientation = c.orientation});
        QSize stored;
        const QImage image = ExtractImage(readBytes(path), &stored);
        EXPECT_EQ(stored, QSize(80, 60));
        ASSERT_EQ(image.size(), c.turned ? QSize(60, 80) : QSize(80, 60));
        const int w = image.width();
        const int h = image.height();
        EXPECT_TRUE(near(image.pixelColor(w / 4, h / 4), c.topLeft));
        EXPECT_TRUE(near(image.pixelColor(3 * w / 4, h / 4), c.topRight));
    }
}

TEST_F(PhotoPrep, TurnedPhotoPreviewIsUprightAndShrunkOnLoad) {
    // Stored 4000 x 3000 in shape, orientation 6: the upright preview is 750 x 1000.
    QString path = jpeg(QStringLiteral("portrait.jpg"), 2000, 1500, {.orientation = 6});
    const QImage preview = decode(dataForFile(path, false));
    ASSERT_EQ(preview.size(), QSize(750, 1000));
    EXPECT_TRUE(near(preview.pixelColor(560, 250), kTopLeft));

    // A cover size decodes at the smallest DCT scale that still covers it, not the whole photo.
    QSize stored;
    const QByteArray bytes = readBytes(jpeg(QStringLiteral("wide.jpg"), 3000, 2000));
    EXPECT_EQ(ExtractImage(bytes, &stored, nullptr, QSize(296, 197)).size(), QSize(375, 250));
    EXPECT_EQ(ExtractImage(bytes, nullptr, nullptr, QSize(1000, 667)).size(), QSize(1500, 1000));
    EXPECT_EQ(stored, QSize(3000, 2000));
}

TEST_F(PhotoPrep, ThumbnailFitsOnAWhiteMargin) {
    const QImage source = quadrantImage(300, 200);
    const QImage thumb = thumbnail(source, kDropThumbnailSize, true, kDropThumbnailStroke);
    // 300 x 200 fitted into 296 x 216 is 296 x 197; the margin adds 12 on every side.
    ASSERT_EQ(thumb.size(), QSize(320, 221));
    EXPECT_EQ(thumb.pixelColor(5, 5), QColor(Qt::white));
    EXPECT_EQ(thumb.pixelColor(319, 220), QColor(Qt::white));
    EXPECT_TRUE(near(thumb.pixelColor(20, 20), kTopLeft));
    EXPECT_TRUE(near(thumb.pixelColor(300, 200), kBottomRight));

    // Smaller images are enlarged to fit; no stroke and no trim gives just the fitted image.
    EXPECT_EQ(thumbnail(quadrantImage(30, 20), QSize(300, 300)).size(), QSize(300, 200));
    // The trim line whitens the outer edge even without a margin.
    const QImage trimmed = thumbnail(source, QSize(150, 100), true, 0);
    ASSERT_EQ(trimmed.size(), QSize(150, 100));
    EXPECT_EQ(trimmed.pixelColor(0, 50), QColor(Qt::white));
    EXPECT_TRUE(near(trimmed.pixelColor(1, 1), kTopLeft));
    EXPECT_TRUE(thumbnail(source, QSize(20, 20), false, 10).isNull());

    // From file bytes, shrunk on load, the same box gives the same canvas.
    const QImage fromFile = ExtractThumbnail(
        encoded(quadrantImage(3000, 2000), "jpeg"), kDropThumbnailSize, true, kDropThumbnailStroke);
    EXPECT_EQ(fromFile.size(), QSize(320, 221));
}

TEST_F(PhotoPrep, JpegOutputCarriesNoMetadata) {
    QImage image = quadrantImage(64, 48);
    image.setText(QStringLiteral("Description"), QStringLiteral("private words"));
    const QVariantMap gps {
        {QLatin1String(kGPSLatitude), 48.85}, {QLatin1String(kGPSLatitudeRef), QStringLiteral("N")}};
    const QByteArray jpeg = jpgDataForImage(image, gps);
    ASSERT_FALSE(jpeg.isEmpty());
    EXPECT_FALSE(jpeg.contains("private words"));
    EXPECT_EQ(jpegLumaDc(jpeg), 2);

    auto parsed = Exiv2::ImageFactory::open(
        reinterpret_cast<const Exiv2::byte *>(jpeg.constData()), long(jpeg.size()));
    parsed->readMetadata();
    EXPECT_TRUE(parsed->exifData().empty());
    EXPECT_TRUE(parsed->iptcData().empty());
    EXPECT_TRUE(parsed->xmpData().empty());
    EXPECT_TRUE(parsed->comment().empty());

    // Transparent parts turn white, not black.
    QImage clear(10, 10, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    EXPECT_TRUE(near(QImage::fromData(jpgDataForImage(clear)).pixelColor(5, 5), Qt::white));
}

TEST_F(PhotoPrep, WritesJpegFilesInsideNewFolders) {
    const QString path = home.filePath(QStringLiteral("a/b/c.jpg"));
    QString error;
    ASSERT_TRUE(writeJpegFile(quadrantImage(20, 10), path, {}, &error)) << error.toStdString();
    EXPECT_EQ(QImage(path).size(), QSize(20, 10));
    EXPECT_FALSE(writeJpegFile(QImage(), home.filePath(QStringLiteral("d.jpg")), {}, &error));
}

TEST(PhotoPrepCompare, ByDateAscendingWithUndatedFirst) {
    const QDateTime t(QDate(2020, 5, 1), QTime(10, 0), Qt::UTC);
    const QVariantMap early {{QLatin1String(kDateKey), t}};
    const QVariantMap late {{QLatin1String(kDateKey), t.addSecs(1)}};
    const QVariantMap undated;
    EXPECT_EQ(CompareByDate(early, late), -1);
    EXPECT_EQ(CompareByDate(late, early), 1);
    EXPECT_EQ(CompareByDate(early, early), 0);
    EXPECT_EQ(CompareByDate(undated, early), -1);
    EXPECT_EQ(CompareByDate(
                  QVariantMap {{QLatin1String(kDateKey), 5.0}}, QVariantMap {{QLatin1String(kDateKey), 3}}),
        1);
}
