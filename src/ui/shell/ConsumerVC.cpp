#include "shell/ConsumerVC.h"

#include "shell/MainController.h"

#include "contacts/AddressBookUtil.h"
#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Strings.h"
#include "foundation/TextRules.h"
#include "foundation/Workers.h"
#include "session/Service.h"

#include <QHash>
#include <QPointer>
#include <QTimer>
#include <QWebEngineView>

namespace lf {

namespace {

QHash<QString, QPointer<ConsumerVC>> s_consumers;

} // namespace

ConsumerVC::ConsumerVC(
    const QString &site, bool contactSource, const QString &displayName, QWidget *mainWindow)
    : WebFlowWindow(site, mainWindow)
    , m_contactSource(contactSource) {
    setObjectName(QStringLiteral("ConsumerVC"));
    setWindowTitle(localizedFormat(QStringLiteral("[Linking]"), {displayName}));
    setAccessibleName(windowTitle());
    view()->setAccessibleName(windowTitle());
}

ConsumerVC *ConsumerVC::requestConsumer(
    const QString &site, bool contactSource, const QString &displayName, QWidget *mainWindow) {
    ConsumerVC *consumer = windowFor(site);
    if (!consumer) {
        consumer = new ConsumerVC(site, contactSource, displayName, mainWindow);
        s_consumers.insert(site, consumer);
    }
    consumer->bringToFront();
    return consumer;
}

ConsumerVC *ConsumerVC::windowFor(const QString &site) {
    return s_consumers.value(site).data();
}

void ConsumerVC::load() {
    const std::shared_ptr<Service> service = Service::currentService();
    const QString capability = QLatin1String(m_contactSource ? "address_source" : "destination");
    const QString name = site();
    QPointer<ConsumerVC> self(this);
    QTimer::singleShot(kLoadDelayMs, this, [self, service, capability, name] {
        // The stored answer; only when there is none yet is it asked for, off the main thread.
        Workers::instance().start(QStringLiteral("linking"), [self, service, capability, name] {
            APIResult consumers = service->consumers();
            if (consumers.isError() || consumers.isNothing())
                consumers = service->getConsumers();
            QVariantList matches;
            for (const QVariant &entry : consumers.value(QStringLiteral("services")).toList()) {
                const QVariantMap record = entry.toMap();
                if (record.value(QStringLiteral("capabilities")).toMap().value(capability).toInt() == 1
                    && record.value(QStringLiteral("name")).toString() == name)
                    matches.append(record);
            }
            if (matches.size() != 1)
                return;
            HttpRequest request;
            request.url = matches.first().toMap().value(QStringLiteral("uri")).toString()
                + QStringLiteral("?callback=%1")
                      .arg(percentEscape(QStringLiteral("lanternfish://callback/") + name));
            service->personalizeRequest(request);
            runOnMainThread([self, request] {
                if (!self)
                    return;
                self->start(request);
            });
        });
    });
}

void ConsumerVC::handleCallback(const CallbackURL &callback) {
    NotificationCenter &center = NotificationCenter::defaultCenter();
    const QString error = callback.value("error");
    if (!error.isEmpty()) {
        if (error != QLatin1String("access_denied"))
            center.post(QLatin1String(kGrowl), error);
        return;
    }
    if (callback.has("notice"))
        center.post(QLatin1String(kGrowl), callback.value("notice"));
    const std::shared_ptr<Service> service = Service::currentService();
    if (m_contactSource) {
        Workers::instance().start(QStringLiteral("services"), [service] {
            service->getConsumers();
            NotificationCenter::defaultCenter().postNotificationMainThread(
                QLatin1String(kUpdateExternalNotification));
        });
    } else {
        service->setSitesDirty(true);
        center.post(QLatin1String(MainController::kSitesChanged));
    }
}

} // namespace lf
