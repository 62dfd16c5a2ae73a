#include "shell/SupportWC.h"

#include "shell/MacClientAppDelegate.h"

#include "api/ServiceAPI.h"
#include "foundation/MainThread.h"
#include "foundation/OSInfo.h"
#include "foundation/Strings.h"
#include "foundation/TextRules.h"
#include "foundation/Workers.h"
#include "session/Service.h"
#include "toolkit/LFIconButton.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace lf {

namespace {

SupportWC *s_support = nullptr;

// mailto: links go to the mail program; new windows open in the browser; the rest stays here.
class SupportPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType, bool) override {
        if (url.scheme() == QLatin1String("mailto")) {
            QDesktopServices::openUrl(url);
            return false;
        }
        return true;
    }
    QWebEnginePage *createWindow(WebWindowType) override {
        // A page that only learns where it was sent, hands that to the browser and goes.
        auto *page = new QWebEnginePage(profile(), this);
        connect(page, &QWebEnginePage::urlChanged, page, [page](const QUrl &url) {
            QDesktopServices::openUrl(url);
            page->deleteLater();
        });
        return page;
    }
};

// Keeps the button in the window's top-right corner as the window resizes.
class CornerKeeper : public QObject {
public:
    CornerKeeper(LFIconButton *button, int dx, int dy)
        : QObject(button)
        , m_button(button)
        , m_dx(dx)
        , m_dy(dy) {
        button->parentWidget()->installEventFilter(this);
        place();
    }

    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Show)
            place();
        return false;
    }

private:
    void place() {
        QWidget *window = m_button->parentWidget();
        m_button->move(window->width() - m_button->width() + m_dx, -m_dy);
        m_button->raise();
    }

    LFIconButton *m_button;
    int m_dx;
    int m_dy;
};

} // namespace

SupportWC::SupportWC()
    : QWidget(nullptr, Qt::Window) {
    setObjectName(QStringLiteral("SupportWC"));
    setWindowTitle(localizedString(QStringLiteral("[SupportTitle]")));
    setAccessibleName(windowTitle());
    resize(620, 640);
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(246, 246, 246));
    setPalette(background);
    setAutoFillBackground(true);
    // Off the record: what the user types into the form is not kept on disk.
    m_profile = new QWebEngineProfile(this);
    m_view = new QWebEngineView(this);
    m_view->setPage(new SupportPage(m_profile, m_view));
    m_view->page()->setBackgroundColor(Qt::transparent);
    m_view->setAccessibleName(windowTitle());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
}

SupportWC::~SupportWC() {
    // The page must go before the profile it was made with.
    delete m_view;
    m_view = nullptr;
    if (s_support == this)
        s_support = nullptr;
}

SupportWC *SupportWC::singleton() {
    if (!s_support) {
        s_support = new SupportWC;
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, s_support, &QObject::deleteLater);
    }
    return s_support;
}

void SupportWC::release() {
    delete s_support;
}

LFIconButton *SupportWC::injectSupport(QWidget *window, int dx, int dy) {
    auto *button
        = new LFIconButton(QStringLiteral("support_normal"), QStringLiteral("support_pressed"), window);
    button->setObjectName(QStringLiteral("supportButton"));
    button->resize(button->sizeHint());
    button->setToolTip(localizedString(QStringLiteral("[supportButtonTip]")));
    button->setAccessibleName(button->toolTip());
    button->setFocusPolicy(Qt::TabFocus);
    button->setCursor(Qt::PointingHandCursor);
    QObject::connect(button, &LFIconButton::clicked, [] { SupportWC::singleton()->supportButtonClicked(); });
    // A window with a menu bar has its top-right corner there; the content below has its own use.
    if (auto *main = qobject_cast<QMainWindow *>(window); main && main->menuWidget()) {
        if (auto *bar = qobject_cast<QMenuBar *>(main->menuWidget())) {
            auto *corner = new QWidget(bar);
            auto *layout = new QHBoxLayout(corner);
            layout->setContentsMargins(0, 0, -dx, 0);
            layout->addWidget(button);
            bar->setCornerWidget(corner, Qt::TopRightCorner);
            corner->show();
            return button;
        }
    }
    new CornerKeeper(button, dx, dy);
    return button;
}

QString SupportWC::supportURL(const QString &name, const QString &email) {
    QString url = ServiceAPI::getFullURL(QStringLiteral("support?source=") + QLatin1String(kPlatformWord));
    if (!name.isEmpty())
        url += QStringLiteral("&name=") + percentEscape(name);
    if (!email.isEmpty())
        url += QStringLiteral("&email=") + percentEscape(email);
    return url;
}

void SupportWC::supportButtonClicked() {
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    const MacClientAppDelegate *app = MacClientAppDelegate::singleton();
    const bool signedIn = app && app->authenticated();
    const std::shared_ptr<Service> service = Service::currentService();
    QPointer<SupportWC> self(this);
    // The name and the connection check ask the server: off the main thread.
    Workers::instance().start(QStringLiteral("support"), [self, service, signedIn] {
        const QString url
            = signedIn ? supportURL(service->userFriendlyName(), service->userName()) : supportURL({}, {});
        const bool connected = service->checkConnection();
        runOnMainThread([self, url, connected] {
            if (self)
                self->present(url, connected);
        });
    });
}

void SupportWC::present(const QString &url, bool connected) {
    m_url = url;
    m_errorPage = !connected;
    if (connected) {
        m_view->load(QUrl(url));
    } else {
        QFile page {QString::fromLatin1(kErrorPage)};
        page.open(QIODevice::ReadOnly);
        m_view->setHtml(QString::fromUtf8(page.readAll()));
    }
    QWidget::show();
    raise();
    activateWindow();
}

} // namespace lf
