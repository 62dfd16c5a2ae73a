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
