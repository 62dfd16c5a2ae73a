#pragma once

#include "shell/WebFlowWindow.h"

namespace lf {

// Links a site to the account (to share to it, or to take contacts from it) through the site's
// pages in a web view. One window per site.
class ConsumerVC : public WebFlowWindow {
    Q_OBJECT
public:
    static constexpr int kLoadDelayMs = 10;

    // Raises the site's linking window, or opens one titled with `displayName`; then `load`.
    static ConsumerVC *requestConsumer(
        const QString &site, bool contactSource, const QString &displayName, QWidget *mainWindow);
    static ConsumerVC *windowFor(const QString &site);

    // Finds the site in the session's services answer and opens its linking page. A site not
    // listed exactly once leaves the loading text.
    void load();

protected:
    void handleCallback(const CallbackURL &callback) override;

private:
    ConsumerVC(const QString &site, bool contactSource, const QString &displayName, QWidget *mainWindow);

    bool m_contactSource = false;
};

} // namespace lf
