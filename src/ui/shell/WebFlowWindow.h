#pragma once

#include "api/HttpTransport.h"

#include <QMap>
#include <QString>
#include <QWidget>

class QProgressBar;
class QWebEngineProfile;
class QWebEngineView;

namespace lf {

// What the server hands back at the end of a web flow: "lanternfish://callback.SITE?..." (sign-in)
// or "lanternfish://callback/SITE?..." (linking), read from the text after the scheme.
struct CallbackURL {
    // The part before "?", e.g. "callback.chirp".
    QString target;
    // Keys and values, each percent-decoded exactly once; "+" is a space in "notice" and "error".
    QMap<QString, QString> params;

    static CallbackURL parse(const QString &afterScheme);
    // For the site named exactly `site` (either form).
    bool isFor(const QString &site) const;
    QString value(const char *key) const { return params.value(QLatin1String(key)); }
    bool has(const char *key) const { return params.contains(QLatin1String(key)); }
};

// A window with an embedded web view through which a site vouches for the user or is linked.
// Each window has its own off-the-record profile (its own cookies, nothing on disk) and catches
// the lanternfish: callback that ends the flow through that profile's scheme handler: a callback
// from anywhere else (the desktop, another window) never reaches it. It acts on one callback for
// its site that carries the flow's random state, while it waits, then closes; a hidden window
// closes. It is a top-level window, so a sheet on the main window does not block its input.
class WebFlowWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr const char *kScheme = "lanternfish";
    static constexpr const char *kGrowl = "growl";
    static constexpr int kStartDelayMs = 100;

    // Registers the URL scheme with the web engine; before the QApplication exists.
    static void registerUrlScheme();

    ~WebFlowWindow() override;

    QWebEngineView *view() const { return m_view; }
    QWebEngineProfile *profile() const { return m_profile; }
    QString site() const { return m_site; }
    // Still waiting for the callback that ends the flow.
    bool waiting() const { return m_waiting; }
    // Shows the window in front of the others, with the keyboard focus.
    void bringToFront();
    // Pages that loaded, for tests and the activity indicator.
    int loadCount() const { return m_loadCount; }
    // The address the flow started at (with its state), once started.
    QString url() const { return m_url; }
    // What this window's own scheme handler caught (the text after "lanternfish://").
    void callbackCaught(const QString &afterScheme);

protected:
    WebFlowWindow(const QString &site, QWidget *mainWindow);

    // Shows the loading text, then loads `request` with its headers and the flow's state.
    void start(HttpRequest request);
    // The window's own callback, once; the window closes right after.
    virtual void handleCallback(const CallbackURL &callback) = 0;
    void placeBeside(QWidget *mainWindow);
    void hideEvent(QHideEvent *event) override;

private:
    void loaded(bool ok);

    QString m_site;
    QString m_state;
    QString m_url;
    QWebEngineProfile *m_profile = nullptr;
    QWebEngineView *m_view = nullptr;
    QProgressBar *m_activity = nullptr;
    bool m_waiting = false;
    int m_loadCount = 0;
};

} // namespace lf
