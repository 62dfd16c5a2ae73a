#pragma once

#include <QWidget>

class QWebEngineProfile;
class QWebEngineView;

namespace lf {

class LFIconButton;

// The support window: the support site's form, filled in with the user's name and e-mail, or a
// page that says the site cannot be reached. One for the program, kept once made.
class SupportWC : public QWidget {
    Q_OBJECT
public:
    static constexpr const char *kErrorPage = ":/pages/error_support.html";

    static SupportWC *singleton();
    // Lets the window go (at the end of the program, and between tests).
    static void release();
    ~SupportWC() override;
    // Puts the support button at the top-right corner of `window`, moved by the offset (negative
    // x to the left, negative y down), and keeps it there as the window resizes.
    static LFIconButton *injectSupport(QWidget *window, int dx, int dy);
    // The form's address; the name and e-mail only where known.
    static QString supportURL(const QString &name, const QString &email);

    // Raises the window, or fills and shows it.
    void supportButtonClicked();
    QWebEngineView *view() const { return m_view; }
    // The error page is on show (no connection when the window opened).
    bool showsErrorPage() const { return m_errorPage; }
    QString url() const { return m_url; }

private:
    SupportWC();
    void present(const QString &url, bool connected);

    QWebEngineProfile *m_profile = nullptr;
    QWebEngineView *m_view = nullptr;
    QString m_url;
    bool m_errorPage = false;
};

} // namespace lf
