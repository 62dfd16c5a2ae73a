#include "shell/WelcomeWindow.h"

#include "foundation/Strings.h"

#include <QDesktopServices>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace lf {

namespace {

// Keeps link clicks to other sites out of the window: they go to the user's browser.
class WelcomePage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override {
        if (type != NavigationTypeLinkClicked || !isMainFrame || WelcomeWindow::followsInside(url))
            return true;
        QDesktopServices::openUrl(url);
        return false;
    }
};

// Gap between the main window's right edge and this window, in points.
constexpr int kGap = 24;

} // namespace

const char *const WelcomeWindow::kResizeScript
    = "document.documentElement.style.overflow='visible'; document.body.style.overflow='visible';"
      "document.body.scrollWidth;"
      "var width = Math.max(document.body.scrollWidth, document.body.clientWidth, self.innerWidth) + 16;"
      "var height = Math.max(document.body.scrollHeight, document.body.clientHeight, self.innerHeight) + 24;"
      "window.resizeTo( width, height );";

WelcomeWindow::WelcomeWindow(QWidget *mainWindow)
    : QWidget(nullptr, Qt::Window)
    , m_mainWindow(mainWindow) {
    setObjectName(QStringLiteral("WelcomeWindow"));
    setWindowTitle(localizedString(QStringLiteral("[WelcomeTitle]")));
    setAccessibleName(windowTitle());
    resize(640, 480);
    // No storage name: an off-the-record profile, its own cookie store in memory.
    m_profile = new QWebEngineProfile(this);
    m_view = new QWebEngineView(this);
    m_view->setPage(new WelcomePage(m_profile, m_view));
    m_view->setAccessibleName(windowTitle());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    connect(m_view->page(), &QWebEnginePage::loadFinished, this, &WelcomeWindow::loaded);
    // The page sizes its window to its content; once placed, the window keeps its bottom edge level
    // with the main window's.
    connect(m_view->page(), &QWebEnginePage::geometryChangeRequested, this, [this](const QRect &geometry) {
        resize(geometry.size());
        if (m_didShow)
            placeBesideMainWindow();
    });
}

WelcomeWindow::~WelcomeWindow() {
    // The page must go before the profile it was made with.
    delete m_view;
    m_view = nullptr;
}

void WelcomeWindow::load(const QUrl &url) {
    m_didShow = false;
    m_view->load(url);
}

bool WelcomeWindow::followsInside(const QUrl &url) {
    const QString text = url.toString();
    return text.contains(QLatin1String("zendesk")) || text.contains(QLatin1String("support"))
        || text.contains(QLatin1String("mac_welcome"));
}

void WelcomeWindow::loaded(bool ok) {
    if (!ok) {
        // Not from inside the failed navigation's own report: the engine is still unwinding it.
        QTimer::singleShot(0, this, [this] { m_view->setHtml(QString::fromLatin1(kClosedText)); });
        return;
    }
    m_view->page()->runJavaScript(QString::fromLatin1(kResizeScript));
    if (!m_didShow) {
        // Shown first: the frame, which the placement measures, exists from then on.
        show();
        placeBesideMainWindow();
        raise();
        activateWindow();
        m_didShow = true;
    }
}

void WelcomeWindow::placeBesideMainWindow() {
    if (!m_mainWindow)
        return;
    const QRect main = m_mainWindow->frameGeometry();
    move(main.right() + 1 + kGap, main.bottom() + 1 - frameGeometry().height());
}

} // namespace lf
