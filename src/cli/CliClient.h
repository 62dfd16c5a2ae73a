#pragma once

#include "sending/ShareTaskManager.h"
#include "session/Service.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace lf::cli {

// The headless application: what the desktop program does before it can share (first-run
// defaults, the session and its delegate, sign-in, the share queue), without a window. One per run.
class CliClient : public QObject, public ServiceDelegate {
public:
    CliClient();
    // Stops the share worker (a share in flight stays resumable) and waits for every worker.
    ~CliClient() override;

    Service &service() { return *m_service; }
    // "host:port" of the chosen server.
    static QString serverText();

    // From here on Ctrl-C (or SIGTERM) ends the waits below instead of the process.
    static void catchInterrupts();
    static bool interrupted();

    // Whether the server answers; prints why not. Exit code.
    int reachServer();
    // Password sign-in; stores the token. Exit code (the error printed).
    int signIn(const QString &email, const QString &password);
    // Sign-in with the stored user name and token. Exit code.
    int signInStored();
    bool signedIn() const { return m_signedIn; }
    // Loads the server address book on this thread.
    void loadContacts();

    // Takes the share queue and (with `restore`) restores the stored shares as the desktop
    // program does at sign-in. Exit code: fails when another process sends the shares.
    int openShareQueue(bool restore = true);
    // Drops the share queue (stopping the worker) and takes it again: a fresh start.
    int reopenShareQueue();
    // Stops the worker. Shares still queued stay marked as sent-but-unfinished, so the next start
    // or "resume" sends them on (a restored share is otherwise offered as a draft next time).
    void closeShareQueue();
    ShareTaskManager &manager() { return *m_manager; }
    bool hasShareQueue() const { return m_manager != nullptr; }

    // Runs the event loop until `done`, looking at it whenever the loop has delivered what came in;
    // false when interrupted first.
    bool waitFor(const std::function<bool()> &done);
    // Waits until every queued share and full-size upload is done and its reports delivered.
    bool waitUntilSharesDone();

    // Where the session's progress and bundle results go.
    void setProgressSink(std::function<void(const QVariantMap &)> sink) { m_progressSink = std::move(sink); }
    void setBundleResultSink(std::function<void(const QVariantMap &)> sink) {
        m_bundleResultSink = std::move(sink);
    }

    void serviceThreadCompleted(const QVariantMap &result) override;
    void serviceThreadProgress(const QVariantMap &progress) override;

private:
    int connectAndWait(const QString &email, const QString &password, const QString &token);
    QString signInFailureText(const QVariantMap &result, const QString &email) const;

    std::shared_ptr<Service> m_service;
    std::unique_ptr<ShareTaskManager> m_manager;
    std::optional<QVariantMap> m_connectResult;
    bool m_signedIn = false;
    std::function<void(const QVariantMap &)> m_progressSink;
    std::function<void(const QVariantMap &)> m_bundleResultSink;
    QStringList m_notices; // the credentials notices printed so far
};

// The server address book's contacts, or its groups, in list order.
QList<QVariantMap> addressBookEntries(Service &service, bool groups);
// The names of the server address book's groups, and of the sites linked to the account.
QStringList groupNames(Service &service);
QStringList linkedSiteNames(Service &service);

// The text of a failed request: the server's own message when it sent one, else the reason.
QString describeFailure(const APIResult &result);

} // namespace lf::cli
