#include "shell/DockTile.h"
#include "shell/MacClientAppDelegate.h"

#include "foundation/Clock.h"
#include "foundation/Strings.h"
#include "support/TempHome.h"
#include "support/TestImages.h"
#include "toolkit/ClockTimer.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

#include <gtest/gtest.h>

namespace lf::test {
namespace {

class DockTileTest : public TempHomeTest {
protected:
    DockTile::Hooks hooks() {
        DockTile::Hooks hooks;
        hooks.progress = [this] { return progress; };
        hooks.menuAction = [this](int tag) { chosen.append(tag); };
        hooks.menuEnabled = [](int tag) { return tag != 101; };
        hooks.checkIcons = [this] { ++iconChecks; };
        return hooks;
    }
    // Runs the animation timer for `frames` frames of virtual time.
    void runFrames(int frames) {
        for (int i = 0; i < frames; ++i) {
            clock.clock.advance(std::chrono::milliseconds(DockTile::kFrameMs));
            ClockTimer::checkDueTimers();
        }
    }
    QStringList menuTexts(const DockTile &tile) {
        QStringList texts;
        for (QAction *item : tile.dockMenu()->actions())
            texts.append(item->isSeparator() ? QStringLiteral("--") : item->text());
        return texts;
    }

    ScopedFakeClock clock;
    QWidget window;
    DockTile::Progress progress;
    QList<int> chosen;
    int iconChecks = 0;
};

TEST_F(DockTileTest, NestedStartsNeedAsManyStopsAndExtraStopsKeepZero) {
    DockTile tile(hooks(), &window, nullptr);
    tile.startDockProgress();
    tile.startDockProgress();
    runFrames(7);
    // Frames run 1 to 6, then 0.
    EXPECT_EQ(tile.shownImage(), QStringLiteral("lantern_0"));
    EXPECT_EQ(tile.dockPhase(), 1);

    tile.stopDockProgress();
    EXPECT_EQ(tile.dockCount(), 1);
    EXPECT_TRUE(tile.animating());
    EXPECT_EQ(iconChecks, 0);

    tile.stopDockProgress();
    EXPECT_FALSE(tile.animating());
    EXPECT_EQ(tile.shownImage(), QStringLiteral("application"));
    EXPECT_EQ(iconChecks, 1);

    tile.stopDockProgress();
    tile.stopDockProgress();
    EXPECT_EQ(tile.dockCount(), 0);
    // One start after the extra stops is enough to run and one stop to end it.
    tile.startDockProgress();
    EXPECT_TRUE(tile.animating());
    tile.stopDockProgress();
    EXPECT_FALSE(tile.animating());
}

TEST_F(DockTileTest, StatusLineFollowsTheShareAndLeavesWithIt) {
    DockTile tile(hooks(), &window, nullptr);
    const QStringList idle = menuTexts(tile);
    // The window shows the same line with the part sent.
    QString shown = QStringLiteral("none yet");
    double done = -1;
    QObject::connect(&tile, &DockTile::statusChanged, &tile, [&](const QString &status, double part) {
        shown = status;
        done = part;
    });

    progress = {true, false, 0, 0, 1};
    tile.periodic();
    EXPECT_TRUE(tile.animating());
    ASSERT_NE(tile.dockMenuItem(), nullptr);
    EXPECT_FALSE(tile.dockMenuItem()->isEnabled());
    EXPECT_EQ(menuTexts(tile).mid(0, 2),
        (QStringList {localizedString("[creating bundle]"), QStringLiteral("--")}));

    progress = {true, false, 2, 5, 1};
    tile.periodic();
    EXPECT_EQ(tile.dockMenu()->actions().first()->text(),
        localizedFormat(QStringLiteral("[sharePreview]"), {QStringLiteral("3"), QStringLiteral("5")}));
    EXPECT_EQ(shown, tile.dockMenu()->actions().first()->text());
    EXPECT_DOUBLE_EQ(done, 0.4);
    progress = {true, true, 0, 1, 1};
    tile.periodic();
    EXPECT_EQ(tile.dockMenu()->actions().first()->text(),
        localizedFormat(QStringLiteral("[shareFull]"), {QStringLiteral("1"), QStringLiteral("1")}));
    // One status line however often the housekeeping runs, and one animation.
    EXPECT_EQ(menuTexts(tile).size(), idle.size() + 2);
    EXPECT_EQ(tile.dockCount(), 1);

    progress = {};
    tile.periodic();
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_EQ(tile.dockMenuItem(), nullptr);
    EXPECT_EQ(menuTexts(tile), idle);
    EXPECT_FALSE(tile.animating());
    EXPECT_EQ(tile.dockCount(), 0);
}

TEST_F(DockTileTest, MenuItemsCarryTheirTagsAndFollowTheDelegate) {
    DockTile tile(hooks(), &window, nullptr);
    emit tile.dockMenu()->aboutToShow();
    QList<QAction *> items;
    for (QAction *item : tile.dockMenu()->actions())
        if (!item->isSeparator())
            items.append(item);
    ASSERT_GE(items.size(), 4);
    EXPECT_FALSE(items[1]->isEnabled());
    for (QAction *item : items)
        item->trigger();
    // The delegate said no to 101: choosing it does nothing.
    EXPECT_EQ(chosen, (QList<int> {100, 102, 103, MacClientAppDelegate::kTagQuit}));
}

TEST_F(DockTileTest, DatedIconOutlivesTheAnimationUntilCleared) {
    DockTile tile(hooks(), &window, nullptr);
    const QString dated = home.filePath(QStringLiteral("today.png"));
    ASSERT_TRUE(quadrantImage(32, 32).save(dated));
    EXPECT_FALSE(tile.setDockIcon(home.filePath(QStringLiteral("missing.png"))));
    ASSERT_TRUE(tile.setDockIcon(dated));
    EXPECT_EQ(tile.shownImage(), QStringLiteral("dated"));

    tile.startDockProgress();
    runFrames(2);
    EXPECT_TRUE(tile.shownImage().startsWith(QStringLiteral("lantern_")));
    // Idle housekeeping stops the animation every few seconds; the icon of the day stays.
    tile.periodic();
    tile.periodic();
    EXPECT_EQ(tile.shownImage(), QStringLiteral("dated"));

    tile.clearDockIcon();
    EXPECT_EQ(tile.shownImage(), QStringLiteral("application"));
    EXPECT_FALSE(window.windowIcon().isNull());
}

} // namespace
} // namespace lf::test
