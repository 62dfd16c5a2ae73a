#pragma once

#include <memory>

namespace lf {

class DesktopNotifications;
class DockTile;
class MacClientAppDelegate;

// The program's life on the desktop beside its window: the tray and taskbar progress, desktop
// notifications, the crash-report upload, the removal of the old temporary folder and the updater,
// each handed to the delegate through its hooks. Made before the delegate finishes launching and
// ended before it goes.
class DesktopIntegration {
public:
    explicit DesktopIntegration(MacClientAppDelegate &delegate);
    ~DesktopIntegration();

    DockTile &dock() const { return *m_dock; }

private:
    std::unique_ptr<DockTile> m_dock;
    std::unique_ptr<DesktopNotifications> m_notifications;
};

} // namespace lf
