// A signed-in session against the in-process reference server, with its dev API at hand.
#pragma once

#include "session/Service.h"

#include "devserver/DevServer.h"
#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Workers.h"
#include "support/DemoServer.h"
#include "support/TempHome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace lf::test {

class DevSessionTest : public TempHomeTest, public ServiceDelegate {
protected:
    void SetUp() override {
        Prefs::reloadLocation();
        QString error;
        server = startDemoServer(&error);
        ASSERT_TRUE(server) << error.toStdString();
        service = std::make_shared<Service>();
        service->setDelegate(this);
        NotificationCenter::defaultCenter().addObserver(&observerOwner, {}, [this](const Notification &n) {
            QMutexLocker lock(&notificationsMutex);
            notifications.append(n);
        });
    }
    void TearDown() override {
        Workers::instance().waitForAll(10000);
        pumpMainThreadUntil([] { return false; }, 20);
        NotificationCenter::defaultCenter().removeObserver(&observerOwner);
        if (service)
            service->setDelegate(nullptr);
        HttpTransport::shared().clearCookies();
        // Idle keep-alive connections would make the server's stop wait for them.
        HttpTransport::shared().closeIdleConnections();
    }
    void serviceThreadCompleted(const QVariantMap &result) override { results.append(result); }

    void signIn() {
        service->connect(QStringLiteral("demo@lanternfish.test"), QStringLiteral("lanternfish"));
        ASSERT_TRUE(pumpMainThreadUntil([&] { return !results.isEmpty(); }, 20000));
        ASSERT_FALSE(results.first().contains(QStringLiteral("error")))
            << results.first().value("error").toString().toStdString();
        Workers::instance().waitForAll(10000);
        devCall("POST", "/__dev/reset");
        pumpMainThreadUntil([] { return false; }, 20);
        QMutexLocker lock(&notificationsMutex);
        notifications.clear();
    }

    QJsonValue devCall(const QByteArray &method, const QString &path, const QJsonObject &body = {}) {
        return test::devCall(*server, method, path, body);
    }
    void fault(const char *method, const QString &path, const QJsonArray &responses) {
        devCall("POST", "/__dev/faults",
            QJsonObject {{"method", method}, {"path", path}, {"responses", responses}});
    }
    // "METHOD path" of each request since the last reset.
    QStringList requests() {
        QStringList out;
        for (const QJsonValue &r : devCall("GET", "/__dev/requests").toArray())
            out.append(r.toObject().value("method").toString() + ' ' + r.toObject().value("path").toString());
        return out;
    }
    QJsonObject demoState() {
        for (const QJsonValue &u : devCall("GET", "/__dev/state").toObject().value("users").toArray()) {
            if (u.toObject().value("email").toString() == QLatin1String("demo@lanternfish.test"))
                return u.toObject();
        }
        return {};
    }
    // Notifications named `name` delivered so far (on the main thread).
    QList<Notification> posted(const QString &name) const {
        QList<Notification> out;
        QMutexLocker lock(&notificationsMutex);
        for (const Notification &n : notifications) {
            if (n.name == name)
                out.append(n);
        }
        return out;
    }
    bool waitFor(const QString &name, qsizetype count = 1) {
        return pumpMainThreadUntil([&] { return posted(name).size() >= count; }, 20000);
    }

    std::unique_ptr<dev::DevServer> server;
    std::shared_ptr<Service> service;
    QList<QVariantMap> results;
    QObject observerOwner;
    mutable QMutex notificationsMutex;
    QList<Notification> notifications;
};

} // namespace lf::test
