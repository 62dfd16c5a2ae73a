#include "ShellFixture.h"

#include "shell/MainController.h"
#include "shell/MainWindow.h"
#include "shell/ProgressSheet.h"

#include "api/HttpTransport.h"
#include "foundation/Prefs.h"
#include "foundation/Workers.h"
#include "session/Service.h"
#include "share/ShareTask.h"
#include "support/DemoServer.h"
#include "toolkit/LFAlert.h"

#include <QApplication>
#include <QLabel>

namespace lf::test {

void ShellTest::SetUp() {
    Prefs::reloadLocation();
    QString error;
    server = startDemoServer(&error);
    ASSERT_TRUE(server) << error.toStdString();
    log = std::make_unique<NotificationRecorder>();
    setAlertRunner([this](const StandardAlert &alert) {
        alerts.append(alert);
        return answer;
    });
}

void ShellTest::TearDown() {
    shutDown();
    setAlertRunner({});
    log.reset();
    if (server)
        devCall("POST", QStringLiteral("/__dev/reset"));
    HttpTransport::shared().clearCookies();
    HttpTransport::shared().closeIdleConnections();
}

void ShellTest::launch() {
    app = std::make_unique<MacClientAppDelegate>();
    app->setTerminator([this] { ++quits; });
    app->setSignInRequester([this] { ++signInRequests; });
    app->applicationDidFinishLaunching();
}

void ShellTest::shutDown() {
    LFAlert::cleanupNoAction();
    if (app) {
        Workers::instance().waitForAll(10000);
        deliverMainThreadWork();
        app.reset();
    }
    Workers::instance().waitForAll(10000);
    ShareTask::terminate();
    Service::terminate();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void ShellTest::signIn() {
    app->authenticate(kDemoEmail, kDemoPassword, {});
    ASSERT_TRUE(waitForSignIn());
    ASSERT_TRUE(app->authenticated());
}

bool ShellTest::waitForSignIn() {
    const bool ended = waitUntil([this] { return !app->authenticating(); });
    Workers::instance().waitForAll(10000);
    deliverMainThreadWork();
    return ended && waitUntil([this] { return !app->progressSheet()->isUp(); });
}

QString ShellTest::balloonText() {
    LFAlert *alert = LFAlert::current();
    return alert && !alert->isClosed() ? alert->text() : QString();
}

QJsonValue ShellTest::devCall(const QByteArray &method, const QString &path, const QJsonObject &body) {
    return test::devCall(*server, method, path, body);
}

void ShellTest::fault(const char *method, const QString &path, const QJsonArray &responses) {
    devCall("POST", QStringLiteral("/__dev/faults"),
        QJsonObject {{"method", method}, {"path", path}, {"responses", responses}});
}

int ShellTest::requestCount(const QString &method, const QString &path) {
    int n = 0;
    for (const QJsonValue &r : devCall("GET", QStringLiteral("/__dev/requests")).toArray())
        n += r.toObject().value("method").toString() == method
            && r.toObject().value("path").toString().startsWith(path);
    return n;
}

} // namespace lf::test
