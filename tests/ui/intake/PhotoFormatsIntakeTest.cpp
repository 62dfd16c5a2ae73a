// Phone and web photo types (HEIC, WebP) in the window: dropped and picked like JPEGs.
#include "IntakeFixture.h"

#include "intake/PicturesPalette.h"
#include "shell/MainWindow.h"

#include <QDir>
#include <QListView>

namespace lf::test {
namespace {

class PhotoFormatsIntakeTest : public DropViewTest {
protected:
    void SetUp() override {
        DropViewTest::SetUp();
        QDir().mkpath(home.filePath(QStringLiteral("Pictures")));
        // Stored lying down, turned upright by the file itself.
        heic = home.filePath(QStringLiteral("Pictures/IMG_0001.HEIC"));
        ASSERT_TRUE(writeBytes(heic, heifEncoded(quadrantImage(96, 64), {.turn = 6})));
        webp = home.filePath(QStringLiteral("Pictures/banner.webp"));
        ASSERT_TRUE(writeBytes(webp, encoded(quadrantImage(96, 64), "webp", 90)));
    }

    QString heic;
    QString webp;
};

// A quarter turn clockwise puts the stored top-left (red) at the top right.
void expectTurned(const QImage &image) {
    ASSERT_FALSE(image.isNull());
    EXPECT_LT(image.width(), image.height());
    EXPECT_TRUE(near(image.pixelColor(image.width() * 3 / 4 - 4, image.height() / 4), kTopLeft));
}

TEST_F(PhotoFormatsIntakeTest, DroppedWebpAndHeicAreTakenWithUprightThumbnails) {
    const auto mime = filesMime({webp, heic});
    ASSERT_TRUE(drag(*mime, false));
    ASSERT_TRUE(waitUntil([this] { return view->dragCountKnown(); }));
    EXPECT_EQ(view->emptyHintText(), QStringLiteral("Drop to add 2 photos"));
    ASSERT_TRUE(drag(*mime));
    ASSERT_TRUE(settle());
    ASSERT_EQ(task()->photoCount(), 2);
    EXPECT_EQ(view->pageLabelText(), QStringLiteral("2 of 2"));
    const QImage flat = thumbImage(task()->photoInfo(0));
    EXPECT_GT(flat.width(), flat.height());
    expectTurned(thumbImage(task()->photoInfo(1)));
    EXPECT_TRUE(
        task()->photoInfo(1).value(QLatin1String(kPhotoUrl)).toString().endsWith(QLatin1String(".HEIC")));
}

TEST_F(PhotoFormatsIntakeTest, PicturesPaletteListsThemWithUprightThumbnails) {
    auto palette = std::make_unique<PicturesPalette>(
        app->mainController()->mainWindow(), home.filePath(QStringLiteral("Pictures")));
    palette->open();
    ASSERT_TRUE(waitUntil([&] { return palette->loaded() && palette->thumbnailsLoaded(); }));
    ASSERT_EQ(palette->photoCount(), 2);
    for (int row = 0; row < 2; ++row) {
        const QString path
            = palette->grid()->model()->index(row, 0).data(PhotoTileModel::kPathRole).toString();
        if (path == heic)
            expectTurned(palette->thumbnailAt(row));
        else
            EXPECT_FALSE(palette->thumbnailAt(row).isNull());
    }
}

} // namespace
} // namespace lf::test
