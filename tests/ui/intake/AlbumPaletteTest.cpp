#include "IntakeFixture.h"

#include "intake/AlbumPalette.h"
#include "intake/PicturesPalette.h"

#include "foundation/NotificationCenter.h"
#include "foundation/PropertyList.h"
#include "shell/MacClientAppDelegate.h"
#include "shell/MainWindow.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>

#include <cmath>

namespace lf::test {
namespace {

// A library of three photos: "Paris" holds the café and the cake, the roll "Summer" the beach.
class AlbumPaletteTest : public DropViewTest {
protected:
    void SetUp() override {
        DropViewTest::SetUp();
        library = home.filePath(QStringLiteral("Pictures/iPhoto Library"));
        cafe = writePhoto(QStringLiteral("Pictures/iPhoto Library/Masters/cafe.jpg"));
        beach = writePhoto(QStringLiteral("Pictures/iPhoto Library/Masters/beach.jpg"));
        cake = writePhoto(QStringLiteral("Pictures/iPhoto Library/Masters/cake.jpg"));
        // The library's own thumbnail of the café, told apart by its colour.
        QImage thumb(40, 30, QImage::Format_RGB32);
        thumb.fill(Qt::magenta);
        ASSERT_TRUE(thumb.save(cafe + QStringLiteral(".thumb.png"), "png"));
        writeLibrary({album(QStringLiteral("Paris"), {QStringLiteral("1"), QStringLiteral("3")})});
    }

    static QVariantMap album(const QString &name, const QStringList &keys) {
        QVariantList list;
        for (const QString &key : keys)
            list.append(key);
        return {{QStringLiteral("AlbumName"), name}, {QStringLiteral("KeyList"), list}};
    }

    void writeLibrary(const QVariantList &albums) {
        const auto record = [](const QString &path, double date, const QString &key, const QString &text) {
            return QVariantMap {{QStringLiteral("ImagePath"), path},
                {QStringLiteral("DateAsTimerInterval"), date},
                {QStringLiteral("ThumbPath"), path + QStringLiteral(".thumb.png")}, {key, text}};
        };
        QVariantMap cakeRecord = record(cake, 300, QStringLiteral("Caption"), QString());
        cakeRecord.insert(QStringLiteral("Keywords"), QVariantList {QStringLiteral("k1")});
        const QVariantMap root {
            {QStringLiteral("Master Image List"),
                QVariantMap {{QStringLiteral("1"),
                                 record(cafe, 100, QStringLiteral("Caption"), QStringLiteral("Café"))},
                    {QStringLiteral("2"),
                        record(beach, 200, QStringLiteral("Comment"), QStringLiteral("Beach day"))},
                    {QStringLiteral("3"), cakeRecord}}},
            {QStringLiteral("List of Keywords"),
                QVariantMap {{QStringLiteral("k1"), QStringLiteral("Crème")}}},
            {QStringLiteral("List of Albums"), albums},
            {QStringLiteral("List of Rolls"),
                QVariantList {QVariantMap {{QStringLiteral("RollName"), QStringLiteral("Summer")},
                    {QStringLiteral("KeyList"), QVariantList {QStringLiteral("2")}}}}}};
        ASSERT_TRUE(writeBytes(library + QStringLiteral("/AlbumData.xml"), writePropertyList(root)));
    }

    std::unique_ptr<PhotoPalette> makePalette(bool option) {
        return makePhotoPalette(option, app->mainController()->mainWindow());
    }

    QStringList shownPaths(const AlbumPalette &palette) {
        EXPECT_TRUE(waitUntil(
            [&] { return palette.loaded() && palette.searchSettled() && palette.thumbnailsLoaded(); }));
        QStringList paths;
        for (int row = 0; row < palette.photoCount(); ++row)
            paths.append(palette.pathAt(row));
        return paths;
    }

    static QStringList sourceNames(const AlbumPalette &palette) {
        QStringList names;
        for (int row = 0; row < palette.sourceList()->count(); ++row)
            names.append(palette.sourceList()->item(row)->text());
        return names;
    }

