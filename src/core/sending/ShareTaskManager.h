#pragma once

#include "foundation/MainThread.h"
#include "sending/ShareTaskThread.h"
#include "share/ShareTask.h"

#include <QList>
#include <QLockFile>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

namespace lf {

class Service;
struct Notification;

// Notifications about the current task.
inline constexpr const char *kShareTaskChangedNotification = "shareTaskChanged";
inline constexpr const char *kShareTaskLoadedNotification = "shareTaskLoaded";
inline constexpr const char *kShareTaskCleanupNotification = "shareTaskCleanup";

// The lock file in the cache folder held by the one process that sends and resumes shares.
inline constexpr const char *kShareQueueLockName = "share-queue.lock";

// The application's entry to the share pipeline: keeps the list of live share-set folders
// (preference "bundles"), saves tasks on a save thread, sends the current task, restores
// interrupted shares at start-up and cleans up finished ones. Main-thread object.
class ShareTaskManager : public QObject {
    Q_OBJECT
public:
    // Takes the share-queue lock when no other process holds it, and starts the worker.
    explicit ShareTaskManager(std::shared_ptr<Service> service, QObject *parent = nullptr);
    // Waits for the save thread and stops the worker.
    ~ShareTaskManager() override;

    static ShareTaskManager *singleton();
    ShareTaskThread &shareTaskThread() { return *m_shareTaskThread; }
    // Whether this process owns the share queue. Without it, shares of other runs are left alone.
    bool ownsQueue() const { return m_ownsQueue; }
    // The live process that holds the share queue (possibly this one), or 0 when none does.
    static qint64 queueHolder();

    // Played on Share when "playSounds" is on; the window provides it. Without one, no sound.
    void setShareSound(std::function<void()> play) { m_shareSound = std::move(play); }

    void loadCurrentShareTask();
    ShareTaskPtr loadShareTaskWithPath(const QString &path);
    void deleteShareTaskWithPath(const QString &path);
    void rememberShareTask();
    void newShareTask();
    void storeCurrentShareTask();
    void saveShareTask(const ShareTaskPtr &task);
    void sendCurrentShareTask();
    void cancelAllShareTasks();
    void checkStagedUploads(const ShareTaskPtr &task);

    bool isWorking() const;
    bool isFullSize() const;
    int currentShare() const { return m_shareTaskThread->currentShare(); }
    int countShare() const { return m_shareTaskThread->countShare(); }
    int setCount() const { return m_shareTaskThread->setCount(); }

    QStringList bundlePaths() const;
    void setBundlePaths(const QStringList &paths);
    QList<ShareTaskPtr> saveQueue() const;

    // The signed-in account; only its shares are restored, sent and shown.
    ShareOwner signedInOwner() const;
    // Whether the task is the signed-in account's (a task without an owner is anybody's).
    bool ownedBySignedInUser(const ShareTaskPtr &task) const;
    // Waits (delivering main-thread work) until the save thread has emptied its queue.
    bool waitForSaves(int timeoutMs = -1);

private:
    void notification(const Notification &notification);
    void saveShareTaskThread();
    void addBundlePath(const QString &path);
    void removeBundlePath(const QString &path);
    void storeBundlePaths(const QStringList &paths);
    void deleteTask(const QString &path);
    // Makes a task without an owner the signed-in account's; true when it did.
    bool claim(const ShareTaskPtr &task) const;
    // Gives the stored staged uploads of a finished share back to the worker; false when none
    // is left.
    bool requeueStaged(const ShareTaskPtr &task);
    // Start-up: removes share-set folders that no stored share names.
    void sweepOrphanFolders(const QStringList &remembered);
    // Start-up: goes through the stored shares; true when an interrupted one was resumed.
    bool walkStoredShares(const QStringList &remembered);
    // Sends an interrupted share again when all its photos are still there; else deletes it.
    bool resumeInterrupted(const ShareTaskPtr &task, const QString &path);

    std::shared_ptr<Service> m_service;
    // bundlePaths and the preference change from the main thread and the save thread.
    mutable QMutex m_pathsMutex;
    QStringList m_bundlePaths;
    std::unique_ptr<ShareTaskThread> m_shareTaskThread;
    mutable QMutex m_saveMutex;
    QList<ShareTaskPtr> m_saveQueue;
    std::atomic<bool> m_saveThreadRunning {false};
    MainThreadWaiter m_savesDone;
    bool m_loadMutex = false;
    // Withdrawn shares whose "uploadDone" is still to come; it changes nothing.
    QList<ShareTaskPtr> m_cancelled;
    std::unique_ptr<QLockFile> m_queueLock;
    bool m_ownsQueue = false;
    std::function<void()> m_shareSound;
};

} // namespace lf
