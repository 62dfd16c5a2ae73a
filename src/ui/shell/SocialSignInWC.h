#pragma once

#include "shell/WebFlowWindow.h"

#include <QVariantMap>

namespace lf {

// Lets a site the user has an account with vouch for them: the site's pages in a web view, and
// on its callback a sign-in with the e-mail and token it handed back.
class SocialSignInWC : public WebFlowWindow {
    Q_OBJECT
public:
    // Opens (or raises) the window for the sign-in site `site` (a site record).
    static SocialSignInWC *requestWC(const QVariantMap &site, QWidget *mainWindow);
    // The window open for that site name, if any.
    static SocialSignInWC *windowFor(const QString &siteName);

protected:
    void handleCallback(const CallbackURL &callback) override;

private:
    SocialSignInWC(const QVariantMap &site, QWidget *mainWindow);

    QVariantMap m_service;
};

} // namespace lf
