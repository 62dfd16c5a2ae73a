#include "shell/DesktopIntegration.h"

#include "shell/DockTile.h"
#include "shell/MacClientAppDelegate.h"
#include "shell/MainController.h"
#include "shell/MainWindow.h"
#include "shell/Updater.h"

#include "foundation/Workers.h"
#include "platform/CrashReports.h"
#include "platform/DesktopNotifications.h"
#include "platform/LauncherEntry.h"
#include "session/Service.h"

#include <QPointer>

namespace lf {

DesktopIntegration::DesktopIntegration(MacClientAppDelegate &delegate)
    : m_dock(std::make_unique<DockTile>(
        DockTile::hooksFor(delegate), delegate.window(), std::make_unique<LauncherEntry>()))
    , m_notifications(std::make_unique<DesktopNotifications>()) {
    DockTile *dock = m_dock.get();
    delegate.setHousekeeping([dock] { dock->periodic(); });
    delegate.setDockProgressStarter([dock] { dock->startDockProgress(); });
    QObject::connect(dock, &DockTile::statusChanged, dock, [](const QString &status, double done) {
        if (MainController *main = MainController::singleton())
            main->showSendingStatus(status, done);
    });

    auto updater = std::make_unique<Updater>(delegate, Service::currentService(),
        Updater::Hooks {[dock](const QString &path) { return dock->setDockIcon(path); },
            [dock] { dock->clearDockIcon(); }, {}, {}, [&delegate] { delegate.endProgram(); }});
    // The delegate ends the updater as the program ends; the tray asks it only while it lives.
    dock->setIconCheck([checker = QPointer<Updater>(updater.get())] {
        if (checker)
            checker->checkIcons();
    });
    delegate.setUpdateChecker(std::move(updater));

    DesktopNotifications *notifications = m_notifications.get();
    delegate.setDesktopNotifier([notifications](const QString &text) { notifications->growlString(text); });
    delegate.setCrashLogCheck([] {
        Workers::instance().start(QStringLiteral("crash logs"), [] {
            CrashReports::checkCrashLogs(
                [](const QString &path) { return Service::currentService()->uploadCrashLog(path); });
        });
    });
    Workers::instance().start(
        QStringLiteral("old temporary folder"), [] { CrashReports::nostalgiaCleanUp(); });
}

DesktopIntegration::~DesktopIntegration() = default;

} // namespace lf
