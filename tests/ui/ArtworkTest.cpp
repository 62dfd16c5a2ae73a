#include "toolkit/Artwork.h"
#include "toolkit/LFIconButton.h"

#include <QImage>
#include <QMouseEvent>

#include <gtest/gtest.h>

namespace lf {
namespace {

// Opaque pixels in an image: zero means a blank rendering.
int inkedPixels(const QImage &image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int n = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            n += qAlpha(argb.pixel(x, y)) > 0;
    return n;
}

TEST(ArtworkTest, EveryNamedImageExistsAtBothScales) {
    ASSERT_FALSE(Artwork::imageNames().isEmpty());
    for (const QString &name : Artwork::imageNames()) {
        SCOPED_TRACE(name.toStdString());
        const QImage one(Artwork::resourcePath(name, 1));
        const QImage two(Artwork::resourcePath(name, 2));
        ASSERT_FALSE(one.isNull());
        ASSERT_FALSE(two.isNull());
        EXPECT_EQ(two.size(), one.size() * 2);
        EXPECT_GT(inkedPixels(one), one.width() * one.height() / 20);
        EXPECT_GT(inkedPixels(two), two.width() * two.height() / 20);

        // Drawn at its size in points on either screen density.
        const QPixmap crisp = Artwork::pixmap(name, 2.0);
        EXPECT_EQ(crisp.devicePixelRatio(), 2.0);
        EXPECT_EQ(crisp.deviceIndependentSize().toSize(), one.size());
        EXPECT_EQ(Artwork::pixmap(name, 1.0).size(), one.size());
    }
}

TEST(ArtworkTest, ImagesAreFoundByTheNamesCallersUse) {
    // Names come with and without ".png".
    for (const char *name : {"error_close.png", "error_close_pressed.png", "delX.png", "deleteBadge.png",
             "deleteBadgePressed.png", "addBadge.png", "lantern_tag.png", "icon_cancel.png", "icon_save.png",
             "logo.png", "pinstripe.png", "check.png", "support_normal.png", "support_pressed.png",
             "iconPhotoPanel.png", "iconPhotoPanelPressed.png", "1xUX_list_graphic.png",
             "1xUX_photos_graphic.png", "group_icon", "contact_icon"})
        EXPECT_FALSE(Artwork::pixmap(QString::fromLatin1(name), 1.0).isNull()) << name;
    // The seven frames of the upload animation, and no eighth.
    for (int i = 0; i < Artwork::kLanternFrameCount; ++i)
        EXPECT_TRUE(Artwork::hasImage(QStringLiteral("lantern_%1.png").arg(i))) << i;
    EXPECT_FALSE(Artwork::hasImage(QStringLiteral("lantern_7.png")));
    // Frames differ: an animation of one still picture would be a fault.
    EXPECT_NE(QImage(Artwork::resourcePath("lantern_0", 1)), QImage(Artwork::resourcePath("lantern_3", 1)));
    // Unknown names give nothing (a bubble named like one with ".png" then has no image).
    EXPECT_TRUE(Artwork::pixmap(QStringLiteral("nosuch.png"), 1.0).isNull());
    EXPECT_TRUE(Artwork::icon(QStringLiteral("nosuch")).isNull());
}

TEST(ArtworkTest, ApplicationIconAtEveryThemeSize) {
    for (int size : Artwork::applicationIconSizes()) {
        const QImage image(Artwork::applicationIconPath(size));
        ASSERT_FALSE(image.isNull()) << size;
        EXPECT_EQ(image.size(), QSize(size, size));
        EXPECT_GT(inkedPixels(image), size * size / 2) << size;
    }
    const QList<QSize> sizes = Artwork::applicationIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(512, 512)));
}

TEST(IconButtonTest, SizedToItsImageAndShowsThePressedImageWhileDown) {
    LFIconButton button(QStringLiteral("error_close"), QStringLiteral("error_close_pressed"));
    button.setAccessibleName(QStringLiteral("Close"));
    EXPECT_EQ(button.size(), QImage(Artwork::resourcePath("error_close", 1)).size());
    int clicks = 0;
    QObject::connect(&button, &QAbstractButton::clicked, [&] { ++clicks; });

    const QImage up = button.grab().toImage();
    button.setDown(true);
    const QImage down = button.grab().toImage();
    button.setDown(false);
    EXPECT_NE(up, down);
    EXPECT_EQ(up, button.grab().toImage());

    button.click();
    EXPECT_EQ(clicks, 1);
}

} // namespace
} // namespace lf
