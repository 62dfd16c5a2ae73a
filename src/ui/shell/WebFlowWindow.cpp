#include "shell/WebFlowWindow.h"

#include "shell/MacClientAppDelegate.h"
#include "shell/WelcomeWindow.h"

#include "foundation/LogCategories.h"
#include "foundation/Strings.h"
#include "foundation/TextRules.h"

#include <QHideEvent>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <QUuid>
#include <QVBoxLayout>
#include <QWebEngineHttpRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

namespace lf {

namespace {

// Catches the page's move to lanternfish:… and hands the address to the window whose web view
// made it; the page itself goes nowhere.
class CallbackSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
    CallbackSchemeHandler(WebFlowWindow *window, QObject *parent)
        : QWebEngineUrlSchemeHandler(parent)
        , m_window(window) { }

    void requestStarted(QWebEngineUrlRequestJob *job) override {
        const QString url = job->requestUrl().toString(QUrl::FullyEncoded);
        job->fail(QWebEngineUrlRequestJob::RequestAborted);
        const QString prefix = QLatin1String(MacClientAppDelegate::kUrlScheme);
        if (!url.startsWith(prefix, Qt::CaseInsensitive))
            return;
        const QString rest = url.mid(prefix.size());
        // Later: the job is still being answered, and the window closes on the callback.
        QTimer::singleShot(0, m_window, [window = m_window, rest] {
            if (window)
                window->callbackCaught(rest);
        });
    }

private:
    QPointer<WebFlowWindow> m_window;
};

const char *const kPlusIsSpace[] = {"notice", "error"};

} // namespace

CallbackURL CallbackURL::parse(const QString &afterScheme) {
    CallbackURL callback;
    const qsizetype question = afterScheme.indexOf(QLatin1Char('?'));
    callback.target = question < 0 ? afterScheme : afterScheme.left(question);
    if (question < 0)
        return callback;
    for (const QString &piece : afterScheme.mid(question + 1).split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        // Split before decoding, so an escaped "=" or "&" inside a value (a token's padding) stays in it.
        const qsizetype equals = piece.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = percentUnescape(piece.left(equals));
        QString value = piece.mid(equals + 1);
        for (const char *spaced : kPlusIsSpace) {
            if (key == QLatin1String(spaced))
                value.replace(QLatin1Char('+'), QLatin1Char(' '));
        }
        callback.params.insert(key, percentUnescape(value));
    }
    return callback;
}

bool CallbackURL::isFor(const QString &site) const {
    return !site.isEmpty()
        && (target == QStringLiteral("callback.") + site || target == QStringLiteral("callback/") + site);
}

void WebFlowWindow::registerUrlScheme() {
    QWebEngineUrlScheme scheme(kScheme);
    // Path syntax: the engine leaves "callback.site" alone instead of reading it as a host.
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}

WebFlowWindow::WebFlowWindow(const QString &site, QWidget *mainWindow)
    // No parent: a child window would be blocked by the sign-in sheet on the main window.
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint)
    , m_site(site)
    , m_state(QUuid::createUuid().toString(QUuid::Id128)) {
    setAttribute(Qt::WA_DeleteOnClose);
    if (mainWindow)
        connect(mainWindow, &QObject::destroyed, this, [this] { delete this; });
    resize(560, 520);
    // No storage name: off the record, so each window starts with no cookies and leaves none.
    m_profile = new QWebEngineProfile(this);
    m_profile->installUrlSchemeHandler(kScheme, new CallbackSchemeHandler(this, m_profile));
    m_view = new QWebEngineView(this);
    m_view->setPage(new QWebEnginePage(m_profile, m_view));
    m_activity = new QProgressBar(this);
    m_activity->setRange(0, 0);
    m_activity->setTextVisible(false);
    m_activity->setMaximumHeight(4);
    m_activity->setAccessibleName(localizedString(QStringLiteral("[ProgressTitle]")));
    m_activity->hide();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_activity);
    connect(m_view->page(), &QWebEnginePage::loadStarted, this, [this] { m_activity->show(); });
    connect(m_view->page(), &QWebEnginePage::loadFinished, this, &WebFlowWindow::loaded);
    connect(m_view->page(), &QWebEnginePage::geometryChangeRequested, this,
        [this](const QRect &geometry) { resize(geometry.size()); });
    m_view->setHtml(QStringLiteral("<html><body style=\"font-family: sans-serif; color: #555; "
                                   "text-align: center; padding-top: 40%;\">%1</body></html>")
                        .arg(localizedString(QStringLiteral("[LoadingConsumer]")).toHtmlEscaped()));
    placeBeside(mainWindow);
}

WebFlowWindow::~WebFlowWindow() {
    // The page must go before the profile it was made with.
    delete m_view;
    m_view = nullptr;
}

void WebFlowWindow::start(HttpRequest request) {
    m_waiting = true;
    // The site hands the state back in the callback: a callback without it was not made for
    // this flow (another page in the view, an old flow).
    request.url += QLatin1Char(request.url.contains(QLatin1Char('?')) ? '&' : '?') + QStringLiteral("state=")
        + m_state;
    m_url = request.url;
    QWebEngineHttpRequest page {QUrl(request.url)};
    for (const auto &[name, value] : request.headers)
        page.setHeader(name, value);
    QTimer::singleShot(kStartDelayMs, this, [this, page] { m_view->load(page); });
}

void WebFlowWindow::bringToFront() {
    show();
    raise();
    activateWindow();
}

void WebFlowWindow::placeBeside(QWidget *mainWindow) {
    if (!mainWindow)
        return;
    // At the main window's left edge, a little below its top, so both stay in sight.
    const QRect main = mainWindow->frameGeometry();
    move(main.left(), main.top() + 32);
}

void WebFlowWindow::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    // Hidden by the program (not minimized by the user): the flow is over.
    if (!event->spontaneous()) {
        m_waiting = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void WebFlowWindow::loaded(bool ok) {
    m_activity->hide();
    ++m_loadCount;
    if (ok)
        m_view->page()->runJavaScript(QString::fromLatin1(WelcomeWindow::kResizeScript));
}

void WebFlowWindow::callbackCaught(const QString &afterScheme) {
    const CallbackURL callback = CallbackURL::parse(afterScheme);
    if (!m_waiting || !callback.isFor(m_site) || callback.value("state") != m_state) {
        // Addresses may carry a token: only the target is written down.
        qCInfo(lfUi).noquote()
            << QStringLiteral("callback %1 ignored by the %2 window").arg(callback.target.left(80), m_site);
        return;
    }
    m_waiting = false;
    hide();
    handleCallback(callback);
    close();
}

} // namespace lf
