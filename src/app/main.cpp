// lanternfish: the desktop program.
#include "foundation/Credentials.h"
#include "foundation/LogCategories.h"
#include "intake/PhotoDropView.h"
#include "platform/CrashReports.h"
#include "platform/DesktopBus.h"
#include "platform/InspectionAdaptor.h"
#include "session/Service.h"
#include "shell/ConsumerVC.h"
#include "shell/DesktopIntegration.h"
#include "shell/Inspection.h"
#include "shell/MacClientAppDelegate.h"
#include "shell/MainController.h"
#include "shell/MainWindow.h"
#include "shell/Scripting.h"
#include "shell/SettingsVC.h"
#include "shell/SignInWC.h"
#include "shell/SupportWC.h"
#include "shell/WebFlowWindow.h"
#include "toolkit/Artwork.h"

#include <QApplication>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv) {
    // Chromium refuses to run its sandbox as root (containers, CI); the web views then go without.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Web views (the welcome page) share their GL contexts with the widgets.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The web views catch lanternfish: addresses themselves; the engine must know the scheme first.
    lf::WebFlowWindow::registerUrlScheme();
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Lanternfish"));
    QCoreApplication::setApplicationName(QStringLiteral("lanternfish"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Lanternfish"));
    QGuiApplication::setDesktopFileName(QLatin1String(lf::Artwork::kApplicationIconName));
    QApplication::setWindowIcon(lf::Artwork::applicationIcon());
    // Closing the main window asks the delegate (shares may be uploading); other windows never quit.
    QApplication::setQuitOnLastWindowClosed(false);
    lf::CrashReports::installHandler(lf::Credentials::clientVersion());

    // One program per user: a second start hands its files and URLs to the first and ends.
    lf::DesktopBus bus;
    switch (bus.start(app.arguments().mid(1))) {
    case lf::DesktopBus::Start::HandedOver:
        return 0;
    case lf::DesktopBus::Start::Failed:
        std::fprintf(stderr, "lanternfish: %s\n", qPrintable(bus.error()));
        return 1;
    case lf::DesktopBus::Start::Alone:
        qCInfo(lfUi) << "not on the session bus: files handed to a second start open a second window";
        break;
    case lf::DesktopBus::Start::Primary:
        break;
    }

    lf::MacClientAppDelegate delegate;
    lf::PhotoDropView::install(delegate.mainController());
    bus.setScriptingBackend(std::make_shared<lf::Scripting>(lf::Service::currentService(),
        lf::Scripting::State {[&delegate] { return delegate.authenticated(); },
            [&delegate] { return delegate.checkIfSharing(); }}));
    delegate.setSignInRequester([&delegate] { lf::SignInWC::requestWC(delegate.window()); });
    if (qEnvironmentVariableIntValue(lf::kInspectionVariable) == 1)
        bus.addInspection(std::make_shared<lf::Inspection>());
    lf::DesktopIntegration desktop(delegate);
    delegate.setPreferencesRequester([&delegate] { lf::SettingsVC::requestPreferences(delegate.window()); });
    delegate.applicationDidFinishLaunching();
    delegate.mainController()->setSiteLinker(
        [&delegate](const QString &name, bool contacts, const QString &title) {
            lf::ConsumerVC::requestConsumer(name, contacts, title, delegate.window())->load();
        });
    lf::SupportWC::injectSupport(delegate.window(), -5, -8);
    // The command line's files and URLs arrive here too, once the window is up.
    bus.setReceiver({[&delegate](const QStringList &files) { delegate.openFiles(files); },
        [&delegate](const QString &url) { delegate.getUrl(url); }, [&delegate] { delegate.activate(); },
        [&delegate](const QString &action) {
            delegate.activate();
            if (action == QLatin1String(lf::kActionSettings))
                delegate.doPreferences();
        }});
    const int status = QApplication::exec();
    // The scripting layer asks the delegate; it must not outlive it.
    bus.setScriptingBackend(nullptr);
    return status;
}
