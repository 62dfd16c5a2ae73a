#include "shell/DockTile.h"

#include "shell/MacClientAppDelegate.h"

#include "foundation/Strings.h"
#include "platform/LauncherEntry.h"
#include "sending/ShareTaskManager.h"
#include "toolkit/Artwork.h"
#include "toolkit/ClockTimer.h"

#include <QAction>
#include <QApplication>
#include <QImageReader>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace lf {

namespace {

constexpr const char *kTagProperty = "lfDockTag";

} // namespace

DockTile::DockTile(Hooks hooks, QWidget *window, std::unique_ptr<LauncherEntry> launcher, QObject *parent)
    : QObject(parent)
    , m_hooks(std::move(hooks))
    , m_window(window)
    , m_launcher(std::move(launcher)) {
    m_dockTimer = new ClockTimer(this);
    connect(m_dockTimer, &ClockTimer::timeout, this, &DockTile::dockIconProgress);
    m_tray = new QSystemTrayIcon(this);
    m_tray->setToolTip(QStringLiteral("Lanternfish"));
    buildMenu();
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && m_hooks.menuAction)
            m_hooks.menuAction(100);
    });
    showRestingIcon();
    m_tray->show();
}

DockTile::~DockTile() {
    if (m_launcher)
        m_launcher->clear();
    delete m_dockMenu;
}

DockTile::Hooks DockTile::hooksFor(MacClientAppDelegate &delegate) {
    Hooks hooks;
    hooks.progress = [&delegate] {
        Progress progress;
        ShareTaskManager *manager = delegate.shareTaskManager();
        if (!manager || !delegate.checkIfSharing())
            return progress;
        progress.working = true;
        progress.fullSize = manager->isFullSize();
        progress.current = manager->currentShare();
        progress.count = manager->countShare();
        progress.sets = manager->setCount();
        return progress;
    };
    hooks.menuAction = [&delegate](int tag) {
        if (tag == MacClientAppDelegate::kTagQuit)
            delegate.doQuit();
        else
            delegate.doDockMenu(tag);
    };
    hooks.menuEnabled = [&delegate](int tag) { return delegate.validateMenuItem(tag); };
    return hooks;
}

void DockTile::buildMenu() {
    m_dockMenu = new QMenu;
    m_dockMenu->setAccessibleName(QStringLiteral("Lanternfish"));
    const auto add = [this](const char *key, int tag) {
        QAction *item = m_dockMenu->addAction(localizedString(key));
        item->setProperty(kTagProperty, tag);
        connect(item, &QAction::triggered, this, [this, tag] {
            if (m_hooks.menuAction)
                m_hooks.menuAction(tag);
        });
    };
    add("[MenuShowWindow]", 100);
    add("[MenuViewSent]", 101);
    add("[MenuViewReceived]", 102);
    m_dockMenu->addSeparator();
    add("[MenuAbout]", MacClientAppDelegate::kTagDockAbout);
    m_dockMenu->addSeparator();
    add("[MenuQuit]", MacClientAppDelegate::kTagQuit);
    connect(m_dockMenu, &QMenu::aboutToShow, this, [this] {
        for (QAction *item : m_dockMenu->actions()) {
            const QVariant tag = item->property(kTagProperty);
            if (tag.isValid() && m_hooks.menuEnabled)
                item->setEnabled(m_hooks.menuEnabled(tag.toInt()));
        }
    });
    m_tray->setContextMenu(m_dockMenu);
}

void DockTile::periodic() {
    const Progress progress = m_hooks.progress ? m_hooks.progress() : Progress {};
    if (!progress.working) {
        stopDockProgress();
        removeStatusLine();
        if (m_launcher)
            m_launcher->clear();
        emit statusChanged(QString(), 0.0);
        return;
    }
    if (!animating())
        startDockProgress();
    if (!m_dockMenuItem) {
        m_dockMenuItem = new QAction(QString::fromLatin1(kStatusPlaceholder), m_dockMenu);
        m_dockMenuItem->setEnabled(false);
        QAction *first = m_dockMenu->actions().value(0);
        m_dockMenu->insertAction(first, m_dockMenuItem);
        m_statusSeparator = m_dockMenu->insertSeparator(first);
    }
    QString status;
    if (progress.count != 0) {
        status = localizedFormat(QLatin1String(progress.fullSize ? "[shareFull]" : "[sharePreview]"),
            {QString::number(progress.current + 1), QString::number(progress.count)});
    } else {
        status = localizedString("[creating bundle]");
    }
    m_dockMenuItem->setText(status);
    m_tray->setToolTip(status);
    const double done = progress.count > 0 ? double(progress.current) / progress.count : 0.0;
    if (m_launcher)
        m_launcher->showProgress(done, progress.sets);
    emit statusChanged(status, done);
}

void DockTile::removeStatusLine() {
    if (!m_dockMenuItem)
        return;
    delete m_dockMenuItem;
    delete m_statusSeparator;
    m_dockMenuItem = nullptr;
    m_statusSeparator = nullptr;
    m_tray->setToolTip(QStringLiteral("Lanternfish"));
}

bool DockTile::animating() const {
    return m_dockTimer->isActive();
}

void DockTile::startDockProgress() {
    if (m_dockCount == 0) {
        m_dockPhase = 1;
        m_dockTimer->start(kFrameMs);
    }
    ++m_dockCount;
}

void DockTile::stopDockProgress() {
    if (m_dockCount > 0)
        --m_dockCount;
    if (m_dockCount > 0)
        return;
    const bool wasAnimating = animating();
    m_dockTimer->stop();
    if (wasAnimating || m_shownImage.startsWith(QLatin1String("lantern_")))
        showRestingIcon();
    if (m_hooks.checkIcons)
        m_hooks.checkIcons();
}

void DockTile::dockIconProgress() {
    const QString name = QStringLiteral("lantern_%1").arg(m_dockPhase);
    if (Artwork::hasImage(name))
        show(Artwork::icon(name), name);
    m_dockPhase = (m_dockPhase + 1) % Artwork::kLanternFrameCount;
}

bool DockTile::setDockIcon(const QString &path) {
    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull())
        return false;
    m_datedIcon = QIcon(QPixmap::fromImage(image));
    if (!animating())
        showRestingIcon();
    return true;
}

void DockTile::clearDockIcon() {
    m_datedIcon = QIcon();
    if (!animating())
        showRestingIcon();
}

// The dated icon of the day outlives the animation: clearing the frames returns to it, and only
// the updater's icon check takes it away.
void DockTile::showRestingIcon() {
    if (!m_datedIcon.isNull())
        show(m_datedIcon, QStringLiteral("dated"));
    else
        show(Artwork::applicationIcon(), QStringLiteral("application"));
}

void DockTile::show(const QIcon &icon, const QString &name) {
    if (m_shownImage == name && name != QLatin1String("dated"))
        return;
    m_shownImage = name;
    m_tray->setIcon(icon);
    if (m_window)
        m_window->setWindowIcon(icon);
}

} // namespace lf
