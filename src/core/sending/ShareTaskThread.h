#pragma once

#include "sending/BundleUploader.h"
#include "share/ShareTask.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace lf {

class Service;

// Notifications of the share worker.
inline constexpr const char *kUploadDoneNotification = "uploadDone";
inline constexpr const char *kStagedUploadDoneNotification = "stagedUploadDone";
inline constexpr const char *kGrowlNotification = "growl";
inline constexpr const char *kConnectionEstablishedNotification = "connectionEstablished";
inline constexpr const char *kShareTaskCancelledNotification = "shareTaskCancelled";
inline constexpr const char *kProgressNotification = "progress";

// Desktop-notification keys, the object of "growl".
namespace GrowlKey {
inline constexpr const char *NetLost = "[growlNet-]";
inline constexpr const char *NetBack = "[growlNet+]";
inline constexpr const char *SuccessScreen = "[growlSuccessScreen]";
// A share that reached the server without some of its photos (refused, vanished or unreadable).
inline constexpr const char *SuccessMissing = "[growlSuccessMissing]";
inline constexpr const char *SuccessFull = "[growlSuccessFull]";
inline constexpr const char *Fail = "[growlFail]";
} // namespace GrowlKey

// Keys the worker adds to a queued share request.
namespace RequestKey {
inline constexpr const char *OnHold = "on_hold";
inline constexpr const char *OnHoldCheck = "check";
inline constexpr const char *Cancelled = "cancelled";
inline constexpr const char *CancelledMark = "!";
// How many photos were skipped because the server refused them for good.
inline constexpr const char *SkippedPhotos = "skippedPhotos";
} // namespace RequestKey

// Keys of the "progress" notification's object.
namespace ForceProgressKey {
inline constexpr const char *String = "string";
inline constexpr const char *ForceUp = "forceUp";
inline constexpr const char *BackingUpText = "[BackingUp]";
} // namespace ForceProgressKey

// A photo file larger than this is sent at screen size inside the bundle.
inline constexpr qint64 kLargePhotoBytes = 131072;
inline constexpr int kMaxCaptionLength = 255;
// Back-off of held shares and failed staged uploads, in seconds.
inline constexpr float kInitialSleepTime = 5.0f;
inline constexpr float kSleepTimeGrowth = 1.5f;
inline constexpr float kMaxSleepTime = 300.0f;
// Consecutive failed attempts after which a share is given up is this plus one.
inline constexpr int kGiveUpRetries = 6;
inline constexpr int kStagedRetryLimit = 5;
inline constexpr double kStagedCheckSeconds = 2.0;
inline constexpr int kMobileDataPauseSeconds = 60;

// The share worker: one long-lived thread that writes in-memory images, sends queued shares one
// at a time (retrying, holding them while the network is down, giving up after seven failures in
// a row), and, when no share waits, runs full-size uploads one at a time on a thread of their own.
// Everything it learns goes out as notifications on the main thread.
class ShareTaskThread : public QObject, public ImageQueue {
    Q_OBJECT
public:
    // Starts the worker thread and installs itself as the share tasks' image queue.
    explicit ShareTaskThread(std::shared_ptr<Service> service, QObject *parent = nullptr);
    // Stops the worker and waits for it and for a staged upload in flight.
    ~ShareTaskThread() override;

    static ShareTaskThread *singleton();

    // Queues the current task, once its photos are written.
    void enqueueCurrentTask();
    // Builds the task's share request and staged items and queues them.
    void enqueue(const ShareTaskPtr &task);
    void enqueue(const ShareTaskPtr &task, const QImage &image, const QString &path, const QString &origin,
        const QVariantMap &gps) override;
    void enqueueStageInfo(const UploadItem &item);
    // Stops the share being sent and drops every queued one.
    void cancelAllShareTasks();

    // Static: they are queued to the main thread and may run after the worker is gone.
    static void forceProgress();
    static void unforceProgress();

