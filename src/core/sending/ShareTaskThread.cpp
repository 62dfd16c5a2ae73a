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

// Moves the task's resume point after a failed send and returns it (none when the send stopped
// before any photo). Sets `skipped` when the server refused the photo for good (or it threw):
// the next attempt goes on with the one after it.
std::optional<int> resumeAfterFailure(const ShareTaskPtr &task, const QVariantMap &result, bool *skipped) {
    std::optional<int> resume;
    if (result.contains(BundleKey::ContinuePhoto))
        resume = result.value(BundleKey::ContinuePhoto).toInt();
    *skipped = resume && !transientFailure(result.value(BundleKey::HttpStatus).toInt());
    if (*skipped)
        resume = *resume + 1;
    if (task) {
        if (resume)
            task->setContinuePhoto(*resume);
        else if (!task->sentBundleCreate() && !result.value(BundleKey::SentCreate).toBool())
            task->setContinuePhoto(0);
        // Otherwise the send stopped at the close: the photos already sent stay sent.
    }
    return resume;
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
    NotificationCenter::defaultCenter().removeObserver(this);
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_service->setUploadsStopping(true);
    wake();
    const auto stagedDone = [this] {
        std::lock_guard lock(m_mutex);
        return !m_stagedInFlight;
    };
    // The worker may be waiting for the main thread (a progress or completion report).
    if (isMainThread())
        pumpMainThreadUntil([this] {
            std::lock_guard lock(m_mutex);
            return !m_stagedInFlight && m_workerDone;
        });
    m_taskThread.join();
    while (!stagedDone())
        pumpMainThreadUntil(stagedDone, 50);
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

    UploadItem item {{kPhotoCaption, caption}, {kPhotoOrder, info.value(kPhotoOrder, k)}};
    if (!url.isEmpty()) {
        item.insert(kPhotoUrl, url);
        item.insert(kPhotoGuid, info.value(kPhotoGuid));
        item.insert(kPhotoOrigin, info.value(kPhotoOrigin, QString::fromLatin1(kOriginLibrary)));
        item.insert(kUploadFullImage, !large);
        if (upload)
            item.insert(
                kUploadType, QString::fromLatin1(!highRes || !large ? kUploadTypeFull : kUploadTypeScreen));
        if (info.contains(kPhotoGps))
            item.insert(kPhotoGps, info.value(kPhotoGps));
    }
    *stage = large && highRes && upload && !url.isEmpty();
    return item;
}

// Adds the full-size items the task does not hold yet. A task queued again (a resumed share)
// already holds its staged items: one per file.
void addFullPhotoInfos(const ShareTaskPtr &task, const QList<UploadItem> &staged) {
    const QList<UploadItem> existing = task->fullPhotoInfos();
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

    QVariantList photos;
    QList<UploadItem> staged;
    const QList<PhotoInfo> infos = task->photoInfos();
    for (int k = 0; k < infos.size(); ++k) {
        bool stage = false;
        const UploadItem item = uploadItemOf(infos.at(k), k, highRes, &stage);
        photos.append(item);
        if (stage)
            staged.append(item);
    }
    addFullPhotoInfos(task, staged);

    QVariantMap request {{BundleKey::BundleGuid, task->bundleGuid()},
        {BundleKey::Recipients, task->recipients()->list()}, {BundleKey::Message, task->message()},
        {BundleKey::Photos, photos}, {BundleKey::Context, QVariant::fromValue(task)}};
    if (task->continuePhoto() != 0)
        request.insert(BundleKey::ContinuePhoto, task->continuePhoto());
    if (task->sentBundleCreate())
        request.insert(BundleKey::SentCreate, true);
    task->setSendFailed(false);

    const QList<UploadItem> fullPhotos = task->fullPhotoInfos();
    {
        std::lock_guard lock(m_mutex);
        m_taskQueue.append(request);
        m_holdStaged = true;
        m_stagedQueue.append(fullPhotos);
    }
    task->saveTask();
    wake();
}