    QString library, cafe, beach, cake;
};

TEST_F(AlbumPaletteTest, TheOptionPicksTheAlbumPaletteOnlyWhenALibraryCanBeRead) {
    EXPECT_NE(dynamic_cast<AlbumPalette *>(makePalette(true).get()), nullptr);
    EXPECT_NE(dynamic_cast<PicturesPalette *>(makePalette(false).get()), nullptr);
    ASSERT_TRUE(QFile::remove(library + QStringLiteral("/AlbumData.xml")));
    EXPECT_NE(dynamic_cast<PicturesPalette *>(makePalette(true).get()), nullptr);
}

TEST_F(AlbumPaletteTest, ChoosingAnAlbumShowsItsPhotosAndSearchNarrowsThem) {
    const auto made = makePalette(true);
    auto &palette = *dynamic_cast<AlbumPalette *>(made.get());
    palette.open();
    EXPECT_EQ(palette.grid()->findChild<QLabel *>()->text(),
        QStringLiteral("Loading photos from the photo library"));
    EXPECT_EQ(shownPaths(palette), (QStringList {cafe, beach, cake})) << "oldest first";
    EXPECT_EQ(sourceNames(palette),
        (QStringList {QStringLiteral("All Photos"), QStringLiteral("Albums"), QStringLiteral("Paris"),
            QStringLiteral("Rolls"), QStringLiteral("Summer")}));
    EXPECT_TRUE(near(palette.thumbnailAt(0).pixelColor(5, 5), Qt::magenta)) << "the library's thumbnail";
    EXPECT_TRUE(near(palette.thumbnailAt(1).pixelColor(1, 1), kTopLeft)) << "made when it has none";

    // The keyboard passes over the headings.
    palette.sourceList()->setFocus();
    press(palette.sourceList(), Qt::Key_Down);
    EXPECT_EQ(palette.sourceList()->currentItem()->text(), QStringLiteral("Paris"));
    EXPECT_EQ(shownPaths(palette), (QStringList {cafe, cake}));
    EXPECT_EQ(palette.countLabel()->text(), QStringLiteral("2 images"));

    palette.searchField()->setText(QStringLiteral("CREME"));
    EXPECT_EQ(shownPaths(palette), QStringList {cake}) << "keywords, without case or accents";
    EXPECT_EQ(palette.countLabel()->text(), QStringLiteral("1 image"));
    palette.searchField()->setText(QStringLiteral("beach"));
    EXPECT_TRUE(shownPaths(palette).isEmpty()) << "only the chosen album is searched";
    EXPECT_EQ(palette.countLabel()->text(), QStringLiteral("0 images"));
    palette.searchField()->clear();
    EXPECT_EQ(shownPaths(palette), (QStringList {cafe, cake}));

    // A click adds the photo with the library's caption; the file name stands in for a missing one.
    palette.activateRow(0);
    ASSERT_TRUE(settle());
    palette.activateRow(1);
    ASSERT_TRUE(settle());
    ASSERT_EQ(task()->photoCount(), 2);
    EXPECT_EQ(caption(0), QStringLiteral("Café"));
    EXPECT_EQ(caption(1), QStringLiteral("cake.jpg")) << "keywords are no caption";

    // A tile dragged onto the share brings its caption as a click does.
    const std::unique_ptr<QMimeData> mime(
        palette.grid()->model()->mimeData({palette.grid()->model()->index(0, 0)}));
    ASSERT_TRUE(drag(*mime));
    ASSERT_TRUE(settle());
    ASSERT_EQ(task()->photoCount(), 3);
    EXPECT_EQ(caption(2), QStringLiteral("Café"));
}

TEST_F(AlbumPaletteTest, TheSliderMovesInSmallStepsAtTheSmallEnd) {
    const auto made = makePalette(true);
    auto &palette = *dynamic_cast<AlbumPalette *>(made.get());
    palette.open();
    palette.resize(480, 500);
    const int smallest = palette.cellSize(0);
    const int largest = palette.cellSize(1);
    ASSERT_GT(largest, 4 * smallest) << "five across at one end, the whole width at the other";
    // The 2.6th power: at the middle the cell has grown by under a fifth of its range (a square
    // would give a quarter).
    const double grown = double(palette.cellSize(0.5) - smallest) / (largest - smallest);
    EXPECT_NEAR(grown, std::pow(0.5, 2.6), 0.02);
}

TEST_F(AlbumPaletteTest, AChangedLibraryIsReadAgainWhenTheProgramComesBack) {
    const auto made = makePalette(true);
    auto &palette = *dynamic_cast<AlbumPalette *>(made.get());
    ASSERT_TRUE(waitUntil([&] { return palette.loaded(); }));
    writeLibrary({album(QStringLiteral("Paris"), {QStringLiteral("1")}),
        album(QStringLiteral("Beach"), {QStringLiteral("2")})});
    QFile file(library + QStringLiteral("/AlbumData.xml"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime);
    file.close();
    NotificationCenter::defaultCenter().post(QLatin1String(MacClientAppDelegate::kApplicationActivated));
    ASSERT_TRUE(waitUntil([&] { return palette.sourceList()->count() == 6; }));
    EXPECT_EQ(sourceNames(palette),
        (QStringList {QStringLiteral("All Photos"), QStringLiteral("Albums"), QStringLiteral("Paris"),
            QStringLiteral("Beach"), QStringLiteral("Rolls"), QStringLiteral("Summer")}));
}

} // namespace
} // namespace lf::test
