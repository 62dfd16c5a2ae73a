#include "support/SessionFixture.h"

#include "api/HttpTransport.h"
#include "foundation/Prefs.h"
#include "foundation/Workers.h"
#include "support/DemoServer.h"

namespace lf::test {

namespace {
const QString kDemoEmail = QStringLiteral("demo@lanternfish.test");
} // namespace

int RecordingDelegate::progressCount(const QString &what) const {
    return int(std::count_if(progresses.cbegin(), progresses.cend(),
        [&](const QVariantMap &p) { return p.value(QStringLiteral("what")).toString() == what; }));
}

NotificationRecorder::NotificationRecorder() {
    NotificationCenter::defaultCenter().addObserver(this, {}, [this](const Notification &n) {
        QMutexLocker lock(&m_mutex);
        m_all.append(n);
    });
}

NotificationRecorder::~NotificationRecorder() {
    NotificationCenter::defaultCenter().removeObserver(this);
}

int NotificationRecorder::count(const QString &name, const QVariant &object) const {
    QMutexLocker lock(&m_mutex);
    return int(std::count_if(m_all.cbegin(), m_all.cend(),
        [&](const Notification &n) { return n.name == name && (!object.isValid() || n.object == object); }));
}

QList<Notification> NotificationRecorder::named(const QString &name) const {
    QMutexLocker lock(&m_mutex);
    QList<Notification> out;
    for (const Notification &n : m_all) {
        if (n.name == name)
            out.append(n);
    }
    return out;
}

void NotificationRecorder::clear() {
    QMutexLocker lock(&m_mutex);
    m_all.clear();
}

void SessionTest::SetUp() {
    Prefs::reloadLocation();
    QString error;
    server = startDemoServer(&error);
    ASSERT_TRUE(server) << error.toStdString();
    service = std::make_shared<Service>();
    service->setDelegate(&delegate);
    log = std::make_unique<NotificationRecorder>();
}

void SessionTest::TearDown() {
    Workers::instance().waitForAll(10000);
    deliverMainThreadWork();
    if (service)
        service->setDelegate(nullptr);
    log.reset();
    if (server)
        devCall("POST", QStringLiteral("/__dev/reset")); // releases stalled requests
    HttpTransport::shared().clearCookies();
    // Idle keep-alive connections would make the server's stop wait for them.
    HttpTransport::shared().closeIdleConnections();
}

QVariantMap SessionTest::connect(const QString &email, const QString &password, const QString &token) {
    const qsizetype before = delegate.completions.size();
    service->connect(email, password, token);
    EXPECT_TRUE(waitUntil([&] { return delegate.completions.size() > before; }));
    return delegate.completions.value(before);
}

void SessionTest::signIn() {
    const QVariantMap result = connect(kDemoEmail, QStringLiteral("lanternfish"));
    ASSERT_FALSE(result.isEmpty());
    ASSERT_FALSE(result.contains(QStringLiteral("error"))) << result.value("error").toString().toStdString();
    // What sign-in started on workers (site icons) is over before the test begins.
    Workers::instance().waitForAll(10000);
    deliverMainThreadWork();
    devCall("POST", QStringLiteral("/__dev/reset"));
    delegate.completions.clear();
    delegate.progresses.clear();
    log->clear();
}

QJsonValue SessionTest::devCall(const QByteArray &method, const QString &path, const QJsonObject &body) {
    return test::devCall(*server, method, path, body);
}

void SessionTest::fault(const char *method, const QString &path, const QJsonArray &responses) {
    devCall("POST", QStringLiteral("/__dev/faults"),
        QJsonObject {{"method", method}, {"path", path}, {"responses", responses}});
}

QList<QJsonObject> SessionTest::requests(const QString &path) {
    QList<QJsonObject> out;
    for (const QJsonValue &r : devCall("GET", QStringLiteral("/__dev/requests")).toArray()) {
        if (path.isEmpty() || r.toObject().value("path").toString() == path)
            out.append(r.toObject());
    }
    return out;
}

QStringList SessionTest::requestLines() {
    QStringList out;
    for (const QJsonObject &r : requests())
        out.append(r.value("method").toString() + ' ' + r.value("path").toString());
    return out;
}

QJsonObject SessionTest::demoState() {
    for (const QJsonValue &u :
        devCall("GET", QStringLiteral("/__dev/state")).toObject().value("users").toArray()) {
        if (u.toObject().value("email").toString() == kDemoEmail)
            return u.toObject();
    }
    return {};
}

bool SessionTest::waitFor(const QString &name, qsizetype count) {
    return waitUntil([&] { return log->named(name).size() >= count; });
}

} // namespace lf::test
