// Dropped files: where their copies go, and the photo records made of them.
#include "share/PhotoIntake.h"

#include "foundation/FileRules.h"
#include "share/PhotoPrep.h"
#include "support/TempHome.h"
#include "support/TestImages.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

using namespace lf;
using namespace lf::test;

namespace {

class PhotoIntakeTest : public TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        folder = home.filePath("cache/set.shareset");
        QDir().mkpath(folder);
    }
    QString write(const QString &relative, const QByteArray &bytes) {
        const QString path = home.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        EXPECT_TRUE(writeBytes(path, bytes));
        return path;
    }
    QString folder;
};

} // namespace

TEST_F(PhotoIntakeTest, CopiesKeepTheSourceFoldersBelowTheFirstAndNeverLeaveTheShareSet) {
    EXPECT_EQ(dropDestination("/Users/ann/Pictures/a.jpg", folder), folder + "/ann/Pictures/a.jpg");
    // A file in a top-level folder or at the root lands in the share-set folder itself.
    EXPECT_EQ(dropDestination("/tmp/a.jpg", folder), folder + "/a.jpg");
    EXPECT_EQ(dropDestination("/a.jpg", folder), folder + "/a.jpg");
    for (const QString hostile : {"../../../../etc/x.jpg", "/a/../../../../b.jpg", "x/../../../../y.jpg"}) {
        const QString destination = dropDestination(hostile, folder);
        EXPECT_TRUE(isInsideFolder(destination, folder))
            << hostile.toStdString() << " -> " << destination.toStdString();
    }

    // The same name from the same folder twice: the second copy gets a random prefix beside it.
    const QString source = write("Pictures/trip/beach.jpg", encoded(quadrantImage(40, 30), "jpeg"));
    const QString first = copyDroppedFile(source, folder);
    const QString second = copyDroppedFile(source, folder);
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(second.isEmpty());
    EXPECT_NE(first, second);
    EXPECT_EQ(QFileInfo(first).path(), QFileInfo(second).path());
    EXPECT_TRUE(QFileInfo(second).fileName().endsWith("_beach.jpg"));
    EXPECT_TRUE(isInsideFolder(first, folder));
    EXPECT_EQ(readBytes(second), readBytes(source));

    QString error;
    EXPECT_TRUE(copyDroppedFile(home.filePath("gone.jpg"), folder, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    QDirIterator left(folder, {"gone.jpg"}, QDir::Files, QDirIterator::Subdirectories);
    EXPECT_FALSE(left.hasNext());
}

TEST_F(PhotoIntakeTest, PhotoRecordsTakeTheGivenCaptionOrTheirOwnUnlessCameraMade) {
    const QString captioned = write("a.jpg", encoded(quadrantImage(2000, 1500), "jpeg"));
    ASSERT_TRUE(writeMeta(captioned, Meta {.caption = QString("Lanterns over the harbour")}));
    const QString camera = write("b.jpg", encoded(quadrantImage(60, 40), "jpeg"));
    ASSERT_TRUE(writeMeta(camera, Meta {.description = QString("OLYMPUS DIGITAL CAMERA")}));
    const QString broken = write("c.jpg", "not a jpeg at all");

    const PhotoInfo own = makeDroppedPhoto(captioned, "/orig/a.jpg");
    EXPECT_EQ(own.value(kPhotoUrl).toString(), captioned);
    EXPECT_EQ(own.value(kPhotoOpath).toString(), "/orig/a.jpg");
    EXPECT_EQ(own.value(kPhotoCaption).toString(), "Lanterns over the harbour");
    const QImage thumb = thumbImage(own);
    ASSERT_FALSE(thumb.isNull());
    EXPECT_LE(thumb.width(), kDropThumbnailSize.width());
    EXPECT_LE(thumb.height(), kDropThumbnailSize.height());

    EXPECT_EQ(
        makeDroppedPhoto(captioned, captioned, QString("Mine")).value(kPhotoCaption).toString(), "Mine");
    EXPECT_FALSE(makeDroppedPhoto(camera, camera).contains(kPhotoCaption));
    EXPECT_EQ(captionBlackListFilter("Sunset"), std::optional<QString>("Sunset"));

    const PhotoInfo unreadable = makeDroppedPhoto(broken, broken);
    EXPECT_TRUE(thumbImage(unreadable).isNull());
    EXPECT_FALSE(unreadable.contains(kPhotoCaption));
}

TEST_F(PhotoIntakeTest, OnlyDecodableImagesOfTheTypeTheirNameSaysAreTaken) {
    const QImage picture = quadrantImage(300, 200);
    for (const char *format : {"jpeg", "png", "gif", "bmp", "tiff"}) {
        const QString good
            = write(QStringLiteral("good.%1").arg(QLatin1String(format)), encoded(picture, format));
        EXPECT_EQ(photoFileProblem(good), QString()) << format;
    }
    const QByteArray jpeg = encoded(picture, "jpeg");
    struct Case {
        QString path;
        const char *says;
    };
    const Case refused[] = {
        {write("fake.jpg", "just some text, not a photo\n"), "fake.jpg is not a JPEG image"},
        {write("really-png.jpg", encoded(picture, "png")),
            "really-png.jpg is not a JPEG image (it holds a PNG"},
        {write("empty.png", QByteArray()), "empty.png is not a PNG image"},
        {write("vector.wmf", QByteArray(64, '\x01')), "vector.wmf is not a WMF image"},
    };
    for (const Case &c : refused) {
        const QString problem = photoFileProblem(c.path);
        EXPECT_TRUE(problem.contains(QLatin1String(c.says))) << problem.toStdString();
        QString why;
        EXPECT_FALSE(takeDroppedPhoto(c.path, folder, &why));
        EXPECT_EQ(why, problem);
    }

    // A JPEG cut short has a good header: taking it decodes it, refuses it and leaves no copy.
    const QString cut = write("cut.jpg", jpeg.left(jpeg.size() / 2));
    EXPECT_EQ(photoFileProblem(cut), QString());
    QString why;
    EXPECT_FALSE(takeDroppedPhoto(cut, folder, &why));
    EXPECT_TRUE(why.contains(QLatin1String("cut.jpg is a damaged image"))) << why.toStdString();
    QDirIterator left(folder, QDir::Files, QDirIterator::Subdirectories);
    EXPECT_FALSE(left.hasNext()) << left.next().toStdString();

    const QString whole = write("Pictures/whole.jpg", jpeg);
    const std::optional<PhotoInfo> taken = takeDroppedPhoto(whole, folder, &why);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->value(kPhotoOpath).toString(), whole);
    EXPECT_EQ(readBytes(taken->value(kPhotoUrl).toString()), jpeg);
    EXPECT_TRUE(isInsideFolder(taken->value(kPhotoUrl).toString(), folder));
    EXPECT_FALSE(thumbImage(*taken).isNull());
}

TEST_F(PhotoIntakeTest, ADroppedPhotosPreviewComesFromItsOneDecodeButNeverFromAnOlderFile) {
    // Large enough to be sent at screen size (the padding follows the end-of-image marker), and
    // turned by its EXIF orientation.
    const QString source = write("Pictures/big.jpg", encoded(quadrantImage(2400, 1800), "jpeg"));
    ASSERT_TRUE(writeMeta(source, Meta {.orientation = 6}));
    const QByteArray padding(int(kLargePhotoBytes), '\0');
    ASSERT_TRUE(writeBytes(source, readBytes(source) + padding));
    const std::optional<PhotoInfo> taken = takeDroppedPhoto(source, folder);
    ASSERT_TRUE(taken);
    const QString copy = taken->value(kPhotoUrl).toString();

    // The preview made at the drop is the one a fresh decode makes.
    QString path = copy;
    const QByteArray prepared = dataForFile(path, false).toByteArray();
    EXPECT_EQ(path, copy);
    path = copy;
    EXPECT_EQ(dataForFile(path, false).toByteArray(), prepared);
    const QImage preview = QImage::fromData(prepared);
    EXPECT_EQ(preview.size(), QSize(750, 1000));
    EXPECT_TRUE(near(preview.pixelColor(5, 5), kBottomLeft));

    // Replaced after the drop: the new picture goes. Gone: no bytes at all.
    makeDroppedPhoto(copy, source);
    QImage white(1800, 2400, QImage::Format_RGB32);
    white.fill(Qt::white);
    ASSERT_TRUE(writeBytes(copy, encoded(white, "jpeg") + padding));
    path = copy;
    const QImage replaced = QImage::fromData(dataForFile(path, false).toByteArray());
    EXPECT_EQ(replaced.size(), QSize(750, 1000));
    EXPECT_TRUE(near(replaced.pixelColor(5, 5), Qt::white));
    makeDroppedPhoto(copy, source);
    ASSERT_TRUE(QFile::remove(copy));
    path = copy;
    QString error;
    EXPECT_TRUE(dataForFile(path, false, &error).isNull());
    EXPECT_TRUE(error.contains(QLatin1String("couldn't load"))) << error.toStdString();
}

TEST_F(PhotoIntakeTest, SeveralPhotosAreTakenInTheirOrderAllOrNothing) {
    QStringList sources;
    for (int i = 0; i < 6; ++i) {
        sources.append(write(
            QStringLiteral("Pictures/p%1.jpg").arg(i), encoded(quadrantImage(200 + 10 * i, 150), "jpeg")));
    }
    sources.append(sources.first()); // the same file twice makes two copies
    QString problem;
    const std::optional<QList<PhotoInfo>> taken = takeDroppedPhotos(sources, folder, &problem);
    ASSERT_TRUE(taken) << problem.toStdString();
    ASSERT_EQ(taken->size(), sources.size());
    for (qsizetype i = 0; i < sources.size(); ++i) {
        const PhotoInfo &info = taken->at(i);
        EXPECT_EQ(info.value(kPhotoOpath).toString(), sources.at(i));
        EXPECT_EQ(readBytes(info.value(kPhotoUrl).toString()), readBytes(sources.at(i)));
        EXPECT_FALSE(thumbImage(info).isNull());
        // Written beside the copies when taken, so a large drop holds no pictures in memory.
        const QFileInfo thumb(info.value(kPhotoThumb).value<PhotoThumb>().filePath());
        EXPECT_EQ(thumb.absolutePath(), QDir(folder).absolutePath());
    }
    EXPECT_NE(taken->first().value(kPhotoUrl), taken->last().value(kPhotoUrl));

    // A photo that does not decode and, later, a file that is no photo: nothing stays, and the
    // problem named is the first one in order.
    const QByteArray jpeg = encoded(quadrantImage(300, 200), "jpeg");
    const QString cut = write("Pictures/cut.jpg", jpeg.left(jpeg.size() / 2));
    const QString fake = write("Pictures/fake.jpg", "just text");
    const QString other = home.filePath("cache/other.shareset");
    QDir().mkpath(other);
    EXPECT_FALSE(takeDroppedPhotos({sources.at(0), cut, sources.at(1), fake}, other, &problem));
    EXPECT_TRUE(problem.contains(QLatin1String("cut.jpg is a damaged image"))) << problem.toStdString();
    QDirIterator left(other, QDir::Files, QDirIterator::Subdirectories);
    EXPECT_FALSE(left.hasNext()) << left.next().toStdString();
}

TEST_F(PhotoIntakeTest, OnlyRegularFilesOfAReadableSizeAreTaken) {
    // A FIFO named as a photo is refused without being opened for reading, which would block.
    const QString pipe = home.filePath("pipe.jpg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    EXPECT_TRUE(photoFileProblem(pipe).contains(QLatin1String("not a regular file")));
    EXPECT_FALSE(isPhotoCandidate(pipe));
    EXPECT_FALSE(takeDroppedPhoto(pipe, folder));
    QString error;
    EXPECT_FALSE(copyFileContents(pipe, folder + "/copy.jpg", &error));

    // A header claiming 110 megapixels is too large, not damaged.
    QByteArray png = encoded(quadrantImage(4, 4), "png");
    const auto put32 = [&png](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            png[at + i] = char(v >> (24 - 8 * i));
    };
    put32(16, 11000);
    put32(20, 10000);
    quint32 crc = 0xFFFFFFFF; // the header chunk's CRC-32, over its type and data
    for (int i = 12; i < 29; ++i) {
        crc ^= quint8(png[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    put32(29, ~crc);
    const QString huge = write("huge.png", png);
    EXPECT_TRUE(photoFileProblem(huge).contains(QLatin1String("too large")))
        << photoFileProblem(huge).toStdString();
}

TEST_F(PhotoIntakeTest, AMovedPhotoTakesItsThumbnailAlongAndKeepsItsPlace) {
    const QString source = write("Pictures/trip/beach.jpg", encoded(quadrantImage(400, 300), "jpeg"));
    std::optional<PhotoInfo> taken = takeDroppedPhoto(source, folder);
    ASSERT_TRUE(taken);
    const QString other = home.filePath("cache/next.shareset");
    QDir().mkpath(other);
    PhotoInfo moved = *taken;
    ASSERT_TRUE(moveDroppedPhoto(moved, folder, other, source));
    const QString file = moved.value(kPhotoUrl).toString();
    EXPECT_EQ(QDir(other).relativeFilePath(file),
        QDir(folder).relativeFilePath(taken->value(kPhotoUrl).toString()));
    EXPECT_EQ(readBytes(file), readBytes(source));
    EXPECT_EQ(QFileInfo(moved.value(kPhotoThumb).value<PhotoThumb>().filePath()).absolutePath(),
        QDir(other).absolutePath());
    EXPECT_FALSE(thumbImage(moved).isNull());
    EXPECT_EQ(moved.value(kPhotoOpath).toString(), source);
    QDirIterator left(folder, QDir::Files, QDirIterator::Subdirectories);
    EXPECT_FALSE(left.hasNext()) << left.next().toStdString();

    // The folder it came from went away with a share already sent: copied again from the source.
    QDir(other).removeRecursively();
    QDir().mkpath(other);
    const QString last = home.filePath("cache/last.shareset");
    QDir().mkpath(last);
    ASSERT_TRUE(moveDroppedPhoto(moved, other, last, source));
    EXPECT_EQ(readBytes(moved.value(kPhotoUrl).toString()), readBytes(source));
    EXPECT_FALSE(thumbImage(moved).isNull());
}
