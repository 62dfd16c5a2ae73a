// The delegate's menus: building them with their tags, enabling them, and their actions.
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
#include <QMenuBar>
#include <QMessageBox>
#include <QUrl>

namespace lf {

namespace {

constexpr const char *kTagProperty = "lfTag";

} // namespace

void MacClientAppDelegate::addTaggedAction(QMenu *menu, const QString &text, int tag,
    const std::function<void()> &action, const QKeySequence &shortcut) {
    QAction *item = menu->addAction(text);
    item->setProperty(kTagProperty, tag);
    if (!shortcut.isEmpty())
        item->setShortcut(shortcut);
    connect(item, &QAction::triggered, this, action);
}

void MacClientAppDelegate::buildMenus() {
    QMenuBar *bar = m_window->menuBar();
    m_appMenu = bar->addMenu(localizedString("[MenuFile]"));
    addTaggedAction(
        m_appMenu, localizedString("[MenuOpen]"), kTagOpen, [this] { doOpen(); }, QKeySequence::Open);
    addTaggedAction(m_appMenu, localizedString("[MenuShowWindow]"), kTagShowWindow, [this] { showWindow(); });
    m_appMenu->addSeparator();
    addTaggedAction(
        m_appMenu, localizedString("[MenuPreferences]"), kTagPreferences,
        [this] {
            if (m_preferencesRequester)
                m_preferencesRequester();
        },
        // The standard key is empty on most Linux desktops; Ctrl+, is what their programs use.
        QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_appMenu->addSeparator();
    addTaggedAction(
        m_appMenu, localizedString("[MenuQuit]"), kTagQuit, [this] { doQuit(); }, QKeySequence::Quit);

    QMenu *account = bar->addMenu(localizedString("[MenuAccount]"));
    addTaggedAction(account, localizedString("[MenuViewSent]"), 101, [this] { doDockMenu(101); });
    addTaggedAction(account, localizedString("[MenuViewReceived]"), 102, [this] { doDockMenu(102); });
    account->addSeparator();
    addTaggedAction(account, localizedString("[MenuSignIn]"), kTagSignIn, [this] { signInNeeded(); });
    addTaggedAction(account, localizedString("[MenuSignOut]"), kTagSignOut, [this] {
        if (checkSignOut())
            doSignOut();
    });

    QMenu *help = bar->addMenu(localizedString("[MenuHelp]"));
    addTaggedAction(help, localizedString("[MenuWelcome]"), kTagShowWindow,
        [this] { m_mainController->doPlugInsPage(); });
    addTaggedAction(
        help, localizedString("[MenuAbout]"), kTagDockAbout, [this] { doDockMenu(kTagDockAbout); });

    // Shown only to internal users (checkInternal puts it in the menu bar).
    m_serverMenu = new QMenu(localizedString("[MenuServer]"), m_window);
    for (int i = 0; i < ServiceAPI::kHostCount; ++i) {
        const ServiceAPI::HostEntry entry = ServiceAPI::hostEntry(i);
        const int tag = kTagServerFirst + i;
        addTaggedAction(m_serverMenu, entry.host, tag, [this, tag] { doServer(tag); });
        m_serverMenu->actions().last()->setCheckable(true);
    }

    for (QMenu *menu : {m_appMenu, account, help, m_serverMenu}) {
        menu->setAccessibleName(menu->title().remove(QLatin1Char('&')));
        connect(menu, &QMenu::aboutToShow, this, [this, menu] { validateMenu(menu); });
        validateMenu(menu);
    }
}

bool MacClientAppDelegate::validateMenuItem(int tag) const {
    if (tag == kTagShowWindow || tag == kTagPreferences || tag == kTagQuit || tag == kTagDockAbout)
        return true;
    if (tag == kTagSignOut || tag == kTagOpen)
        return m_authenticated;
    if (tag == kTagSignIn)
        return !m_authenticated && !m_authenticating;
    if (tag >= kTagServerFirst && tag <= kTagServerLast)
        return true;
    if (tag >= kTagDockFirst && tag <= kTagDockLast)
        return m_authenticated;
    return false;
}

void MacClientAppDelegate::validateMenu(QMenu *menu) const {
    const QString host = ServiceAPI::currentHost();
    for (QAction *item : menu->actions()) {
        const QVariant tag = item->property(kTagProperty);
        if (!tag.isValid())
            continue;
        item->setEnabled(validateMenuItem(tag.toInt()) || (tag.toInt() == kTagQuit && m_quitMenuForced));
        if (tag.toInt() >= kTagServerFirst && tag.toInt() <= kTagServerLast)
            item->setChecked(item->text().remove(QLatin1Char('&')) == host);
    }
}

void MacClientAppDelegate::doServer(int tag) {
    if (tag < kTagServerFirst || tag > kTagServerLast)
        return;
    m_service->forgetToken();
    m_service->chooseHost(tag - kTagServerFirst);
    doSignOut();
    validateMenu(m_serverMenu);
}

void MacClientAppDelegate::doDockMenu(int tag) {
    switch (tag) {
    case 100:
        activate();
        break;
    case 101:
        viewPanel(true);
        break;
    case 102:
        viewPanel(false);
        break;
    case kTagDockAbout:
        showWindow();
        QMessageBox::about(m_window, localizedString("[MenuAbout]"),
            localizedFormat(QStringLiteral("[AboutText]"), {Credentials::clientVersion()}));
        break;
    default:
        break;
    }
}

void MacClientAppDelegate::viewPanel(bool sent) {
    const QString url = m_service->getClientBrowserURL(sent);
    if (!url.isEmpty())
        QDesktopServices::openUrl(QUrl(url));
}

} // namespace lf
