#pragma once

#include <QPointer>
#include <QUrl>
#include <QWidget>

class QWebEngineProfile;
class QWebEngineView;

namespace lf {

// The server's welcome and tips page, in a window of its own placed beside the main window and
// sized to the page. Cookies and cache stay in memory: the page is shown, never signed in to.
class WelcomeWindow : public QWidget {
    Q_OBJECT
public:
    // The script that makes the page as large as its content (plus 16 and 24 points).
    static const char *const kResizeScript;
    // Text shown when the page cannot be loaded.
    static constexpr const char *kClosedText = "closed";

    explicit WelcomeWindow(QWidget *mainWindow);
    ~WelcomeWindow() override;

    void load(const QUrl &url);
    // Whether a link opens inside the window (help and welcome pages) rather than in the browser.
    static bool followsInside(const QUrl &url);
    // The window was placed and shown for the current page.
    bool didShow() const { return m_didShow; }
    QWebEngineView *view() const { return m_view; }

private:
    void loaded(bool ok);
    void placeBesideMainWindow();

    QPointer<QWidget> m_mainWindow;
    QWebEngineProfile *m_profile = nullptr;
    QWebEngineView *m_view = nullptr;
    bool m_didShow = false;
};

} // namespace lf
