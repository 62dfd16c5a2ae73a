#include "sending/ShareTaskThread.h"

#include "foundation/Clock.h"
#include "foundation/Identity.h"
#include "foundation/LogCategories.h"
#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "session/Service.h"
#include "share/PhotoPrep.h"

#include <QFileInfo>

#include <exception>

namespace lf {

namespace {

std::atomic<ShareTaskThread *> g_instance {nullptr};

// The worker's pause between passes when there is nothing to do. Real time on purpose: it is
// the worker's polling rhythm, not a delay anyone waits for, and enqueueing wakes it at once.
constexpr std::chrono::milliseconds kIdlePass(20);

ShareTaskPtr taskOf(const QVariantMap &map) {
    return map.value(kUploadBundleContext).value<ShareTaskPtr>();
}

// Transient failures: no answer at all (time-out, dropped connection, any other transport
// failure) or a server in trouble (5xx). Neither refused the photo, so the next attempt starts
// again at it, after a pause: back-to-back attempts would spend all seven on a blip of a second.
// Only a refusal (or a photo that threw) moves past a photo.
bool transientFailure(int status) {
    return retrySamePhotoIfError(status) || (status >= 500 && status <= 599)
        || (status < 0 && status != NetError::Cancelled);
}

bool sameStagedItem(const UploadItem &a, const UploadItem &b) {
    return a.value(kPhotoUrl) == b.value(kPhotoUrl) && a.value(kUploadFullIndex) == b.value(kUploadFullIndex)
        && taskOf(a) == taskOf(b);
}

} // namespace

ShareTaskThread::ShareTaskThread(std::shared_ptr<Service> service, QObject *parent)
    : QObject(parent)
    , m_service(std::move(service)) {
    BundleUploader::install(*m_service);
    g_instance = this;
    ShareTask::setImageQueue(this);
    NotificationCenter::defaultCenter().addObserver(this, kGoodNetNotification, [this](const Notification &) {
        if (m_lostNet.exchange(false))
            postOnMain(kGrowlNotification, QString::fromLatin1(GrowlKey::NetBack));
    });
    m_taskThread = std::thread([this] { worker(); });
}

ShareTaskThread::~ShareTaskThread() {
    NotificationCenter::defaultCenter().removeObserver(this);
    m_stopping = true;
    m_service->setUploadsStopping(true);
    wake();
    // The worker may be waiting for the main thread (a progress or completion report).
    if (isMainThread())
        pumpMainThreadUntil([this] { return !m_inStagedUploadThread && m_taskThreadDone; });
    m_taskThread.join();
    while (m_inStagedUploadThread)
        pumpMainThreadUntil([this] { return !m_inStagedUploadThread; }, 50);
    m_service->setUploadsStopping(false);
    ShareTask::setImageQueue(nullptr);
    ShareTaskThread *self = this;
    g_instance.compare_exchange_strong(self, nullptr);
}

ShareTaskThread *ShareTaskThread::singleton() {
    return g_instance;
}

void ShareTaskThread::wake() {
    {
        std::lock_guard lock(m_wakeMutex);
        m_woken = true;
    }
    m_wakeCondition.notify_all();
}

void ShareTaskThread::postOnMain(const char *name, const QVariant &object) {
    NotificationCenter::defaultCenter().postNotificationMainThread(QString::fromLatin1(name), object);
}

// ---- queueing ----

void ShareTaskThread::enqueueCurrentTask() {
    const ShareTaskPtr task = ShareTask::singleton();
    // Connected before the check, so a flip in between is not missed.
    auto connection = std::make_shared<QMetaObject::Connection>();
    auto done = std::make_shared<std::atomic<bool>>(false);
    *connection = connect(task.get(), &ShareTask::photosStabilizedChanged, this,
        [this, task, connection, done](bool stabilized) {
            if (!stabilized || done->exchange(true))
                return;
            disconnect(*connection);
            enqueue(task);
        });
    if (task->photosStabilized()) {
        if (!done->exchange(true)) {
            disconnect(*connection);
            enqueue(task);
        }
        return;
    }
    runOnMainThread([] { forceProgress(); });
}

void ShareTaskThread::enqueue(const ShareTaskPtr &task) {
    if (!task)
        return;
    const bool highRes = Prefs::boolPrefForKey(PrefKey::ShareHighResPhotos, false);
    const QString message = task->message();

    // In-memory images not written by now are dropped; every photo gets its identity.
    task->editPhotoInfos([](QList<PhotoInfo> &infos) {
        for (PhotoInfo &info : infos) {
            info.remove(kPhotoImage);
            if (info.value(kPhotoGuid).toString().isEmpty())
                info.insert(kPhotoGuid, generateUUIDString());
        }
    });

    QVariantList photos;
    QList<UploadItem> staged;
    const QList<PhotoInfo> infos = task->photoInfos();
    for (int k = 0; k < infos.size(); ++k) {
        const PhotoInfo &info = infos.at(k);
        const bool upload = info.value(kPhotoOrigin).toString() != QLatin1String(kOriginReshare);
        const QString url = info.value(kPhotoUrl).toString();
        if (url.isEmpty())
            qCWarning(lfSending).noquote() << QStringLiteral("a photo without a file was not queued");
        const QString caption = info.value(kPhotoCaption).toString().left(kMaxCaptionLength);

        bool large = true;
        if (upload) {
            const QFileInfo file(url);
            qint64 size = 0;
            if (file.exists())
                size = file.size();
            else
                qCWarning(lfSending).noquote() << QStringLiteral("cannot read the file %1").arg(url);
            large = size > kLargePhotoBytes;
        }

        UploadItem item {{kPhotoCaption, caption}, {kPhotoOrder, info.value(kPhotoOrder, k)}};
        if (!url.isEmpty()) {
            item.insert(kPhotoUrl, url);
            item.insert(kPhotoGuid, info.value(kPhotoGuid));
            item.insert(kPhotoOrigin, info.value(kPhotoOrigin, QString::fromLatin1(kOriginLibrary)));
            item.insert(kUploadFullImage, !large);
            if (upload)
                item.insert(kUploadType,
                    QString::fromLatin1(!highRes || !large ? kUploadTypeFull : kUploadTypeScreen));
            if (info.contains(kPhotoGps))
                item.insert(kPhotoGps, info.value(kPhotoGps));
        }
        photos.append(item);
        if (large && highRes && upload && !url.isEmpty())
            staged.append(item);
    }

    // A task queued again (a resumed share) already holds its staged items: keep one per file.
    QList<UploadItem> existing = task->fullPhotoInfos();
    for (int j = 0; j < staged.size(); ++j) {
        const QString url = staged.at(j).value(kPhotoUrl).toString();
        const bool known = std::any_of(existing.cbegin(), existing.cend(),
            [&](const UploadItem &e) { return e.value(kPhotoUrl).toString() == url; });
        if (known)
            continue;
        UploadItem full = staged.at(j);
        full.insert(kUploadFullIndex, j);
        full.insert(kUploadFullCount, int(staged.size()));
        full.insert(kUploadBundleContext, QVariant::fromValue(task));
        full.insert(kUploadType, QString::fromLatin1(kUploadTypeFull));
        full.insert(kUploadFullImage, true);
        task->appendFullPhotoInfo(full);
    }

    QVariantMap request {{BundleKey::BundleGuid, task->bundleGuid()},
        {BundleKey::Recipients, task->recipients()->list()}, {BundleKey::Message, message},
        {BundleKey::Photos, photos}, {BundleKey::Context, QVariant::fromValue(task)}};
    if (task->continuePhoto() != 0)
        request.insert(BundleKey::ContinuePhoto, task->continuePhoto());
    if (task->sentBundleCreate())
        request.insert(BundleKey::SentCreate, true);
    task->setSendFailed(false);

    {
        QMutexLocker lock(&m_taskMutex);
        m_taskQueue.append(request);
        m_holdStaged = true;
    }
    {
        QMutexLocker lock(&m_stagedMutex);
        m_stagedQueue.append(task->fullPhotoInfos());
    }
    task->saveTask();
    wake();
}

void ShareTaskThread::enqueue(const ShareTaskPtr &task, const QImage &image, const QString &path,
    const QString &origin, const QVariantMap &gps) {
    {
        QMutexLocker lock(&m_imageMutex);
        task->setPhotosIncoming(true);
        m_imageQueue.append({task, image, path, origin, gps});
    }
    wake();
}

void ShareTaskThread::enqueueStageInfo(const UploadItem &item) {
    {
        QMutexLocker lock(&m_stagedMutex);
        m_stagedQueue.append(item);
    }
    wake();
}

// ---- the worker ----

void ShareTaskThread::worker() {
    while (!m_stopping) {
        bool worked = true;
        try {
            bool images, tasks, staged;
            {
                QMutexLocker lock(&m_imageMutex);
                images = !m_imageQueue.isEmpty();
            }
            {
                // One view of both queues: a share queued between two separate looks would let
                // its full-size items start before the share itself.
                QMutexLocker taskLock(&m_taskMutex);
                QMutexLocker stagedLock(&m_stagedMutex);
                tasks = !m_taskQueue.isEmpty();
                staged = !m_stagedQueue.isEmpty();
            }
            if (images)
                imageWork();
            else if (tasks)
                taskWork();
            else if (staged && !m_holdStaged && !m_inStagedUploadThread)
                // Between staged uploads the loop must rest like an idle pass, not spin.
                worked = stagedWork();
            else {
                m_uploadDoneWhenEmpty = false;
                worked = false;
            }
        } catch (const std::exception &e) {
            qCWarning(lfSending).noquote()
                << QStringLiteral("a pass of the share worker failed: %1").arg(QString::fromUtf8(e.what()));
        } catch (...) {
            qCWarning(lfSending).noquote() << QStringLiteral("a pass of the share worker failed");
        }
        if (!worked) {
            std::unique_lock lock(m_wakeMutex);
            m_wakeCondition.wait_for(lock, kIdlePass, [this] { return m_woken || m_stopping; });
            m_woken = false;
        }
    }
    m_taskThreadDone = true;
}

void ShareTaskThread::imageWork() {
    ImageJob job;
    {
        QMutexLocker lock(&m_imageMutex);
        if (m_imageQueue.isEmpty())
            return;
        job = m_imageQueue.takeFirst();
    }
    QString error;
    if (!writeJpegFile(job.image, job.path, job.gps, &error))
        qCWarning(lfSending).noquote() << QStringLiteral("error writing image file = %1").arg(error);
    bool more = false;
    {
        QMutexLocker lock(&m_imageMutex);
        for (const ImageJob &other : std::as_const(m_imageQueue))
            more = more || other.task == job.task;
        job.task->setPhotosIncoming(more);
    }
}

void ShareTaskThread::setPauseObserver(PauseObserver observer) {
    QMutexLocker lock(&m_observerMutex);
    m_pauseObserver = std::move(observer);
}

void ShareTaskThread::backOff(bool forHead) {
    const std::chrono::milliseconds pause(qint64(m_sleepTime * 1000.0f));
    PauseObserver observer;
    {
        QMutexLocker lock(&m_observerMutex);
        observer = m_pauseObserver;
    }
    if (observer)
        observer(pause);
    // A cancel marks the head and then wakes this wait: the share goes now, not after the pause.
    const auto stop = [this, forHead] {
        if (m_stopping)
            return true;
        if (!forHead)
            return false;
        QMutexLocker lock(&m_taskMutex);
        return !m_taskQueue.isEmpty() && m_taskQueue.first().contains(RequestKey::Cancelled);
    };
    std::unique_lock lock(m_wakeMutex);
    Clock::instance().waitUnless(m_wakeCondition, lock, pause, stop);
    m_sleepTime = std::min(m_sleepTime * kSleepTimeGrowth, kMaxSleepTime);
}

void ShareTaskThread::finishHead(const ShareTaskPtr &task, const char *growlKey) {
    {
        QMutexLocker lock(&m_taskMutex);
        if (!m_taskQueue.isEmpty())
            m_taskQueue.removeFirst();
        if (m_taskQueue.isEmpty())
            m_holdStaged = false;
    }
    {
        QMutexLocker lock(&m_guidMutex);
        m_currentShareGuid.clear();
        m_currentShareTask.reset();
    }
    m_sleepTime = kInitialSleepTime;
    postOnMain(kUploadDoneNotification, QVariant::fromValue(task));
    if (growlKey)
        postOnMain(kGrowlNotification, QString::fromLatin1(growlKey));
}

bool ShareTaskThread::sendsFor(const ShareTaskPtr &task) const {
    // The user only: the start-up walk already keeps other servers' shares back, and a server's
    // address may change under a share held in this run.
    const ShareOwner owner = task ? task->owner() : ShareOwner();
    return owner.isEmpty() || owner.isUser(m_service->userName());
}

void ShareTaskThread::setAsideHead(const ShareTaskPtr &task) {
    qCInfo(lfSending).noquote()
        << QStringLiteral("share %1 of %2 waits for its owner").arg(task->bundleGuid(), task->owner().text());
    task->setSendAttempted(true);
    task->saveTask();
    {
        QMutexLocker lock(&m_stagedMutex);
        m_stagedQueue.removeIf([&](const UploadItem &item) { return taskOf(item) == task; });
    }
    QMutexLocker lock(&m_taskMutex);
    if (!m_taskQueue.isEmpty())
        m_taskQueue.removeFirst();
    if (m_taskQueue.isEmpty())
        m_holdStaged = false;
}

void ShareTaskThread::taskWork() {
    QVariantMap request;
    {
        QMutexLocker lock(&m_taskMutex);
        if (m_taskQueue.isEmpty())
            return;
        request = m_taskQueue.first();
    }
    const ShareTaskPtr task = request.value(BundleKey::Context).value<ShareTaskPtr>();
    if (!sendsFor(task)) {
        setAsideHead(task);
        return;
    }
    {
        QMutexLocker lock(&m_guidMutex);
        m_currentShareTask = task;
    }
    const auto updateHead = [this](const std::function<void(QVariantMap &)> &edit) {
        QMutexLocker lock(&m_taskMutex);
        if (!m_taskQueue.isEmpty())
            edit(m_taskQueue.first());
    };

    if (request.contains(RequestKey::OnHold) && !request.contains(RequestKey::Cancelled)) {
        if (m_service->checkConnection()) {
            updateHead([](QVariantMap &r) { r.remove(RequestKey::OnHold); });
            m_sleepTime = kInitialSleepTime;
            NotificationCenter::defaultCenter().post(kConnectionEstablishedNotification);
        } else {
            backOff(true);
        }
        return;
    }

    const QString guid = request.value(BundleKey::BundleGuid).toString();
    {
        QMutexLocker lock(&m_guidMutex);
        m_currentShareGuid = guid;
        m_retries = (guid == m_lastShareGuid) ? m_retries + 1 : 0;
    }
    // Where this attempt starts: one that gets further is not part of a run of failures.
    const int startPhoto = task ? task->continuePhoto() : 0;
    const bool startCreated = task && task->sentBundleCreate();
    QVariantMap result;
    bool cancelled;
    {
        // Decided under the queue's lock, so a cancel either marked this request before or sees
        // the send in flight (see cancelAllShareTasks).
        QMutexLocker lock(&m_taskMutex);
        cancelled = m_taskQueue.isEmpty() || m_taskQueue.first().contains(RequestKey::Cancelled);
        m_sending = !cancelled;
        if (m_sending)
            m_service->setCancelled(false);
    }
    if (!cancelled) {
        result = m_service->sendBundleAsynch(request);
        QMutexLocker lock(&m_taskMutex);
        m_sending = false;
        // A cancel that came too late to stop the send must not stop the next one.
        m_service->setCancelled(false);
    }
    {
        QMutexLocker lock(&m_guidMutex);
        m_lastShareGuid = guid;
    }
    if (m_stopping)
        return; // the send was abandoned for the program's end; the share resumes at the next start
    if (!cancelled) {
        // A cancel that arrived during the send marked the request.
        QMutexLocker lock(&m_taskMutex);
        cancelled = !m_taskQueue.isEmpty() && m_taskQueue.first().contains(RequestKey::Cancelled);
    }

    if (cancelled) {
        // The share is withdrawn: nothing of it may be sent again at the next start. A bundle
        // created by an earlier attempt is withdrawn here; one made by this pass's send, there.
        if (task && task->sentBundleCreate() && !result.value(BundleKey::SentCreate).toBool())
            withdrawBundle(guid);
        if (task)
            task->deleteArchives();
        finishHead(task, nullptr);
    } else if (result.contains(BundleKey::Error)) {
        std::optional<int> resume;
        if (result.contains(BundleKey::ContinuePhoto))
            resume = result.value(BundleKey::ContinuePhoto).toInt();
        const int status = result.value(BundleKey::HttpStatus).toInt();
        if (status == NetError::NotConnected && !m_lostNet.exchange(true))
            postOnMain(kGrowlNotification, QString::fromLatin1(GrowlKey::NetLost));
        bool skipped = false;
        if (resume && !transientFailure(status)) {
            // The server refused this photo for good (or it threw): go on with the next one.
            resume = *resume + 1;
            skipped = true;
        }
        if (task) {
            if (resume)
                task->setContinuePhoto(*resume);
            else if (!task->sentBundleCreate() && !result.value(BundleKey::SentCreate).toBool())
                task->setContinuePhoto(0);
            // Otherwise the send stopped at the close: the photos already sent stay sent.
        }
        if (!resume) {
            QMutexLocker lock(&m_guidMutex);
            m_currentShareGuid.clear();
        }
        const bool lostNet = m_lostNet;
        const int continuePhoto = task ? task->continuePhoto() : resume.value_or(0);
        updateHead([&](QVariantMap &r) {
            if (result.value(BundleKey::SentCreate).toBool())
                r.insert(BundleKey::SentCreate, true);
            if (lostNet)
                r.insert(RequestKey::OnHold, QString::fromLatin1(RequestKey::OnHoldCheck));
            if (continuePhoto != 0)
                r.insert(BundleKey::ContinuePhoto, continuePhoto);
            if (skipped)
                r.insert(RequestKey::SkippedPhotos, r.value(RequestKey::SkippedPhotos).toInt() + 1);
        });
        if (task)
            task->saveTask();
        const bool movedOn
            = task && (task->continuePhoto() > startPhoto || (!startCreated && task->sentBundleCreate()));
        qint64 retries;
        {
            QMutexLocker lock(&m_guidMutex);
            if (movedOn)
                m_retries = 0;
            retries = m_retries;
        }
        if (retries >= kGiveUpRetries) {
            qCWarning(lfSending).noquote()
                << QStringLiteral("giving up share %1 after %2 attempts").arg(guid).arg(retries + 1);
            giveUp(task, guid);
        } else if (transientFailure(status) && !lostNet) {
            backOff(true);
        } else {
            // A held share starts its own pauses; a refusal is tried again at once.
            m_sleepTime = kInitialSleepTime;
        }
    } else {
        QVariantMap head;
        {
            QMutexLocker lock(&m_taskMutex);
            head = m_taskQueue.value(0);
        }
        const bool missing
            = head.value(RequestKey::SkippedPhotos).toInt() > 0 || (task && !task->missingPhotos().isEmpty());
        finishHead(task, missing ? GrowlKey::SuccessMissing : GrowlKey::SuccessScreen);
    }
    runOnMainThread([] { unforceProgress(); });
}

bool ShareTaskThread::nextStagedItem(UploadItem *item) const {
    QMutexLocker lock(&m_stagedMutex);
    for (const UploadItem &candidate : m_stagedQueue) {
        // A full-size copy goes into its bundle: never before the server has accepted it.
        const ShareTaskPtr task = taskOf(candidate);
        if (task && (task->sentBundleCreate() || task->sendCompleted())) {
            *item = candidate;
            return true;
        }
    }
    return false;
}

bool ShareTaskThread::stagedWork() {
    UploadItem ready;
    if (!nextStagedItem(&ready))
        return false;
    Clock &clock = Clock::instance();
    const qint64 last = m_lastStagedCheckMs;
    if (last >= 0 && clock.monotonicMs() - last < qint64(kStagedCheckSeconds * 1000))
        return false;
    m_lastStagedCheckMs = clock.monotonicMs();
    if (Service::on3G() && Prefs::boolPrefForKey(PrefKey::StagedOnWifi2, false)) {
        clock.sleepUnless(
            std::chrono::seconds(kMobileDataPauseSeconds), [this] { return m_stopping.load(); });
        return true;
    }
    m_inStagedUploadThread = true;
    const bool started = Workers::instance().start(QStringLiteral("staged upload"), [this] {
        try {
            stagedWorkThread();
        } catch (const std::exception &e) {
            qCWarning(lfSending).noquote()
                << QStringLiteral("the full-size uploads stopped: %1").arg(QString::fromUtf8(e.what()));
        }
        wake();
        // Last: the destructor waits for this flag before the object goes.
        m_inStagedUploadThread = false;
    });
    if (!started)
        m_inStagedUploadThread = false;
    return started;
}

QList<ShareTaskPtr> ShareTaskThread::takeStagedItemsOf(const QString &bundleGuid) {
    QList<ShareTaskPtr> owners;
    {
        QMutexLocker stagedLock(&m_stagedMutex);
        for (qsizetype i = m_stagedQueue.size() - 1; i >= 0; --i) {
            const ShareTaskPtr owner = taskOf(m_stagedQueue.at(i));
            if (owner && owner->bundleGuid() == bundleGuid) {
                if (!owners.contains(owner))
                    owners.append(owner);
                m_stagedQueue.removeAt(i);
            }
        }
    }
    return owners;
}

bool ShareTaskThread::withdrawBundle(const QString &guid) {
    // One try: the worker must not sit out an outage here.
    const APIResult answer = m_service->withdrawBundle(guid, false);
    // Not on the server is as good as withdrawn.
    const bool withdrawn = !answer.isError() || answer.httpStatus() == 404;
    if (!withdrawn)
        qCWarning(lfSending).noquote()
            << QStringLiteral("could not withdraw bundle %1: %2").arg(guid, answer.httpStatusString());
    return withdrawn;
}

void ShareTaskThread::giveUp(const ShareTaskPtr &task, const QString &guid) {
    // The full-size copies stay in the task and go again with it.
    takeStagedItemsOf(guid);
    if (task) {
        // Asked even without an accepted create: its answer may have been lost on the way. A
        // bundle that stays open keeps the share's place in it: sent again, it goes on there.
        if (withdrawBundle(guid)) {
            // Sent again, it is a new bundle from the first photo.
            task->setBundleGuid(generateUUIDString());
            task->setSentBundleCreate(false);
            task->setContinuePhoto(0);
        }
        // Kept on disk, marked, for the next start or "resume" to send again.
        task->setSendFailed(true);
        task->setSendAttempted(true);
        task->saveTask();
    }
    finishHead(task, GrowlKey::Fail);
}

bool ShareTaskThread::dropStagedItem(const UploadItem &item) {
    QMutexLocker lock(&m_stagedMutex);
    m_stagedRetries = 0;
    // A cancel may have removed the item meanwhile; only that very item leaves the queue.
    const auto it = std::find_if(m_stagedQueue.begin(), m_stagedQueue.end(),
        [&](const UploadItem &e) { return sameStagedItem(e, item); });
    if (it != m_stagedQueue.end())
        m_stagedQueue.erase(it);
    return m_stagedQueue.isEmpty();
}

void ShareTaskThread::stagedWorkThread() {
    UploadItem item;
    if (!nextStagedItem(&item))
        return;
    if (!sendsFor(taskOf(item))) {
        // Kept in its task's archive: its owner's next start uploads it.
        dropStagedItem(item);
        return;
    }
    const QVariantMap result = m_service->uploadPhotoAsynch(item);
    if (m_stopping)
        return;
    if (!result.contains(BundleKey::Error)) {
        if (const ShareTaskPtr task = taskOf(item)) {
            task->removeFullPhotoInfo(item.value(kPhotoUrl).toString());
            task->saveTask();
        }
        postOnMain(kStagedUploadDoneNotification, item);
        if (dropStagedItem(item))
            postOnMain(kGrowlNotification, QString::fromLatin1(GrowlKey::SuccessFull));
        return;
    }

    const int status = result.value(BundleKey::HttpStatus).toInt();
    if (status == NetError::NotConnected) {
        if (!m_lostNet.exchange(true))
            postOnMain(kGrowlNotification, QString::fromLatin1(GrowlKey::NetLost));
    } else if (transientFailure(status) && m_stagedRetries <= kStagedRetryLimit) {
        ++m_stagedRetries;
    } else {
        qCWarning(lfSending).noquote()
            << QStringLiteral("staged upload dropped: %1").arg(result.value(BundleKey::Error).toString());
        if (dropStagedItem(item))
            postOnMain(kGrowlNotification, QString::fromLatin1(GrowlKey::Fail));
    }
    backOff(false);
}

// ---- cancel and read-outs ----

void ShareTaskThread::cancelAllShareTasks() {
    const bool hold = m_holdStaged.exchange(true);
    const QString guid = currentShareGuid();
    m_uploadDoneWhenEmpty = true;
    {
        QMutexLocker taskLock(&m_taskMutex);
        for (QVariantMap &request : m_taskQueue) {
            request.insert(RequestKey::Cancelled, QString::fromLatin1(RequestKey::CancelledMark));
            request.remove(RequestKey::OnHold);
            if (const ShareTaskPtr task = request.value(BundleKey::Context).value<ShareTaskPtr>()) {
                for (const ShareTaskPtr &owner : takeStagedItemsOf(task->bundleGuid())) {
                    owner->setFullPhotoInfos({});
                    owner->deleteArchives();
                }
            }
        }
    }
    if (!guid.isEmpty()) {
        NotificationCenter::defaultCenter().post(kShareTaskCancelledNotification, guid);
        m_service->cancelBundle(guid);
    }
    {
        // The flag stops a send in flight, which clears it when it ends. With none in flight (the
        // share waits between attempts) nothing would clear it: the next share's progress would
        // be silent and its first attempt stopped. No send can start meanwhile: every queued
        // request is marked, and new ones come from this thread.
        QMutexLocker taskLock(&m_taskMutex);
        if (!m_sending)
            m_service->setCancelled(false);
    }
    m_holdStaged = hold;
    // Also ends a pause between attempts at once.
    wake();
}

void ShareTaskThread::forceProgress() {
    NotificationCenter::defaultCenter().post(kProgressNotification,
        QVariantMap {{ForceProgressKey::String, localizedString(ForceProgressKey::BackingUpText)},
            {ForceProgressKey::ForceUp, true}});
}

void ShareTaskThread::unforceProgress() {
    NotificationCenter::defaultCenter().post(
        kProgressNotification, QVariantMap {{ForceProgressKey::ForceUp, false}});
}

bool ShareTaskThread::isSharing() const {
    return setCount() > 0;
}

bool ShareTaskThread::isStaging() const {
    return stagingCount() > 0;
}

int ShareTaskThread::setCount() const {
    QMutexLocker lock(&m_taskMutex);
    return int(m_taskQueue.size());
}

int ShareTaskThread::stagingCount() const {
    QMutexLocker lock(&m_stagedMutex);
    return int(m_stagedQueue.size());
}

int ShareTaskThread::currentShare() const {
    if (isSharing()) {
        ShareTaskPtr task;
        {
            QMutexLocker lock(&m_guidMutex);
            task = m_currentShareTask;
        }
        if (!task) {
            QMutexLocker lock(&m_taskMutex);
            task = m_taskQueue.value(0).value(BundleKey::Context).value<ShareTaskPtr>();
        }
        return task ? std::clamp(task->continuePhoto(), 0, std::max(0, task->photoCount() - 1)) : 0;
    }
    QMutexLocker lock(&m_stagedMutex);
    return m_stagedQueue.value(0).value(kUploadFullIndex).toInt();
}

int ShareTaskThread::countShare() const {
    if (isSharing()) {
        QMutexLocker lock(&m_taskMutex);
        const ShareTaskPtr task = m_taskQueue.value(0).value(BundleKey::Context).value<ShareTaskPtr>();
        return task ? task->photoCount() : 0;
    }
    QMutexLocker lock(&m_stagedMutex);
    return m_stagedQueue.value(0).value(kUploadFullCount).toInt();
}

QString ShareTaskThread::currentShareGuid() const {
    QMutexLocker lock(&m_guidMutex);
    return m_currentShareGuid;
}

void ShareTaskThread::setCurrentShareGuid(const QString &guid) {
    QMutexLocker lock(&m_guidMutex);
    m_currentShareGuid = guid;
}

QString ShareTaskThread::lastShareGuid() const {
    QMutexLocker lock(&m_guidMutex);
    return m_lastShareGuid;
}

void ShareTaskThread::setLastShareGuid(const QString &guid) {
    QMutexLocker lock(&m_guidMutex);
    m_lastShareGuid = guid;
}

QList<QVariantMap> ShareTaskThread::taskQueue() const {
    QMutexLocker lock(&m_taskMutex);
    return m_taskQueue;
}

QList<UploadItem> ShareTaskThread::stagedQueue() const {
    QMutexLocker lock(&m_stagedMutex);
    return m_stagedQueue;
}

} // namespace lf
