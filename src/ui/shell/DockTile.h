#pragma once

#include "platform/LauncherEntry.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace lf {

class ClockTimer;
class MacClientAppDelegate;

// The dock tile of the program on this desktop: the tray icon with its menu, the window icon and
// the taskbar entry's progress. While shares upload, the 2.5-second housekeeping puts a status
// line at the top of the menu and the lantern animates; nested starts of the animation need as
// many stops. Main thread only.
class DockTile : public QObject {
    Q_OBJECT
public:
    static constexpr int kFrameMs = 250;
    static constexpr const char *kStatusPlaceholder = "###";

    // What the housekeeping reads of the share queue.
    struct Progress {
        bool working = false;
        bool fullSize = false;
        int current = 0; // 0-based photo being uploaded
        int count = 0; // photos of the share, 0 while it is being created
        int sets = 0; // shares waiting, the current one included
    };
    struct Hooks {
        std::function<Progress()> progress;
        // A tray menu item was chosen, by tag.
        std::function<void(int tag)> menuAction;
        std::function<bool(int tag)> menuEnabled;
        // The animation stopped: the dated icon of the day may show again.
        std::function<void()> checkIcons;
    };

    DockTile(
        Hooks hooks, QWidget *window, std::unique_ptr<LauncherEntry> launcher, QObject *parent = nullptr);
    ~DockTile() override;

    // The hooks that follow the delegate's share queue and menus.
    static Hooks hooksFor(MacClientAppDelegate &delegate);

    void setIconCheck(std::function<void()> check) { m_hooks.checkIcons = std::move(check); }

    void periodic();
    void startDockProgress();
    void stopDockProgress();
    void dockIconProgress();
    // Shows an image file as the tile (the dated icon); false when it cannot be read.
    bool setDockIcon(const QString &path);
    void clearDockIcon();

    int dockCount() const { return m_dockCount; }
    int dockPhase() const { return m_dockPhase; }
    bool animating() const;
    QMenu *dockMenu() const { return m_dockMenu; }
    // The status line while a share uploads, else none.
    QAction *dockMenuItem() const { return m_dockMenuItem; }
    QSystemTrayIcon *trayIcon() const { return m_tray; }
    // The image shown now: an animation frame's name, "dated" or "application".
    QString shownImage() const { return m_shownImage; }

signals:
    // The status line and the part of the share sent (0 to 1); an empty line once nothing uploads.
    void statusChanged(const QString &status, double done);

private:
    void buildMenu();
    void show(const QIcon &icon, const QString &name);
    void showRestingIcon();
    void removeStatusLine();

    Hooks m_hooks;
    QPointer<QWidget> m_window;
    std::unique_ptr<LauncherEntry> m_launcher;
    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_dockMenu = nullptr;
    QAction *m_dockMenuItem = nullptr;
    QAction *m_statusSeparator = nullptr;
    ClockTimer *m_dockTimer = nullptr;
    int m_dockCount = 0;
    int m_dockPhase = 0;
    QIcon m_datedIcon;
    QString m_shownImage;
};

} // namespace lf
