#include "shell/AppMenus.h"

#include "shell/MacClientAppDelegate.h"

#include "shell/MainController.h"
#include "shell/MainWindow.h"

#include "api/ServiceAPI.h"
#include "foundation/Credentials.h"
#include "foundation/Strings.h"
#include "session/Service.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QUrl>

namespace lf {

namespace {

constexpr const char *kTagProperty = "lfTag";

} // namespace

AppMenus::AppMenus(MacClientAppDelegate &app, QMainWindow *window, std::shared_ptr<Service> service)
    : QObject(window)
    , m_app(app)
    , m_window(window)
    , m_service(std::move(service)) {
    build();
}

void AppMenus::addTaggedAction(QMenu *menu, const QString &text, int tag, const std::function<void()> &action,
    const QKeySequence &shortcut) {
    QAction *item = menu->addAction(text);
    item->setProperty(kTagProperty, tag);
    if (!shortcut.isEmpty())
        item->setShortcut(shortcut);
    connect(item, &QAction::triggered, this, action);
}

void AppMenus::build() {
    QMenuBar *bar = m_window->menuBar();
    QMenu *file = bar->addMenu(localizedString("[MenuFile]"));
    addTaggedAction(
        file, localizedString("[MenuOpen]"), kTagOpen, [this] { m_app.doOpen(); }, QKeySequence::Open);
    addTaggedAction(
        file, localizedString("[MenuShowWindow]"), kTagShowWindow, [this] { m_app.showWindow(); });
    file->addSeparator();
    addTaggedAction(
        file, localizedString("[MenuPreferences]"), kTagPreferences, [this] { m_app.doPreferences(); },
        // The standard key is empty on most Linux desktops; Ctrl+, is what their programs use.
        QKeySequence(Qt::CTRL | Qt::Key_Comma));
    file->addSeparator();
    addTaggedAction(
        file, localizedString("[MenuQuit]"), kTagQuit, [this] { m_app.doQuit(); }, QKeySequence::Quit);

    QMenu *account = bar->addMenu(localizedString("[MenuAccount]"));
    addTaggedAction(account, localizedString("[MenuViewSent]"), 101, [this] { doDockMenu(101); });
    addTaggedAction(account, localizedString("[MenuViewReceived]"), 102, [this] { doDockMenu(102); });
    account->addSeparator();
    addTaggedAction(account, localizedString("[MenuSignIn]"), kTagSignIn, [this] { m_app.signInNeeded(); });
    addTaggedAction(account, localizedString("[MenuSignOut]"), kTagSignOut, [this] {
        if (m_app.checkSignOut())
            m_app.doSignOut();
    });

    QMenu *help = bar->addMenu(localizedString("[MenuHelp]"));
    addTaggedAction(help, localizedString("[MenuWelcome]"), kTagShowWindow,
        [this] { m_app.mainController()->doPlugInsPage(); });
    addTaggedAction(
        help, localizedString("[MenuAbout]"), kTagDockAbout, [this] { doDockMenu(kTagDockAbout); });

    // Shown only to internal users (showServerMenu puts it in the menu bar).
    m_serverMenu = new QMenu(localizedString("[MenuServer]"), m_window);
    for (int i = 0; i < ServiceAPI::kHostCount; ++i) {
        const ServiceAPI::HostEntry entry = ServiceAPI::hostEntry(i);
        const int tag = kTagServerFirst + i;
        addTaggedAction(m_serverMenu, entry.host, tag, [this, tag] { doServer(tag); });
        m_serverMenu->actions().last()->setCheckable(true);
    }

    for (QMenu *menu : {file, account, help, m_serverMenu}) {
        menu->setAccessibleName(menu->title().remove(QLatin1Char('&')));
        connect(menu, &QMenu::aboutToShow, this, [this, menu] { validateMenu(menu); });
        validateMenu(menu);
    }
}

bool AppMenus::validateMenuItem(int tag) const {
    if (tag == kTagShowWindow || tag == kTagPreferences || tag == kTagQuit || tag == kTagDockAbout)
        return true;
    if (tag == kTagSignOut || tag == kTagOpen)
        return m_app.authenticated();
    if (tag == kTagSignIn)
        return !m_app.authenticated() && !m_app.authenticating();
    if (tag >= kTagServerFirst && tag <= kTagServerLast)
        return true;
    if (tag >= kTagDockFirst && tag <= kTagDockLast)
        return m_app.authenticated();
    return false;
}

void AppMenus::validateMenu(QMenu *menu) const {
    const QString host = ServiceAPI::currentHost();
    for (QAction *item : menu->actions()) {
        const QVariant tag = item->property(kTagProperty);
        if (!tag.isValid())
            continue;
        item->setEnabled(validateMenuItem(tag.toInt()) || (tag.toInt() == kTagQuit && m_app.quitForced()));
        if (tag.toInt() >= kTagServerFirst && tag.toInt() <= kTagServerLast)
            item->setChecked(item->text().remove(QLatin1Char('&')) == host);
    }
}

void AppMenus::validateAll() const {
    if (!m_window)
        return;
    for (QMenu *menu : m_window->menuBar()->findChildren<QMenu *>())
        validateMenu(menu);
}

void AppMenus::showServerMenu(bool shown) {
    if (shown && !m_serverMenuLive) {
        m_serverMenuAction = m_window->menuBar()->addMenu(m_serverMenu);
        m_serverMenuLive = true;
    } else if (!shown && m_serverMenuLive) {
        m_window->menuBar()->removeAction(m_serverMenuAction);
        m_serverMenuAction = nullptr;
        m_serverMenuLive = false;
    }
}

void AppMenus::doServer(int tag) {
    if (tag < kTagServerFirst || tag > kTagServerLast)
        return;
    m_service->forgetToken();
    m_service->chooseHost(tag - kTagServerFirst);
    m_app.doSignOut();
    validateMenu(m_serverMenu);
}

void AppMenus::doDockMenu(int tag) {
    switch (tag) {
    case 100:
        m_app.activate();
        break;
    case 101:
        viewPanel(true);
        break;
    case 102:
        viewPanel(false);
        break;
    case kTagDockAbout:
        m_app.showWindow();
        QMessageBox::about(m_window, localizedString("[MenuAbout]"),
            localizedFormat(QStringLiteral("[AboutText]"), {Credentials::clientVersion()}));
        break;
    default:
        break;
    }
}

void AppMenus::viewPanel(bool sent) {
    const QString url = m_service->getClientBrowserURL(sent);
    if (!url.isEmpty())
        QDesktopServices::openUrl(QUrl(url));
}

} // namespace lf
