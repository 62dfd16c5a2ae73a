#include "shell/DesktopProgram.h"

#include "intake/PhotoDropView.h"
#include "shell/ConsumerVC.h"
#include "shell/MainController.h"
#include "shell/MainWindow.h"
#include "shell/SettingsVC.h"
#include "shell/SignInWC.h"
#include "shell/SupportWC.h"
#include "shell/WebFlowWindow.h"
#include "toolkit/Artwork.h"

#include "foundation/LogCategories.h"
#include "foundation/Workers.h"
#include "platform/ProcessEnd.h"
#include "session/Service.h"

#include <QApplication>

#include <unistd.h>

namespace lf {

void DesktopProgram::prepareApplication() {
    // Chromium refuses to run its sandbox as root (containers, CI); the web views then go without.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Web views (the welcome page) share their GL contexts with the widgets.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The web views catch lanternfish: addresses themselves; the engine must know the scheme first.
    WebFlowWindow::registerUrlScheme();
}

void DesktopProgram::nameApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Lanternfish"));
    QCoreApplication::setApplicationName(QStringLiteral("lanternfish"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Lanternfish"));
    QGuiApplication::setDesktopFileName(QLatin1String(Artwork::kApplicationIconName));
    QApplication::setWindowIcon(Artwork::applicationIcon());
    // Closing the main window asks the delegate (shares may be uploading); other windows never quit.
    QApplication::setQuitOnLastWindowClosed(false);
}

DesktopProgram::DesktopProgram() {
    m_delegate.setTerminator([] {
        // From here the process has a few seconds left, whatever a worker is stuck in; what
        // is worth keeping is on disk already or stored as the loop ends.
        ProcessEnd::arm(0);
        Workers::instance().cancelAll();
        QCoreApplication::exit(0);
    });
    PhotoDropView::install(m_delegate.mainController());
    m_delegate.setSignInRequester([this] { SignInWC::requestWC(m_delegate.window()); });
    m_desktop = std::make_unique<DesktopIntegration>(m_delegate);
    m_delegate.setPreferencesRequester([this] { SettingsVC::requestPreferences(m_delegate.window()); });
}

DesktopProgram::~DesktopProgram() = default;

void DesktopProgram::launch() {
    m_delegate.applicationDidFinishLaunching();
    m_delegate.mainController()->setSiteLinker(
        [this](const QString &name, bool contacts, const QString &title) {
            ConsumerVC::requestConsumer(name, contacts, title, m_delegate.window())->load();
        });
    SupportWC::injectSupport(m_delegate.window(), -5, -8);
}

int DesktopProgram::finish(int status) {
    // However the loop ended, the process ends in bounded time from here.
    ProcessEnd::arm(status);
    // Cancelled work must not report to a delegate that is on its way out (no alerts now).
    if (Service::currentService()->delegate() == &m_delegate)
        Service::currentService()->setDelegate(nullptr);
    Workers::instance().cancelAll();
    if (!Workers::instance().waitForAll(kWorkersGraceMs)) {
        qCWarning(lfUi).noquote() << "ending with work still running:"
                                  << Workers::instance().runningNames().join(QStringLiteral(", "));
        ProcessEnd::now(status);
    }
    return status;
}

} // namespace lf
