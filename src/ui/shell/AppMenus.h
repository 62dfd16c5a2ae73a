#pragma once

#include <QKeySequence>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QMainWindow;

namespace lf {

class MacClientAppDelegate;
class Service;

// The menu bar: its tagged items, which of them are enabled, their actions, and the staff
// server menu that only internal users see. Main thread only.
class AppMenus : public QObject {
    Q_OBJECT
public:
    // Menu item tags.
    static constexpr int kTagShowWindow = 1;
    static constexpr int kTagPreferences = 12345;
    static constexpr int kTagSignOut = 12346;
    static constexpr int kTagOpen = 12347;
    static constexpr int kTagSignIn = 12348;
    static constexpr int kTagQuit = 666;
    static constexpr int kTagServerFirst = 7000;
    static constexpr int kTagServerLast = 7999;
    static constexpr int kTagDockAbout = 103;
    static constexpr int kTagDockFirst = 100;
    static constexpr int kTagDockLast = 199;

    // The items act on `app`, which outlives the menus.
    AppMenus(MacClientAppDelegate &app, QMainWindow *window, std::shared_ptr<Service> service);

    bool validateMenuItem(int tag) const;
    // Enables every tagged action of `menu` by validateMenuItem.
    void validateMenu(QMenu *menu) const;
    // Every menu of the menu bar, after the session changed.
    void validateAll() const;
    // Puts the server menu in the menu bar for internal users and takes it out for the others.
    void showServerMenu(bool shown);
    void doServer(int tag);
    void doDockMenu(int tag);
    void viewPanel(bool sent);
    QMenu *serverMenu() const { return m_serverMenu; }
    bool serverMenuLive() const { return m_serverMenuLive; }

private:
    void build();
    void addTaggedAction(QMenu *menu, const QString &text, int tag, const std::function<void()> &action,
        const QKeySequence &shortcut = {});

    MacClientAppDelegate &m_app;
    QPointer<QMainWindow> m_window;
    std::shared_ptr<Service> m_service;
    QMenu *m_serverMenu = nullptr;
    QAction *m_serverMenuAction = nullptr;
    bool m_serverMenuLive = false;
};

} // namespace lf
