#pragma once

#include "share/PhotoInfo.h"
#include "share/ShareTask.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace lf::cli {

class CliClient;

// Follows the share pipeline while the program waits: one progress line for the share being
// sent (in place on a terminal, plain lines otherwise), the desktop notifications as messages,
// and the outcome of every share that finishes.
class ShareMonitor : public QObject {
public:
    explicit ShareMonitor(CliClient &client);
    ~ShareMonitor() override;

    // Listens to the current share worker (again after the queue was reopened).
    void attach();
    // Ends the progress line.
    void finish();

    int sharedCount() const { return m_shared; }
    int failureCount() const { return m_failures; }

private:
    void onProgress(const QVariantMap &progress);
    void onBundleResult(const QVariantMap &result);
    void onGrowl(const QString &key);
    void onUploadDone(const ShareTaskPtr &task);
    void onPause(qint64 ms);
    void setState(const QString &state);
    void render(bool force = false);
    void clearLine();
    // A message on standard error that does not tear the progress line.
    void note(const QString &text);
    void result(const QString &text);
    static QString recipientsText(const ShareTaskPtr &task);

    CliClient &m_client;
    ShareTaskPtr m_finished; // its notification tells how it ended
    QHash<QString, QString> m_lastError; // by bundle guid
    QString m_state;
    int m_photoIndex = 0; // from 1; 0 before the first photo
    int m_photoCount = 0;
    qint64 m_sent = -1;
    qint64 m_total = -1;
    QString m_shownLine; // on a terminal: what the line shows now
    QString m_lastPlain; // otherwise: the last line printed, without its byte counts
    qint64 m_lastDrawMs = 0;
    int m_shared = 0;
    int m_failures = 0;
};

} // namespace lf::cli