void ShareTaskThread::enqueue(const ShareTaskPtr &task, const QImage &image, const QString &path,
    const QString &origin, const QVariantMap &gps) {
    {
        // Marked under the lock, so the flag always says whether a job of the task is queued.
        std::lock_guard lock(m_mutex);
        task->markPhotosIncoming(true);
        m_imageQueue.append({task, image, path, origin, gps});
    }
    task->announcePhotosIncoming();
    wake();
}

void ShareTaskThread::enqueueStageInfo(const UploadItem &item) {
    {
        std::lock_guard lock(m_mutex);
        m_stagedQueue.append(item);
    }
    wake();
}

// ---- the worker ----

void ShareTaskThread::worker() {
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
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
        UploadItem ready;
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
    ImageJob job;
    {
        std::lock_guard lock(m_mutex);
        if (m_imageQueue.isEmpty())
            return;
        job = m_imageQueue.takeFirst();
    }
    QString error;
    if (!writeJpegFile(job.image, job.path, job.gps, &error))
        qCWarning(lfSending).noquote() << QStringLiteral("error writing image file = %1").arg(error);
    {
        std::lock_guard lock(m_mutex);
        const bool more = std::any_of(m_imageQueue.cbegin(), m_imageQueue.cend(),
            [&](const ImageJob &other) { return other.task == job.task; });
        job.task->markPhotosIncoming(more);
    }
    job.task->announcePhotosIncoming();
}

void ShareTaskThread::setPauseObserver(PauseObserver observer) {
    std::lock_guard lock(m_mutex);
    m_pauseObserver = std::move(observer);
}

bool ShareTaskThread::headCancelledLocked() const {
    return !m_taskQueue.isEmpty() && m_taskQueue.first().contains(RequestKey::Cancelled);
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
    m_stagedQueue.removeIf([&](const UploadItem &item) { return taskOf(item) == task; });
    removeHeadLocked();
}

void ShareTaskThread::taskWork() {
    QVariantMap request;
    {
        std::lock_guard lock(m_mutex);
        if (m_taskQueue.isEmpty())
            return;
        request = m_taskQueue.first();
    }
    const ShareTaskPtr task = taskOf(request);
    if (!sendsFor(task)) {
        setAsideHead(task);
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_currentShareTask = task;
    }
    if (request.contains(RequestKey::OnHold) && !request.contains(RequestKey::Cancelled)) {
        pollHeldHead();
        return;
    }
    const QString guid = request.value(BundleKey::BundleGuid).toString();
    const AttemptStart start {task ? task->continuePhoto() : 0, task && task->sentBundleCreate()};
    QVariantMap result;
    bool cancelled = !sendHead(request, guid, &result);
    if (stopping())
        return; // the send was abandoned for the program's end; the share resumes at the next start
    int skipped;
    {
        // A cancel that arrived during the send marked the request.
        std::lock_guard lock(m_mutex);
        cancelled = cancelled || headCancelledLocked();
        skipped = m_taskQueue.value(0).value(RequestKey::SkippedPhotos).toInt();
    }
    if (cancelled) {
        finishCancelledHead(task, guid, result);
    } else if (result.contains(BundleKey::Error)) {
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
            m_taskQueue.first().remove(RequestKey::OnHold);
        m_sleepTime = kInitialSleepTime;
    }
    NotificationCenter::defaultCenter().post(kConnectionEstablishedNotification);
}

bool ShareTaskThread::sendHead(const QVariantMap &request, const QString &guid, QVariantMap *result) {
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
    const ShareTaskPtr &task, const QString &guid, const QVariantMap &result) {
    // The share is withdrawn: nothing of it may be sent again at the next start. A bundle
    // created by an earlier attempt is withdrawn here; one made by this pass's send, there.
    if (task && task->sentBundleCreate() && !result.value(BundleKey::SentCreate).toBool())
        withdrawBundle(guid);
    if (task)
        task->deleteArchives();
    finishHead(task, nullptr);
}

