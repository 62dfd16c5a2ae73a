#pragma once

#include "foundation/MainThread.h"
#include "sending/BundleUploader.h"
#include "share/PhotoPrep.h"
#include "share/ShareTask.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

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

// Keys of the "progress" notification's object.
namespace ForceProgressKey {
inline constexpr const char *String = "string";
inline constexpr const char *ForceUp = "forceUp";
inline constexpr const char *BackingUpText = "[BackingUp]";
} // namespace ForceProgressKey

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

// A full-size upload in the worker's queue, with the task it belongs to.
struct StagedItem {
    UploadItem item;
    ShareTaskPtr task;

    bool sameAs(const StagedItem &other) const;
    // The object of "stagedUploadDone": the item's dictionary with its task as "bundleContext".
    QVariantMap notificationObject() const;
};

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

    // Queues the current task, once its photos are written.
    void enqueueCurrentTask();
    // Builds the task's share request and staged items and queues them.
    void enqueue(const ShareTaskPtr &task);
    void enqueue(const ShareTaskPtr &task, const QList<ImageJob> &jobs) override;
    void enqueueStageInfo(const StagedItem &staged);
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

    void setHoldStaged(bool hold);
    QString currentShareGuid() const;
    // Told of every back-off pause before it starts (a progress display can show the next try).
    using PauseObserver = std::function<void(std::chrono::milliseconds)>;
    void setPauseObserver(PauseObserver observer);
    bool lostNet() const;

    // The tasks of the share queue, head first, for read-outs.
    QList<ShareTaskPtr> queuedTasks() const;

signals:
    // On the main thread, after the share and full-size queues ran empty and the last full-size
    // upload ended; everything the worker posted before comes first.
    void idle();

private:
    // A share waiting in the queue, with what the worker learnt of its attempts.
    struct QueuedShare {
        ShareRequest request;
        bool onHold = false; // failed while the network was down: the connection is polled first
        bool cancelled = false;
        int skippedPhotos = 0; // refused by the server for good
    };
    struct QueuedImage {
        ShareTaskPtr task;
        ImageJob job;
    };
    enum class Step { Wait, Image, Task, Staged };

    void worker();
    // Picks the next step, or waits (lock held) for a wake or the staged deadline.
    Step nextStep(std::unique_lock<std::mutex> &lock);
    void runStep(Step step);
    void imageWork();
    void taskWork();
    void stagedWork();
    void stagedWorkThread();
    // Polls the connection for a share held while the network was down.
    void pollHeldHead();
    // Sends the head request; false when it was cancelled before it went.
    bool sendHead(const ShareRequest &request, SendResult *result);
    bool headCancelledLocked() const;
    void finishCancelledHead(const ShareTaskPtr &task, const QString &guid, const SendResult &result);
    // Where an attempt started: one that gets further is not part of a run of failures.
    struct AttemptStart {
        int photo = 0;
        bool created = false;
    };
    void handleFailedSend(
        const ShareTaskPtr &task, const QString &guid, const SendResult &result, AttemptStart start);
    // Waits the back-off pause and grows it; with `forHead`, a cancel of the head share ends it.
    void backOff(bool forHead);
    // Removes that staged item and resets its retries; true when the staged queue is now empty.
    bool dropStagedItem(const StagedItem &staged);
    // Removes every staged item of the task with that bundle guid from the queue and returns the
    // tasks they belonged to.
    QList<ShareTaskPtr> takeStagedItemsOfLocked(const QString &bundleGuid);
    // Asks the server once to withdraw the bundle; true when it is gone (or was never there).
    bool withdrawBundle(const QString &guid);
    // The seventh failure in a row: withdraws the bundle and keeps the share as failed.
    void giveUp(const ShareTaskPtr &task, const QString &guid);
    // The first staged item whose bundle the server has accepted; false when there is none.
    bool nextStagedItemLocked(StagedItem *staged) const;
    void wake();
    bool stopping() const;
    // Marks the net as lost; true when it was not lost before.
    bool noteNetLost();
    void postOnMain(const char *name, const QVariant &object = {});
    // True (once) when the queues turned empty since the last look.
    bool turnedIdleLocked();
    void announceIdle();
    // Whether the task may be sent with the current sign-in: it is that user's, or nobody's.
    bool sendsFor(const ShareTaskPtr &task) const;
    // Puts the head request of another account back on disk, unsent, for its owner's next start.
    void setAsideHead(const ShareTaskPtr &task);
    // Removes the head request (the worker is the only thread that removes requests).
    void finishHead(const ShareTaskPtr &task, const char *growlKey);
    void removeHeadLocked();

    std::shared_ptr<Service> m_service;

    // The worker's only lock: it guards every field below. Lock order: m_mutex, then the leaf
    // locks of ShareTask and Service it calls into (flags and fields only). Nothing is posted,
    // emitted, sent or written to disk while it is held, and no callback runs under it.
    mutable std::mutex m_mutex;
    std::condition_variable m_wakeCondition;
    QList<QueuedShare> m_taskQueue;
    QList<QueuedImage> m_imageQueue;
    QList<StagedItem> m_stagedQueue;
    bool m_woken = false;
    bool m_stopping = false;
    bool m_workerDone = false;
    bool m_sending = false; // a bundle send is in flight
    bool m_stagedInFlight = false; // a staged upload runs on a thread of its own
    bool m_holdStaged = false;
    bool m_lostNet = false;
    bool m_idleAnnounced = true;
    // The next staged upload starts no earlier than this (monotonic ms); -1 for at once.
    qint64 m_stagedNotBeforeMs = -1;
    float m_sleepTime = kInitialSleepTime;
    QString m_currentShareGuid;
    QString m_lastShareGuid;
    ShareTaskPtr m_currentShareTask;
    qint64 m_retries = 0;
    qint64 m_stagedRetries = 0;
    PauseObserver m_pauseObserver;

    // Ends the destructor's wait for the worker and the full-size upload; notified with m_mutex
    // released (its wait reads m_mutex under the waiter's own lock).
    MainThreadWaiter m_stopped;
    // Reset by the destructor; calls queued to the main thread skip a worker that is gone.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::thread m_taskThread;
};

} // namespace lf
