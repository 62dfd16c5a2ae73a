#include "shell/WindowPresenter.h"

#include "shell/MainWindow.h"
#include "shell/WindowFrame.h"

#include <QTimer>

namespace lf {

WindowPresenter::WindowPresenter(MainWindow *window, std::function<void()> reshown, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_reshown(std::move(reshown)) {
    connect(m_window, &MainWindow::frameChanged, this, &WindowPresenter::frameChanged);
}

void WindowPresenter::show() {
    const bool wasVisible = m_window->isVisible();
    if (!m_adjusted) {
        WindowFrame::restore(m_window);
        // The gradient and the logo are the window's own; from here on its frame is worth keeping.
        m_adjusted = true;
    }
    // Activation (a second start, the tray, the desktop) must bring back a minimised window too.
    if (m_window->isMinimized())
        m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    if (!wasVisible && m_showCount > 0 && m_reshown)
        m_reshown();
    ++m_showCount;
}

void WindowPresenter::storeFrame() {
    if (m_window && m_adjusted)
        WindowFrame::store(m_window->geometry());
}

void WindowPresenter::frameChanged() {
    if (!m_adjusted || !m_window->isVisible())
        return;
    // One write when the user stops dragging, not one per step.
    static constexpr int kSettleMs = 400;
    auto *settle = m_window->findChild<QTimer *>(QStringLiteral("frameSettle"));
    if (!settle) {
        settle = new QTimer(m_window);
        settle->setObjectName(QStringLiteral("frameSettle"));
        settle->setSingleShot(true);
        connect(settle, &QTimer::timeout, this, [this] { storeFrame(); });
    }
    settle->start(kSettleMs);
}

} // namespace lf