void ShareTaskThread::handleFailedSend(
    const ShareTaskPtr &task, const QString &guid, const QVariantMap &result, AttemptStart start) {
    const int status = result.value(BundleKey::HttpStatus).toInt();
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
            QVariantMap &head = m_taskQueue.first();
            if (result.value(BundleKey::SentCreate).toBool())
                head.insert(BundleKey::SentCreate, true);
            if (lostNet)
                head.insert(RequestKey::OnHold, QString::fromLatin1(RequestKey::OnHoldCheck));
            if (continuePhoto != 0)
                head.insert(BundleKey::ContinuePhoto, continuePhoto);
            if (skipped)
                head.insert(RequestKey::SkippedPhotos, head.value(RequestKey::SkippedPhotos).toInt() + 1);
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

bool ShareTaskThread::nextStagedItemLocked(UploadItem *item) const {
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
        try {
            stagedWorkThread();
        } catch (const std::exception &e) {
            qCWarning(lfSending).noquote()
                << QStringLiteral("the full-size uploads stopped: %1").arg(QString::fromUtf8(e.what()));
        }
        // Last: the destructor waits for this flag before the object goes.
        std::lock_guard lock(m_mutex);
        m_stagedInFlight = false;
        m_woken = true;
        m_wakeCondition.notify_all();
    });
    if (!started) {
        std::lock_guard lock(m_mutex);
        m_stagedInFlight = false;
    }
}

QList<ShareTaskPtr> ShareTaskThread::takeStagedItemsOfLocked(const QString &bundleGuid) {
    QList<ShareTaskPtr> owners;
    for (qsizetype i = m_stagedQueue.size() - 1; i >= 0; --i) {
        const ShareTaskPtr owner = taskOf(m_stagedQueue.at(i));
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

bool ShareTaskThread::dropStagedItem(const UploadItem &item) {
    std::lock_guard lock(m_mutex);
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
    {
        std::lock_guard lock(m_mutex);
        if (!nextStagedItemLocked(&item))
            return;
    }
    if (!sendsFor(taskOf(item))) {
        // Kept in its task's archive: its owner's next start uploads it.
        dropStagedItem(item);
        return;
    }
    const QVariantMap result = m_service->uploadPhotoAsynch(item);
    if (stopping())
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
        qCWarning(lfSending).noquote()
            << QStringLiteral("staged upload dropped: %1").arg(result.value(BundleKey::Error).toString());
        if (dropStagedItem(item))
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
        for (QVariantMap &request : m_taskQueue) {
            request.insert(RequestKey::Cancelled, QString::fromLatin1(RequestKey::CancelledMark));
            request.remove(RequestKey::OnHold);
            if (const ShareTaskPtr task = taskOf(request)) {
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
            return m_stagedQueue.value(0).value(kUploadFullIndex).toInt();
        task = m_currentShareTask ? m_currentShareTask : taskOf(m_taskQueue.first());
    }
    return task ? std::clamp(task->continuePhoto(), 0, std::max(0, task->photoCount() - 1)) : 0;
}

int ShareTaskThread::countShare() const {
    ShareTaskPtr task;
    {
        std::lock_guard lock(m_mutex);
        if (m_taskQueue.isEmpty())
            return m_stagedQueue.value(0).value(kUploadFullCount).toInt();
        task = taskOf(m_taskQueue.first());
    }
    return task ? task->photoCount() : 0;
}

QString ShareTaskThread::currentShareGuid() const {
    std::lock_guard lock(m_mutex);
    return m_currentShareGuid;
}

QList<QVariantMap> ShareTaskThread::taskQueue() const {
    std::lock_guard lock(m_mutex);
    return m_taskQueue;
}

} // namespace lf
