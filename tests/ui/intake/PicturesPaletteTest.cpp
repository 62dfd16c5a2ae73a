#include "IntakeFixture.h"

#include "intake/PicturesPalette.h"
#include "intake/ThumbnailCache.h"

#include "foundation/FileRules.h"
#include "foundation/Prefs.h"
#include "shell/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QListView>
#include <QMouseEvent>
#include <QProcess>
#include <QSlider>
#include <QStandardPaths>

#include <sys/stat.h>

namespace lf::test {
namespace {

class PicturesPaletteTest : public DropViewTest {
protected:
    void SetUp() override {
        DropViewTest::SetUp();
        pictures = home.filePath(QStringLiteral("Pictures"));
        QDir().mkpath(pictures);
    }

    std::unique_ptr<PicturesPalette> openPalette() {
        auto palette = std::make_unique<PicturesPalette>(app->mainController()->mainWindow(), pictures);
        palette->open();
        EXPECT_TRUE(waitUntil([&] { return palette->loaded() && palette->thumbnailsLoaded(); }));
        return palette;
    }

    // A thumbnail as a file manager writes it: the file's URI and modification time in its text.
    static void writeCachedThumbnail(const QString &file, const QColor &colour, qint64 mtime) {
        QImage thumb(200, 150, QImage::Format_RGB32);
        thumb.fill(colour);
        thumb.setText(QStringLiteral("Thumb::URI"), QString::fromUtf8(ThumbnailCache::fileUri(file)));
        thumb.setText(QStringLiteral("Thumb::MTime"), QString::number(mtime));
        const QString path = ThumbnailCache::thumbnailPath(file, ThumbnailCache::Size::Large);
        ASSERT_TRUE(makePrivateFolder(QFileInfo(path).path()));
        ASSERT_TRUE(thumb.save(path, "png"));
    }

    static qint64 mtimeOf(const QString &file) { return QFileInfo(file).lastModified().toSecsSinceEpoch(); }

