#include "shell/SocialSignInWC.h"

#include "shell/MacClientAppDelegate.h"

#include "api/ServiceAPI.h"
#include "foundation/NotificationCenter.h"
#include "foundation/OSInfo.h"
#include "foundation/Strings.h"
#include "foundation/TextRules.h"
#include "session/Service.h"

#include <QHash>
#include <QPointer>
#include <QWebEngineView>

namespace lf {

namespace {

QHash<QString, QPointer<SocialSignInWC>> s_windows;

} // namespace

SocialSignInWC::SocialSignInWC(const QVariantMap &record, QWidget *mainWindow)
    : WebFlowWindow(record.value(QStringLiteral("name")).toString(), mainWindow)
    , m_service(record) {
    setObjectName(QStringLiteral("SocialSignInWC"));
    const QString shown = record.value(QStringLiteral("display_name")).toString();
    setWindowTitle(localizedFormat(QStringLiteral("[RegisteringVia]"), {shown}));
    setAccessibleName(windowTitle());
    view()->setAccessibleName(windowTitle());
    const QString uri = record.value(QStringLiteral("uri")).toString();
    ServiceAPI::nukeCookies(uri);
    HttpRequest request;
    request.url = uri
        + QStringLiteral("?source=%1&callback=%2")
              .arg(percentEscape(QLatin1String(kPlatformWord)),
                  percentEscape(QStringLiteral("lanternfish://callback.") + site()));
    Service::currentService()->upersonalizeRequest(request);
    start(request);
    // Signed in another way meanwhile (a script, the sheet): this flow has nothing left to do.
    NotificationCenter::defaultCenter().addObserver(
        this, QLatin1String(ClientAction::Connect), [this](const Notification &n) {
            if (n.object.toString() == QLatin1String("success") && waiting())
                close();
        });
}

SocialSignInWC *SocialSignInWC::requestWC(const QVariantMap &site, QWidget *mainWindow) {
    const QString name = site.value(QStringLiteral("name")).toString();
    SocialSignInWC *window = windowFor(name);
    if (!window) {
        window = new SocialSignInWC(site, mainWindow);
        s_windows.insert(name, window);
    }
    window->bringToFront();
    return window;
}

SocialSignInWC *SocialSignInWC::windowFor(const QString &siteName) {
    const QPointer<SocialSignInWC> window = s_windows.value(siteName);
    return window && window->waiting() ? window.data() : nullptr;
}

void SocialSignInWC::handleCallback(const CallbackURL &callback) {
    NotificationCenter &center = NotificationCenter::defaultCenter();
    const QString error = callback.value("error");
    if (error == QLatin1String("access_denied"))
        return;
    if (!error.isEmpty()) {
        center.post(QLatin1String(kGrowl), error);
        return;
    }
    const QString notice = callback.value("notice");
    const QString token = callback.value("user_token");
    const QString email = callback.value("email");
    if (!token.isEmpty() && !email.isEmpty()) {
        if (MacClientAppDelegate *app = MacClientAppDelegate::singleton())
            app->authenticate(email, {}, token);
        center.post(QLatin1String(MacClientAppDelegate::kAuthenticated), notice);
    }
    if (!notice.isEmpty())
        center.post(QLatin1String(kGrowl), notice);
}

} // namespace lf
