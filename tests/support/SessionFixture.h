#pragma once

#include "devserver/DevServer.h"
#include "foundation/NotificationCenter.h"
#include "session/Service.h"
#include "support/TempHome.h"
#include "support/Waits.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QStringList>

#include <memory>

namespace lf::test {

// Everything the session tells its delegate.
class RecordingDelegate : public ServiceDelegate {
public:
    void serviceThreadCompleted(const QVariantMap &result) override { completions.append(result); }
    void serviceThreadProgress(const QVariantMap &progress) override { progresses.append(progress); }
    int progressCount(const QString &what) const;
    QList<QVariantMap> completions;
    QList<QVariantMap> progresses;
};

// Every notification posted, on any thread.
class NotificationRecorder : public QObject {
public:
    NotificationRecorder();
    ~NotificationRecorder() override;
    int count(const QString &name, const QVariant &object = {}) const;
    QList<Notification> named(const QString &name) const;
    void clear();

private:
    mutable QMutex m_mutex;
    QList<Notification> m_all;
};

// A session against a fresh in-process reference server (demo seed, dev API), in a temporary home.
class SessionTest : public TempHomeTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // One sign-in; its result record.
    QVariantMap connect(const QString &email, const QString &password, const QString &token = {});
    // Signs in as the demo account, then forgets what that took: the server's request log,
    // the delegate's records and the notifications.
    void signIn();

    QJsonValue devCall(const QByteArray &method, const QString &path, const QJsonObject &body = {});
    void fault(const char *method, const QString &path, const QJsonArray &responses);
    // Requests the server saw since the last reset, optionally only those to `path`.
    QList<QJsonObject> requests(const QString &path = {});
    // The same as "METHOD path".
    QStringList requestLines();
    QJsonObject demoState();

    // Notifications named `name` so far; waits for `count` of them.
    QList<Notification> posted(const QString &name) const { return log->named(name); }
    bool waitFor(const QString &name, qsizetype count = 1);

    std::unique_ptr<dev::DevServer> server;
    RecordingDelegate delegate;
    std::shared_ptr<Service> service;
    std::unique_ptr<NotificationRecorder> log;
};

} // namespace lf::test