    QString pictures;
};

TEST_F(PicturesPaletteTest, AFileManagersThumbnailIsUsedAndAStaleOneReplaced) {
    const QString cached = writePhoto(QStringLiteral("Pictures/cached.jpg"));
    const QString stale = writePhoto(QStringLiteral("Pictures/holiday/stale.jpg"));
    writeCachedThumbnail(cached, Qt::magenta, mtimeOf(cached));
    writeCachedThumbnail(stale, Qt::magenta, mtimeOf(stale) - 60);

    const auto palette = openPalette();
    ASSERT_EQ(palette->photoCount(), 2);
    for (int row = 0; row < 2; ++row) {
        const QString path
            = palette->grid()->model()->index(row, 0).data(PhotoTileModel::kPathRole).toString();
        const QImage shown = palette->thumbnailAt(row);
        ASSERT_FALSE(shown.isNull());
        if (path == cached) {
            EXPECT_TRUE(near(shown.pixelColor(10, 10), Qt::magenta)) << "the cached one is not decoded again";
        } else {
            EXPECT_TRUE(near(shown.pixelColor(1, 1), kTopLeft)) << "a stale one is made again";
            const QString cachePath = ThumbnailCache::thumbnailPath(stale, ThumbnailCache::Size::Large);
            const QImage written(cachePath, "png");
            EXPECT_EQ(written.text(QStringLiteral("Thumb::MTime")), QString::number(mtimeOf(stale)));
            EXPECT_EQ(written.text(QStringLiteral("Thumb::URI")), QUrl::fromLocalFile(stale).toString());
            EXPECT_EQ(QFileInfo(cachePath).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
        }
    }
}

TEST_F(PicturesPaletteTest, ClickingATileAddsThePhotoAndClickingAgainTakesItOut) {
    const QString photo = writePhoto(QStringLiteral("Pictures/beach.jpg"), QStringLiteral("Beach"));
    writeBytes(home.filePath(QStringLiteral("Pictures/readme.txt")), "no photo");
    const auto palette = openPalette();
    ASSERT_EQ(palette->photoCount(), 1);

    palette->grid()->setFocus();
    palette->grid()->setCurrentIndex(palette->grid()->model()->index(0, 0));
    press(palette->grid(), Qt::Key_Return);
    ASSERT_TRUE(settle());
    ASSERT_EQ(task()->photoCount(), 1);
    EXPECT_EQ(caption(0), QStringLiteral("Beach")) << "the photo keeps its own caption";
    EXPECT_TRUE(task()->hasThisPhoto(photo));

    palette->activateRow(0);
    ASSERT_TRUE(settle());
    EXPECT_EQ(task()->photoCount(), 0);

    // A tile dragged out carries its file.
    const std::unique_ptr<QMimeData> mime(
        palette->grid()->model()->mimeData({palette->grid()->model()->index(0, 0)}));
    EXPECT_EQ(mime->urls(), QList<QUrl> {QUrl::fromLocalFile(photo)});
}

TEST_F(PicturesPaletteTest, TheSliderSizesTheCellsAndIsRemembered) {
    const auto palette = openPalette();
    palette->resize(300, 500);
    palette->sizeSlider()->setValue(0);
    const int smallest = palette->grid()->gridSize().width();
    palette->sizeSlider()->setValue(100);
    const int largest = palette->grid()->gridSize().width();
    EXPECT_GT(largest, 3 * smallest);
    EXPECT_DOUBLE_EQ(Prefs::floatPrefForKey(QLatin1String(PhotoGridPalette::kSliderPref), 0.5), 1.0);
}

TEST_F(PicturesPaletteTest, ThumbnailsAreWhereOtherProgramsLookForThem) {
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (gio.isEmpty())
        GTEST_SKIP() << "gio (libglib2.0-bin) is not installed";
    for (const QString name : {"IMG [1];x.jpg", "a b#c%d.jpg", "été ü!$&'()+,=@~.jpg", "q?<>\"{}|^`.jpg"}) {
        const QString photo = writePhoto(QStringLiteral("Pictures/") + name);
        ASSERT_FALSE(ThumbnailCache::thumbnail(photo, ThumbnailCache::Size::Large).isNull());
        QProcess info;
        info.start(
            gio, {QStringLiteral("info"), QStringLiteral("-a"), QStringLiteral("thumbnail::path"), photo});
        ASSERT_TRUE(info.waitForFinished(10000));
        const QString out = QString::fromUtf8(info.readAllStandardOutput());
        const QString expected = ThumbnailCache::thumbnailPath(photo, ThumbnailCache::Size::Large);
        EXPECT_TRUE(out.contains(QStringLiteral("thumbnail::path: ") + expected))
            << name.toStdString() << "\n"
            << out.toStdString();
    }
    // The folders tell which files the user has: theirs alone.
    for (const QString &folder : {ThumbnailCache::cacheFolder(), ThumbnailCache::cacheFolder() + "/large"}) {
        struct stat info { };
        ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u) << folder.toStdString();
    }
}

TEST_F(PicturesPaletteTest, ADoubleClickOnATileAddsThePhotoOnce) {
    writePhoto(QStringLiteral("Pictures/big.jpg"), std::nullopt, 2400);
    const auto palette = openPalette();
    ASSERT_EQ(palette->photoCount(), 1);
    const QRect tile = palette->grid()->visualRect(palette->grid()->model()->index(0, 0));
    QWidget *viewport = palette->grid()->viewport();
    const auto send = [&](QEvent::Type type) {
        const QPointF at = tile.center();
        QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton,
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    };
    // A double click, and a third click a little later while the photo is still on its way.
    for (const QEvent::Type type :
        {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
            QEvent::MouseButtonRelease, QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
        send(type);
    ASSERT_TRUE(settle());
    EXPECT_EQ(task()->photoCount(), 1);
}

} // namespace
} // namespace lf::test
