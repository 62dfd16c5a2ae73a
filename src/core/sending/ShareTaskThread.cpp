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

#include <algorithm>
#include <atomic>
#include <exception>
#include <optional>
#include <utility>

namespace lf {

namespace {

// Transient failures: no answer at all (time-out, dropped connection, any other transport
// failure) or a server in trouble (5xx). Neither refused the photo, so the next attempt starts
// again at it, after a pause: back-to-back attempts would spend all seven on a blip of a second.
// Only a refusal (or a photo that threw) moves past a photo.
bool transientFailure(int status) {
    return retrySamePhotoIfError(status) || (status >= 500 && status <= 599)
        || (status < 0 && status != NetError::Cancelled);
}

// Moves the task's resume point after a failed send and returns it (none when the send stopped
// before any photo). Sets `skipped` when the server refused the photo for good (or it threw):
// the next attempt goes on with the one after it.
std::optional<int> resumeAfterFailure(const ShareTaskPtr &task, const SendResult &result, bool *skipped) {
    std::optional<int> resume = result.continuePhoto;
    *skipped = resume && !transientFailure(result.status);
    if (*skipped)
        resume = *resume + 1;
    if (task) {
        if (resume)
            task->setContinuePhoto(*resume);
        else if (!task->sentBundleCreate() && !result.sentCreate)
            task->setContinuePhoto(0);
        // Otherwise the send stopped at the close: the photos already sent stay sent.
    }
    return resume;
}

} // namespace

bool StagedItem::sameAs(const StagedItem &other) const {
    return item.url == other.item.url && item.fullIndex == other.item.fullIndex && task == other.task;
}

QVariantMap StagedItem::notificationObject() const {
    QVariantMap object = item.toMap();
    object.insert(kUploadBundleContext, QVariant::fromValue(task));
    return object;
}

ShareTaskThread::ShareTaskThread(std::shared_ptr<Service> service, QObject *parent)
    : QObject(parent)
    , m_service(std::move(service)) {
    BundleUploader::install(*m_service);
    ShareTask::setImageQueue(this);
    NotificationCenter::defaultCenter().addObserver(this, kGoodNetNotification, [this](const Notification &) {
        bool wasLost;
        {
            std::lock_guard lock(m_mutex);
            wasLost = std::exchange(m_lostNet, false);
        }
        if (wasLost)
            postOnMain(kGrowlNotification, QString::fromLatin1(GrowlKey::NetBack));
    });
    m_taskThread = std::thread([this] { worker(); });
}

ShareTaskThread::~ShareTaskThread() {
    // The wait below delivers main-thread calls: a going worker announces nothing.
    blockSignals(true);
    NotificationCenter::defaultCenter().removeObserver(this);
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_service->setUploadsStopping(true);
    wake();
    // On the main thread the wait delivers main-thread calls: the worker may be waiting for one
    // (a progress or completion report).
    m_stopped.wait([this] {
        std::lock_guard lock(m_mutex);
        return !m_stagedInFlight && m_workerDone;
    });
    m_taskThread.join();
    m_alive.reset();
    m_service->setUploadsStopping(false);
    ShareTask::setImageQueue(nullptr);
}

void ShareTaskThread::wake() {
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_wakeCondition.notify_all();
}

bool ShareTaskThread::stopping() const {
    std::lock_guard lock(m_mutex);
    return m_stopping;
}

bool ShareTaskThread::noteNetLost() {
    std::lock_guard lock(m_mutex);
    return !std::exchange(m_lostNet, true);
}

bool ShareTaskThread::lostNet() const {
    std::lock_guard lock(m_mutex);
    return m_lostNet;
}

void ShareTaskThread::setHoldStaged(bool hold) {
    {
        std::lock_guard lock(m_mutex);
        m_holdStaged = hold;
    }
    wake();
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
            // Announcements from several threads may arrive out of order: the flag decides.
            if (!stabilized || !task->photosStabilized() || done->exchange(true))
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

namespace {

// The upload item of one photo of a share request.
UploadItem uploadItemOf(const PhotoInfo &info, int k, bool highRes, bool *stage) {
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

    UploadItem item;
    item.caption = caption;
    item.order = info.value(kPhotoOrder, k).toInt();
    if (!url.isEmpty()) {
        item.url = url;
        item.photoGuid = info.value(kPhotoGuid).toString();
        item.origin = info.value(kPhotoOrigin, QString::fromLatin1(kOriginLibrary)).toString();
        item.fullImage = !large;
        if (upload)
            item.type = QString::fromLatin1(!highRes || !large ? kUploadTypeFull : kUploadTypeScreen);
        item.gps = info.value(kPhotoGps).toMap();
    }
    *stage = large && highRes && upload && !url.isEmpty();
    return item;
}

// Adds the full-size items the task does not hold yet. A task queued again (a resumed share)
// already holds its staged items: one per file.
void addFullPhotoInfos(const ShareTaskPtr &task, const QList<UploadItem> &staged) {
    const QList<UploadItem> existing = task->fullPhotoInfos();
    for (int j = 0; j < staged.size(); ++j) {
        const QString &url = staged.at(j).url;
        const bool known = std::any_of(
            existing.cbegin(), existing.cend(), [&](const UploadItem &e) { return e.url == url; });
        if (known)
            continue;
        UploadItem full = staged.at(j);
        full.fullIndex = j;
        full.fullCount = int(staged.size());
        full.type = QString::fromLatin1(kUploadTypeFull);
        full.fullImage = true;
        task->appendFullPhotoInfo(full);
    }
}

} // namespace

void ShareTaskThread::enqueue(const ShareTaskPtr &task) {
    if (!task)
        return;
    const bool highRes = Prefs::boolPrefForKey(PrefKey::ShareHighResPhotos, false);
    // In-memory images not written by now are dropped; every photo gets its identity.
    task->editPhotoInfos([](QList<PhotoInfo> &infos) {
        for (PhotoInfo &info : infos) {
            info.remove(kPhotoImage);
            if (info.value(kPhotoGuid).toString().isEmpty())
                info.insert(kPhotoGuid, generateUUIDString());
        }
    });

    QueuedShare queued;
    ShareRequest &request = queued.request;
    QList<UploadItem> staged;
    const QList<PhotoInfo> infos = task->photoInfos();
    for (int k = 0; k < infos.size(); ++k) {
        bool stage = false;
        const UploadItem item = uploadItemOf(infos.at(k), k, highRes, &stage);
        request.photos.append(item);
        if (stage)
            staged.append(item);
    }
    addFullPhotoInfos(task, staged);

    request.bundleGuid = task->bundleGuid();
    request.recipients = task->recipients()->list();
    request.message = task->message();
    request.task = task;
    if (task->continuePhoto() != 0)
        request.continuePhoto = task->continuePhoto();
    request.sentCreate = task->sentBundleCreate();
    task->setSendFailed(false);

    const QList<UploadItem> fullPhotos = task->fullPhotoInfos();
    {
        std::lock_guard lock(m_mutex);
        m_taskQueue.append(queued);
        m_holdStaged = true;
        for (const UploadItem &item : fullPhotos)
            m_stagedQueue.append({item, task});
    }
    task->saveTask();
    wake();
}

void ShareTaskThread::enqueue(const ShareTaskPtr &task, const QList<ImageJob> &jobs) {
    if (jobs.isEmpty())
        return;
    {
        // Marked under the lock, so the flag always says whether a job of the task is queued.
        std::lock_guard lock(m_mutex);
        task->markPhotosIncoming(true);
        for (const ImageJob &job : jobs)
            m_imageQueue.append({task, job});
    }
    task->announcePhotosIncoming();
    wake();
}

void ShareTaskThread::enqueueStageInfo(const StagedItem &staged) {
    {
        std::lock_guard lock(m_mutex);
        m_stagedQueue.append(staged);
    }
    wake();
}

// ---- the worker ----

void ShareTaskThread::worker() {
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        if (turnedIdleLocked()) {
            lock.unlock();
            announceIdle();
            lock.lock();
            continue;
        }
        const Step step = nextStep(lock);
        if (step == Step::Wait)
            continue;
        lock.unlock();
        try {
            runStep(step);
        } catch (const std::exception &e) {
            qCWarning(lfSending).noquote()
                << QStringLiteral("a pass of the share worker failed: %1").arg(QString::fromUtf8(e.what()));
        } catch (...) {
            qCWarning(lfSending).noquote() << QStringLiteral("a pass of the share worker failed");
        }
        lock.lock();
    }
    m_workerDone = true;
    lock.unlock();
    m_stopped.notify();
}

bool ShareTaskThread::turnedIdleLocked() {
    const bool idle = m_taskQueue.isEmpty() && m_stagedQueue.isEmpty() && !m_stagedInFlight;
    if (!idle)
        m_idleAnnounced = false;
    return idle && !std::exchange(m_idleAnnounced, true);
}

void ShareTaskThread::announceIdle() {
    // Queued behind every post of the worker; the alive flag is read and reset on the main thread.
    runOnMainThread([this, alive = std::weak_ptr<bool>(m_alive)] {
        if (alive.lock())
            emit idle();
    });
}

ShareTaskThread::Step ShareTaskThread::nextStep(std::unique_lock<std::mutex> &lock) {
    if (!m_imageQueue.isEmpty())
        return Step::Image;
    // Looked at under the same lock as the staged queue: a share queued meanwhile goes before
    // its full-size items.
    if (!m_taskQueue.isEmpty())
        return Step::Task;
    const auto woken = [this] { return m_woken || m_stopping; };
    if (!m_stagedQueue.isEmpty() && !m_holdStaged && !m_stagedInFlight) {
        Clock &clock = Clock::instance();
        const qint64 now = clock.monotonicMs();
        StagedItem ready;
        // An item whose bundle the server has not accepted yet is looked at again after a pause.
        const qint64 due
            = nextStagedItemLocked(&ready) ? m_stagedNotBeforeMs : now + qint64(kStagedCheckSeconds * 1000);
        if (due <= now)
            return Step::Staged;
        clock.waitUnless(m_wakeCondition, lock, std::chrono::milliseconds(due - now), woken);
    } else {
        m_wakeCondition.wait(lock, woken);
    }
    m_woken = false;
    return Step::Wait;
}

void ShareTaskThread::runStep(Step step) {
    switch (step) {
    case Step::Image:
        imageWork();
        break;
    case Step::Task:
        taskWork();
        break;
    case Step::Staged:
        stagedWork();
        break;
    case Step::Wait:
        break;
    }
}

void ShareTaskThread::imageWork() {
    QueuedImage queued;
    {
        std::lock_guard lock(m_mutex);
        if (m_imageQueue.isEmpty())
            return;
        queued = m_imageQueue.takeFirst();
    }
    QString error;
    if (!writeJpegFile(queued.job.image, queued.job.path, queued.job.gps, &error))
        qCWarning(lfSending).noquote() << QStringLiteral("error writing image file = %1").arg(error);
    {
        std::lock_guard lock(m_mutex);
        const bool more = std::any_of(m_imageQueue.cbegin(), m_imageQueue.cend(),
            [&](const QueuedImage &other) { return other.task == queued.task; });
        queued.task->markPhotosIncoming(more);
    }
    queued.task->announcePhotosIncoming();
}

void ShareTaskThread::setPauseObserver(PauseObserver observer) {
    std::lock_guard lock(m_mutex);
    m_pauseObserver = std::move(observer);
}

bool ShareTaskThread::headCancelledLocked() const {
    return !m_taskQueue.isEmpty() && m_taskQueue.first().cancelled;
}

void ShareTaskThread::backOff(bool forHead) {
    std::unique_lock lock(m_mutex);
    const std::chrono::milliseconds pause(qint64(m_sleepTime * 1000.0f));
    const PauseObserver observer = m_pauseObserver;
    lock.unlock();
    if (observer)
        observer(pause);
    lock.lock();
    // A cancel marks the head and then wakes this wait: the share goes now, not after the pause.
    const auto stop = [this, forHead] { return m_stopping || (forHead && headCancelledLocked()); };
    Clock::instance().waitUnless(m_wakeCondition, lock, pause, stop);
    m_sleepTime = std::min(m_sleepTime * kSleepTimeGrowth, kMaxSleepTime);
}

void ShareTaskThread::removeHeadLocked() {
    if (!m_taskQueue.isEmpty())
        m_taskQueue.removeFirst();
    if (m_taskQueue.isEmpty())
        m_holdStaged = false;
}

void ShareTaskThread::finishHead(const ShareTaskPtr &task, const char *growlKey) {
    {
        std::lock_guard lock(m_mutex);
        removeHeadLocked();
        m_currentShareGuid.clear();
        m_currentShareTask.reset();
        m_sleepTime = kInitialSleepTime;
    }
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
    std::lock_guard lock(m_mutex);
    m_stagedQueue.removeIf([&](const StagedItem &staged) { return staged.task == task; });
    removeHeadLocked();
}

void ShareTaskThread::taskWork() {
    QueuedShare head;
    {
        std::lock_guard lock(m_mutex);
        if (m_taskQueue.isEmpty())
            return;
        head = m_taskQueue.first();
    }
    const ShareTaskPtr task = head.request.task;
    if (!sendsFor(task)) {
        setAsideHead(task);
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_currentShareTask = task;
    }
    if (head.onHold && !head.cancelled) {
        pollHeldHead();
        return;
    }
    const QString guid = head.request.bundleGuid;
    const AttemptStart start {task ? task->continuePhoto() : 0, task && task->sentBundleCreate()};
    SendResult result;
    bool cancelled = !sendHead(head.request, &result);
    if (stopping())
        return; // the send was abandoned for the program's end; the share resumes at the next start
    int skipped;
    {
        // A cancel that arrived during the send marked the request.
        std::lock_guard lock(m_mutex);
        cancelled = cancelled || headCancelledLocked();
        skipped = m_taskQueue.isEmpty() ? 0 : m_taskQueue.first().skippedPhotos;
    }
    if (cancelled) {
        finishCancelledHead(task, guid, result);
    } else if (result.failed) {
        handleFailedSend(task, guid, result, start);
    } else {
        const bool missing = skipped > 0 || (task && !task->missingPhotos().isEmpty());
        finishHead(task, missing ? GrowlKey::SuccessMissing : GrowlKey::SuccessScreen);
    }
    runOnMainThread([] { unforceProgress(); });
}

void ShareTaskThread::pollHeldHead() {
    if (!m_service->checkConnection()) {
        backOff(true);
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        if (!m_taskQueue.isEmpty())
            m_taskQueue.first().onHold = false;
        m_sleepTime = kInitialSleepTime;
    }
    NotificationCenter::defaultCenter().post(kConnectionEstablishedNotification);
}

bool ShareTaskThread::sendHead(const ShareRequest &request, SendResult *result) {
    const QString &guid = request.bundleGuid;
    bool cancelled;
    {
        // Decided under the lock, so a cancel either marked this request before or sees the send
        // in flight (see cancelAllShareTasks).
        std::lock_guard lock(m_mutex);
        m_currentShareGuid = guid;
        m_retries = (guid == m_lastShareGuid) ? m_retries + 1 : 0;
        cancelled = m_taskQueue.isEmpty() || headCancelledLocked();
        m_sending = !cancelled;
        if (m_sending)
            m_service->setCancelled(false);
    }
    if (!cancelled)
        *result = m_service->sendBundleAsynch(request);
    std::lock_guard lock(m_mutex);
    if (m_sending) {
        m_sending = false;
        // A cancel that came too late to stop the send must not stop the next one.
        m_service->setCancelled(false);
    }
    m_lastShareGuid = guid;
    return !cancelled;
}

void ShareTaskThread::finishCancelledHead(
    const ShareTaskPtr &task, const QString &guid, const SendResult &result) {
    // The share is withdrawn: nothing of it may be sent again at the next start. A bundle
    // created by an earlier attempt is withdrawn here; one made by this pass's send, there.
    if (task && task->sentBundleCreate() && !result.sentCreate)
        withdrawBundle(guid);
    if (task)
        task->deleteArchives();
    finishHead(task, nullptr);
}

void ShareTaskThread::handleFailedSend(
    const ShareTaskPtr &task, const QString &guid, const SendResult &result, AttemptStart start) {
    const int status = result.status;
    if (status == NetError::NotConnected && noteNetLost())
        postOnMain(kGrowlNotification, QString::fromLatin1(GrowlKey::NetLost));
    bool skipped = false;
    const std::optional<int> resume = resumeAfterFailure(task, result, &skipped);
    const int continuePhoto = task ? task->continuePhoto() : resume.value_or(0);
    const bool movedOn
        = task && (task->continuePhoto() > start.photo || (!start.created && task->sentBundleCreate()));
    bool lostNet;
    qint64 retries;
    {
        std::lock_guard lock(m_mutex);
        if (!resume)
            m_currentShareGuid.clear();
        lostNet = m_lostNet;
        if (movedOn)
            m_retries = 0;
        retries = m_retries;
        if (!m_taskQueue.isEmpty()) {
            QueuedShare &head = m_taskQueue.first();
            if (result.sentCreate)
                head.request.sentCreate = true;
            if (lostNet)
                head.onHold = true;
            if (continuePhoto != 0)
                head.request.continuePhoto = continuePhoto;
            if (skipped)
                ++head.skippedPhotos;
        }
    }
    if (task)
        task->saveTask();
    if (retries >= kGiveUpRetries) {
        qCWarning(lfSending).noquote()
            << QStringLiteral("giving up share %1 after %2 attempts").arg(guid).arg(retries + 1);
        giveUp(task, guid);
    } else if (transientFailure(status) && !lostNet) {
        backOff(true);
    } else {
        // A held share starts its own pauses; a refusal is tried again at once.
        std::lock_guard lock(m_mutex);
        m_sleepTime = kInitialSleepTime;
    }
}

bool ShareTaskThread::nextStagedItemLocked(StagedItem *staged) const {
    for (const StagedItem &candidate : m_stagedQueue) {
        // A full-size copy goes into its bundle: never before the server has accepted it.
        const ShareTaskPtr &task = candidate.task;
        if (task && (task->sentBundleCreate() || task->sendCompleted())) {
            *staged = candidate;
            return true;
        }
    }
    return false;
}

void ShareTaskThread::stagedWork() {
    Clock &clock = Clock::instance();
    if (Service::on3G() && Prefs::boolPrefForKey(PrefKey::StagedOnWifi2, false)) {
        std::lock_guard lock(m_mutex);
        m_stagedNotBeforeMs = clock.monotonicMs() + kMobileDataPauseSeconds * 1000LL;
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_stagedNotBeforeMs = clock.monotonicMs() + qint64(kStagedCheckSeconds * 1000);
        m_stagedInFlight = true;
    }
    const bool started = Workers::instance().start(QStringLiteral("staged upload"), [this] {
        const std::function<void()> notifyStopped = m_stopped.notifier();
        try {
            stagedWorkThread();
        } catch (const std::exception &e) {
            qCWarning(lfSending).noquote()
                << QStringLiteral("the full-size uploads stopped: %1").arg(QString::fromUtf8(e.what()));
        }
        {
            // The destructor waits for this flag before the object goes: nothing of it is
            // touched after the lock is released.
            std::lock_guard lock(m_mutex);
            m_stagedInFlight = false;
            m_woken = true;
            m_wakeCondition.notify_all();
        }
        notifyStopped();
    });
    if (!started) {
        std::lock_guard lock(m_mutex);
        m_stagedInFlight = false;
    }
}

QList<ShareTaskPtr> ShareTaskThread::takeStagedItemsOfLocked(const QString &bundleGuid) {
    QList<ShareTaskPtr> owners;
    for (qsizetype i = m_stagedQueue.size() - 1; i >= 0; --i) {
        const ShareTaskPtr owner = m_stagedQueue.at(i).task;
        if (owner && owner->bundleGuid() == bundleGuid) {
            if (!owners.contains(owner))
                owners.append(owner);
            m_stagedQueue.removeAt(i);
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
    {
        // The full-size copies stay in the task and go again with it.
        std::lock_guard lock(m_mutex);
        takeStagedItemsOfLocked(guid);
    }
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

bool ShareTaskThread::dropStagedItem(const StagedItem &staged) {
    std::lock_guard lock(m_mutex);
    m_stagedRetries = 0;
    // A cancel may have removed the item meanwhile; only that very item leaves the queue.
    const auto it = std::find_if(
        m_stagedQueue.begin(), m_stagedQueue.end(), [&](const StagedItem &e) { return e.sameAs(staged); });
    if (it != m_stagedQueue.end())
        m_stagedQueue.erase(it);
    return m_stagedQueue.isEmpty();
}

void ShareTaskThread::stagedWorkThread() {
    StagedItem staged;
    {
        std::lock_guard lock(m_mutex);
        if (!nextStagedItemLocked(&staged))
            return;
    }
    if (!sendsFor(staged.task)) {
        // Kept in its task's archive: its owner's next start uploads it.
        dropStagedItem(staged);
        return;
    }
    const SendResult result = m_service->uploadPhotoAsynch(staged.item);
    if (stopping())
        return;
    if (!result.failed) {
        if (staged.task) {
            staged.task->removeFullPhotoInfo(staged.item.url);
            staged.task->saveTask();
        }
        postOnMain(kStagedUploadDoneNotification, staged.notificationObject());
        if (dropStagedItem(staged))
            postOnMain(kGrowlNotification, QString::fromLatin1(GrowlKey::SuccessFull));
        return;
    }

    const int status = result.status;
    bool retry = false;
    if (status != NetError::NotConnected && transientFailure(status)) {
        std::lock_guard lock(m_mutex);
        retry = m_stagedRetries <= kStagedRetryLimit;
        if (retry)
            ++m_stagedRetries;
    }
    if (status == NetError::NotConnected) {
        if (noteNetLost())
            postOnMain(kGrowlNotification, QString::fromLatin1(GrowlKey::NetLost));
    } else if (!retry) {
        qCWarning(lfSending).noquote() << QStringLiteral("staged upload dropped: %1").arg(result.error);
        if (dropStagedItem(staged))
            postOnMain(kGrowlNotification, QString::fromLatin1(GrowlKey::Fail));
    }
    backOff(false);
}

// ---- cancel and read-outs ----

void ShareTaskThread::cancelAllShareTasks() {
    bool hold;
    QString guid;
    QList<ShareTaskPtr> owners;
    {
        std::lock_guard lock(m_mutex);
        hold = std::exchange(m_holdStaged, true);
        guid = m_currentShareGuid;
        for (QueuedShare &queued : m_taskQueue) {
            queued.cancelled = true;
            queued.onHold = false;
            if (const ShareTaskPtr &task = queued.request.task) {
                for (const ShareTaskPtr &owner : takeStagedItemsOfLocked(task->bundleGuid())) {
                    if (!owners.contains(owner))
                        owners.append(owner);
                }
            }
        }
    }
    for (const ShareTaskPtr &owner : std::as_const(owners)) {
        owner->setFullPhotoInfos({});
        owner->deleteArchives();
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
        std::lock_guard lock(m_mutex);
        if (!m_sending)
            m_service->setCancelled(false);
        m_holdStaged = hold;
        // Also ends a pause between attempts at once.
        m_woken = true;
    }
    m_wakeCondition.notify_all();
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
    std::lock_guard lock(m_mutex);
    return int(m_taskQueue.size());
}

int ShareTaskThread::stagingCount() const {
    std::lock_guard lock(m_mutex);
    return int(m_stagedQueue.size());
}

int ShareTaskThread::currentShare() const {
    ShareTaskPtr task;
    {
        std::lock_guard lock(m_mutex);
        if (m_taskQueue.isEmpty())
            return m_stagedQueue.isEmpty() ? 0 : std::max(0, m_stagedQueue.first().item.fullIndex);
        task = m_currentShareTask ? m_currentShareTask : m_taskQueue.first().request.task;
    }
    return task ? std::clamp(task->continuePhoto(), 0, std::max(0, task->photoCount() - 1)) : 0;
}

int ShareTaskThread::countShare() const {
    ShareTaskPtr task;
    {
        std::lock_guard lock(m_mutex);
        if (m_taskQueue.isEmpty())
            return m_stagedQueue.isEmpty() ? 0 : std::max(0, m_stagedQueue.first().item.fullCount);
        task = m_taskQueue.first().request.task;
    }
    return task ? task->photoCount() : 0;
}

QString ShareTaskThread::currentShareGuid() const {
    std::lock_guard lock(m_mutex);
    return m_currentShareGuid;
}

QList<ShareTaskPtr> ShareTaskThread::queuedTasks() const {
    std::lock_guard lock(m_mutex);
    QList<ShareTaskPtr> tasks;
    for (const QueuedShare &queued : m_taskQueue)
        tasks.append(queued.request.task);
    return tasks;
}

} // namespace lf