    bool isSharing() const;
    bool isStaging() const;
    int setCount() const;
    int stagingCount() const;
    int currentShare() const;
    int countShare() const;

    bool holdStaged() const { return m_holdStaged; }
    void setHoldStaged(bool hold) { m_holdStaged = hold; }
    QString currentShareGuid() const;
    void setCurrentShareGuid(const QString &guid);
    QString lastShareGuid() const;
    void setLastShareGuid(const QString &guid);
    float sleepTime() const { return m_sleepTime; }
    // Told of every back-off pause before it starts (a progress display can show the next try).
    using PauseObserver = std::function<void(std::chrono::milliseconds)>;
    void setPauseObserver(PauseObserver observer);
    bool lostNet() const { return m_lostNet; }

    // Copies of the queues, for read-outs.
    QList<QVariantMap> taskQueue() const;
    QList<UploadItem> stagedQueue() const;

private:
    struct ImageJob {
        ShareTaskPtr task;
        QImage image;
        QString path;
        QString origin;
        QVariantMap gps;
    };

    void worker();
    void imageWork();
    void taskWork();
    // Whether it did anything: false while the pause between staged uploads runs.
    bool stagedWork();
    void stagedWorkThread();
    // Waits the back-off pause and grows it; with `forHead`, a cancel of the head share ends it.
    void backOff(bool forHead);
    // Removes that staged item and resets its retries; true when the staged queue is now empty.
    bool dropStagedItem(const UploadItem &item);
    // Removes every staged item of the task with that bundle guid from the queue and returns the
    // tasks they belonged to (takes the staged-queue lock; the caller may hold the task-queue lock).
    QList<ShareTaskPtr> takeStagedItemsOf(const QString &bundleGuid);
    // Asks the server once to withdraw the bundle; true when it is gone (or was never there).
    bool withdrawBundle(const QString &guid);
    // The seventh failure in a row: withdraws the bundle and keeps the share as failed.
    void giveUp(const ShareTaskPtr &task, const QString &guid);
    // The first staged item whose bundle the server has accepted; false when there is none.
    bool nextStagedItem(UploadItem *item) const;
    void wake();
    void postOnMain(const char *name, const QVariant &object = {});
    // Whether the task may be sent with the current sign-in: it is that user's, or nobody's.
    bool sendsFor(const ShareTaskPtr &task) const;
    // Puts the head request of another account back on disk, unsent, for its owner's next start.
    void setAsideHead(const ShareTaskPtr &task);
    // Removes the head request (the worker is the only thread that removes requests).
    void finishHead(const ShareTaskPtr &task, const char *growlKey);

    std::shared_ptr<Service> m_service;
    std::atomic<float> m_sleepTime {kInitialSleepTime};

    mutable QMutex m_taskMutex;
    QList<QVariantMap> m_taskQueue;
    bool m_sending = false; // a bundle send is in flight; guarded by m_taskMutex
    mutable QMutex m_imageMutex;
    QList<ImageJob> m_imageQueue;
    mutable QMutex m_stagedMutex;
    QList<UploadItem> m_stagedQueue;

    std::atomic<qint64> m_lastStagedCheckMs {-1};
    mutable QMutex m_guidMutex;
    QString m_currentShareGuid;
    QString m_lastShareGuid;
    ShareTaskPtr m_currentShareTask;
    std::atomic<bool> m_uploadDoneWhenEmpty {false};
    std::atomic<bool> m_holdStaged {false};
    std::atomic<bool> m_lostNet {false};
    qint64 m_retries = 0;
    std::atomic<qint64> m_stagedRetries {0};
    std::atomic<bool> m_inStagedUploadThread {false};

    QMutex m_observerMutex;
    PauseObserver m_pauseObserver;
    std::atomic<bool> m_stopping {false};
    std::atomic<bool> m_taskThreadDone {false};
    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCondition;
    bool m_woken = false;
    std::thread m_taskThread;
};

} // namespace lf
