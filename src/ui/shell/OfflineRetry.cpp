#include "shell/OfflineRetry.h"

#include "shell/ShellAreas.h"

#include "api/APIResult.h"
#include "api/HttpTransport.h"
#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "session/Service.h"
#include "toolkit/LFAlert.h"

#include <QApplication>
#include <QWidget>

namespace lf {

OfflineRetry::OfflineRetry(std::shared_ptr<Service> service, QWidget *window, QObject *alertTarget,
    std::function<void()> reconnected, QObject *parent)
    : QObject(parent)
    , m_service(std::move(service))
    , m_window(window)
    , m_alertTarget(alertTarget)
    , m_reconnected(std::move(reconnected)) { }

bool OfflineRetry::checkNetError(const APIResult &result, const QString &title) {
    Q_UNUSED(title) // callers name the request; it is not shown
    m_lastNetStatus = result.httpStatus();
    if (!result.contains(QLatin1String(ResultKey::HttpStatusStr)))
        return true;
    QString message = result.bodyMessage();
    if (message.isEmpty())
        message = result.httpStatusString();
    bool offline = m_lastNetStatus == NetError::NotConnected;
    // The user must always be able to quit while the network is in trouble.
    if (m_window) {
        if (QWidget *focus = m_window->focusWidget())
            focus->clearFocus();
    }
    m_quitForced = true;
    if (message.contains(QLatin1String("DOCTYPE"))) {
        // An HTML error page is never shown.
        message = localizedString("[500]");
        offline = m_lastNetStatus == 500;
    }
    NotificationCenter::defaultCenter().post(
        QLatin1String(kAdjustFieldOnErrorNotification), result.variant());
    LFAlert *alert = LFAlert::alertWithString(message, QApplication::focusWidget());
    alert->setTarget(m_alertTarget);
    if (offline) {
        alert->setAction("balloonQuit");
        alert->setIdleAction([this](LFAlert *a) { checkNetwork(a); });
    } else {
        alert->runModal();
    }
    return false;
}

void OfflineRetry::checkNetwork(LFAlert *alert) {
    // The check is a request: on a worker, so a server that stalls never freezes the window. One
    // at a time; the balloon asks again every few seconds anyway.
    if (m_checking)
        return;
    m_checking = true;
    const std::shared_ptr<Service> service = m_service;
    const QPointer<LFAlert> balloon(alert);
    const QPointer<OfflineRetry> self(this);
    const bool started
        = Workers::instance().start(QStringLiteral("connection check"), [service, balloon, self] {
              const bool connected = service->checkConnection();
              runOnMainThread([balloon, connected, self] {
                  if (self)
                      self->connectionChecked(balloon, connected);
              });
          });
    if (!started)
        m_checking = false;
}

void OfflineRetry::connectionChecked(LFAlert *alert, bool connected) {
    m_checking = false;
    // Only while the balloon that asked is still up: the user may have quit it meanwhile.
    if (!connected || !alert || alert->isClosed() || LFAlert::current() != alert)
        return;
    LFAlert::cleanupNoAction();
    m_quitForced = false;
    if (m_reconnected)
        m_reconnected();
}

} // namespace lf
