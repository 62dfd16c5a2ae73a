#include "sending/ShareTaskManager.h"

#include "foundation/FileRules.h"
#include "foundation/Identity.h"
#include "foundation/Log.h"
#include "foundation/LogCategories.h"
#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Workers.h"
#include "session/Service.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>

namespace lf {

namespace {

std::atomic<ShareTaskManager *> g_instance {nullptr};

QString cleanPath(const QString &path) {
    return QDir::cleanPath(path);
}

QString queueLockPath() {
    return QDir(sandboxFolder()).filePath(QString::fromLatin1(kShareQueueLockName));
}

} // namespace

qint64 ShareTaskManager::queueHolder() {
    QLockFile lock(queueLockPath());
    qint64 pid = 0;
    QString host;
    QString app;
    if (!lock.getLockInfo(&pid, &host, &app) || pid <= 0)
        return 0;
    // A lock left by a process that is gone holds nothing.
    return (::kill(pid_t(pid), 0) == 0 || errno == EPERM) ? pid : 0;
}

ShareTaskManager::ShareTaskManager(std::shared_ptr<Service> service, QObject *parent)
    : QObject(parent)
    , m_service(std::move(service)) {
    g_instance = this;
    const QString cache = sandboxFolder();
    QDir().mkpath(cache);
    m_queueLock = std::make_unique<QLockFile>(queueLockPath());
    // Only a lock whose process is gone counts as stale, however old it is.
    m_queueLock->setStaleLockTime(0);
    m_ownsQueue = m_queueLock->tryLock(0);
    if (!m_ownsQueue)
        SystemLog(QStringLiteral("another process sends the stored shares; this one leaves them alone"));

    for (const QString &path : Prefs::prefForKey(PrefKey::Bundles).toStringList())
        m_bundlePaths.append(path);
    NotificationCenter &center = NotificationCenter::defaultCenter();
    for (const char *name :
        {kShareTaskChangedNotification, kUploadDoneNotification, kStagedUploadDoneNotification})
        center.addObserver(
            this, QString::fromLatin1(name), [this](const Notification &n) { notification(n); });
    m_shareTaskThread = std::make_unique<ShareTaskThread>(m_service);
}

ShareTaskManager::~ShareTaskManager() {
    NotificationCenter::defaultCenter().removeObserver(this);
    waitForSaves();
    m_shareTaskThread.reset();
    ShareTaskManager *self = this;
    g_instance.compare_exchange_strong(self, nullptr);
}

ShareTaskManager *ShareTaskManager::singleton() {
    return g_instance;
}

// ---- the list of live folders ----

QStringList ShareTaskManager::bundlePaths() const {
    QMutexLocker lock(&m_pathsMutex);
    return m_bundlePaths;
}

void ShareTaskManager::setBundlePaths(const QStringList &paths) {
    QMutexLocker lock(&m_pathsMutex);
    m_bundlePaths = paths;
    storeBundlePaths(m_bundlePaths);
}

void ShareTaskManager::storeBundlePaths(const QStringList &paths) {
    // Another process's list is its own business.
    if (m_ownsQueue)
        Prefs::setPref(paths, QString::fromLatin1(PrefKey::Bundles));
}

void ShareTaskManager::addBundlePath(const QString &path) {
    if (path.isEmpty())
        return;
    QMutexLocker lock(&m_pathsMutex);
    if (m_bundlePaths.contains(path))
        return;
    m_bundlePaths.append(path);
    storeBundlePaths(m_bundlePaths);
}

void ShareTaskManager::removeBundlePath(const QString &path) {
    if (path.isEmpty())
        return;
    QMutexLocker lock(&m_pathsMutex);
    if (m_bundlePaths.removeAll(path) > 0)
        storeBundlePaths(m_bundlePaths);
}

// ---- tasks on disk ----

ShareTaskPtr ShareTaskManager::loadShareTaskWithPath(const QString &path) {
    if (path.isEmpty())
        return nullptr;
    const bool previous = m_loadMutex;
    m_loadMutex = true;
    const ShareTaskPtr task = ShareTask::shareTaskWithPath(path);
    m_loadMutex = previous;
    return task;
}

void ShareTaskManager::deleteShareTaskWithPath(const QString &path) {
    // The list comes from a preference file: never delete anything outside the cache folder.
    if (path.isEmpty() || !isInsideFolder(path, sandboxFolder())
        || cleanPath(path) == cleanPath(sandboxFolder())) {
        qCWarning(lfSending).noquote()
            << QStringLiteral("not deleting %1: outside the cache folder").arg(path);
        return;
    }
    QDir dir(path);
    if (!dir.exists())
        return;
    const QFileInfoList entries
        = dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo &entry : entries) {
        const bool removed = entry.isDir() && !entry.isSymLink() ? QDir(entry.filePath()).removeRecursively()
                                                                 : QFile::remove(entry.filePath());
        if (!removed)
            qCWarning(lfSending).noquote() << QStringLiteral("cannot remove %1: %2")
                                                  .arg(entry.filePath(), QStringLiteral("cannot remove"));
    }
    if (!QDir().rmdir(path))
        qCWarning(lfSending).noquote()
            << QStringLiteral("cannot remove %1: %2").arg(path, QStringLiteral("cannot remove"));
}

void ShareTaskManager::deleteTask(const QString &path) {
    deleteShareTaskWithPath(path);
    removeBundlePath(path);
}

ShareOwner ShareTaskManager::signedInOwner() const {
    return ShareOwner::onCurrentServer(m_service->userName());
}

bool ShareTaskManager::ownedBySignedInUser(const ShareTaskPtr &task) const {
    const ShareOwner owner = task->owner();
    return owner.isEmpty() || owner.sameAs(signedInOwner());
}

bool ShareTaskManager::claim(const ShareTaskPtr &task) const {
    if (!task || !task->owner().isEmpty())
        return false;
    const ShareOwner me = signedInOwner();
    if (me.isEmpty())
        return false;
    task->setOwner(me);
    return true;
}

void ShareTaskManager::rememberShareTask() {
    const ShareTaskPtr task = ShareTask::singleton();
    claim(task);
    addBundlePath(task->path());
}

void ShareTaskManager::newShareTask() {
    ShareTask::detach();
    rememberShareTask();
    NotificationCenter &center = NotificationCenter::defaultCenter();
    center.post(kShareTaskCleanupNotification, true);
    center.post(kShareTaskChangedNotification, true);
    center.post(kShareTaskLoadedNotification);
}

void ShareTaskManager::storeCurrentShareTask() {
    if (m_loadMutex)
        return;
    const ShareTaskPtr task = ShareTask::singletonNA();
    if (!task || task->photosIncoming())
        return;
    claim(task);
    task->saveTask();
    // A current task made outside newShareTask (the window asking after a resumed start) is
    // remembered here, so the next start's sweep does not take the share being composed.
    addBundlePath(task->path());
}

void ShareTaskManager::saveShareTask(const ShareTaskPtr &task) {
    if (!task)
        return;
    {
        QMutexLocker lock(&m_saveMutex);
        if (!m_saveQueue.contains(task))
            m_saveQueue.append(task);
        if (m_saveThreadRunning)
            return;
        m_saveThreadRunning = true;
    }
    if (!Workers::instance().start(QStringLiteral("share save"), [this] { saveShareTaskThread(); })) {
        m_saveThreadRunning = false;
        m_savesDone.notify();
    }
}

void ShareTaskManager::saveShareTaskThread() {
    // Once the flag drops the manager may be gone: the last act touches only this.
    const std::function<void()> savesDone = m_savesDone.notifier();
    for (;;) {
        ShareTaskPtr task;
        {
            QMutexLocker lock(&m_saveMutex);
            if (m_saveQueue.isEmpty()) {
                m_saveThreadRunning = false;
                lock.unlock();
                savesDone();
                return;
            }
            task = m_saveQueue.takeFirst();
        }
        // No pause between saves: asking again for a task already queued adds nothing, so a
        // burst of requests still makes one save, and the last one is not followed by a wait.
        const QString path = task->path();
        if (!path.isEmpty() && task->saveTask())
            addBundlePath(path);
    }
}

QList<ShareTaskPtr> ShareTaskManager::saveQueue() const {
    QMutexLocker lock(&m_saveMutex);
    return m_saveQueue;
}

bool ShareTaskManager::waitForSaves(int timeoutMs) {
    return m_savesDone.wait([this] { return !m_saveThreadRunning; }, timeoutMs);
}

// ---- sending ----

void ShareTaskManager::sendCurrentShareTask() {
    if (Prefs::boolPrefForKey(PrefKey::PlaySounds, true) && m_shareSound)
        m_shareSound();
    const ShareTaskPtr task = ShareTask::singleton();
    claim(task);
    task->setSendAttempted(true);
    // No save here: handing the task over saves it (with its photos' identities) at once, or,
    // while photos are still coming in, when they are all there.
    m_shareTaskThread->enqueueCurrentTask();
    m_shareTaskThread->setHoldStaged(false);
    newShareTask();
}

void ShareTaskManager::cancelAllShareTasks() {
    // The queued shares are withdrawn and their folders go; the share being composed stays, in
    // the list too, or the next start would sweep the photos gathered for it. Each withdrawn
    // share's "uploadDone" is recognised by its task, so a share that finished just before the
    // cancel is still reported as sent.
    const ShareTaskPtr current = ShareTask::singletonNA();
    for (const ShareTaskPtr &task : m_shareTaskThread->queuedTasks()) {
        if (!task || task == current)
            continue;
        removeBundlePath(task->path());
        m_cancelled.append(task);
    }
    m_shareTaskThread->cancelAllShareTasks();
}

void ShareTaskManager::checkStagedUploads(const ShareTaskPtr &task) {
    if (!task || task->fullPhotoCount() > 0)
        return;
    removeBundlePath(task->path());
    task->deleteArchives();
}

bool ShareTaskManager::isWorking() const {
    return m_shareTaskThread->isSharing() || m_shareTaskThread->isStaging();
}

bool ShareTaskManager::isFullSize() const {
    return m_shareTaskThread->isStaging() && !m_shareTaskThread->isSharing();
}

void ShareTaskManager::notification(const Notification &n) {
    if (n.name == QLatin1String(kShareTaskChangedNotification)) {
        storeCurrentShareTask();
    } else if (n.name == QLatin1String(kUploadDoneNotification)) {
        const ShareTaskPtr task = n.object.value<ShareTaskPtr>();
        if (m_cancelled.removeOne(task))
            return;
        if (task && task->sendFailed()) {
            // Given up: stays stored and listed, to be sent again.
            saveShareTask(task);
        } else if (task) {
            task->setSendCompleted(true);
            // A task with nothing left to upload goes at once; saving it first would race
            // the deletion of its folder.
            if (task->fullPhotoCount() > 0)
                saveShareTask(task);
            else
                checkStagedUploads(task);
        }
    } else if (n.name == QLatin1String(kStagedUploadDoneNotification)) {
        checkStagedUploads(n.object.toMap().value(kUploadBundleContext).value<ShareTaskPtr>());
    }
}

// ---- start-up ----

bool ShareTaskManager::requeueStaged(const ShareTaskPtr &task) {
    QList<UploadItem> kept;
    const QList<UploadItem> staged = task->fullPhotoInfos();
    for (const UploadItem &item : staged) {
        if (QFileInfo::exists(item.url))
            kept.append(item);
    }
    if (kept.isEmpty()) {
        task->setFullPhotoInfos({});
        return false;
    }
    if (kept.size() != staged.size()) {
        task->setFullPhotoInfos(kept);
        task->saveTask();
    }
    m_shareTaskThread->setHoldStaged(true);
    for (int i = 0; i < kept.size(); ++i) {
        UploadItem item = kept.at(i);
        item.fullIndex = i;
        item.fullCount = int(kept.size());
        m_shareTaskThread->enqueueStageInfo({item, task});
    }
    return true;
}

void ShareTaskManager::loadCurrentShareTask() {
    const bool previous = m_loadMutex;
    m_loadMutex = true;
    NotificationCenter &center = NotificationCenter::defaultCenter();
    if (!m_ownsQueue) {
        // Another process sends and resumes the stored shares: only give the window a task.
        ShareTask::singleton();
        m_loadMutex = previous;
        center.post(kShareTaskLoadedNotification);
        center.post(kShareTaskChangedNotification, true);
        return;
    }

    // Nothing is sent from another account: that one's draft and shares wait on disk for it.
    if (const ShareTaskPtr current = ShareTask::singletonNA(); current && !ownedBySignedInUser(current)) {
        current->saveTask();
        ShareTask::terminate();
    }

    const QStringList remembered = bundlePaths();
    sweepOrphanFolders(remembered);
    if (remembered.isEmpty()) {
        rememberShareTask();
        m_loadMutex = previous;
        center.post(kShareTaskLoadedNotification);
        return;
    }

    if (!walkStoredShares(remembered))
        m_shareTaskThread->setHoldStaged(false);
    // The window gets a current task that a later start will not sweep away.
    rememberShareTask();
    m_loadMutex = previous;
    center.post(kShareTaskLoadedNotification);
    center.post(kShareTaskChangedNotification, true);
}

void ShareTaskManager::sweepOrphanFolders(const QStringList &remembered) {
    QSet<QString> live;
    for (const QString &path : remembered)
        live.insert(cleanPath(path));
    // The window may have made its task before this load.
    if (const ShareTaskPtr current = ShareTask::singletonNA(); current && !current->path().isEmpty())
        live.insert(cleanPath(current->path()));
    const QDir cache(sandboxFolder());
    for (const QFileInfo &entry :
        cache.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (entry.fileName().endsWith(QLatin1String(kShareSetSuffix))
            && !live.contains(cleanPath(entry.absoluteFilePath())))
            deleteShareTaskWithPath(entry.absoluteFilePath());
    }
}

bool ShareTaskManager::walkStoredShares(const QStringList &remembered) {
    // The walk passes every stored share: one interrupted share is resumed, full-size uploads
    // go back to the worker, the first draft becomes the window's task, and no finished or
    // empty task stands in the way of the shares behind it.
    bool resumed = false;
    bool adopted = false;
    // The first task without photos: the window's task when no draft comes back.
    ShareTaskPtr spare;
    QString sparePath;
    for (const QString &path : remembered) {
        const ShareTaskPtr task = loadShareTaskWithPath(path);
        if (!task) {
            deleteTask(path);
            continue;
        }
        if (!ownedBySignedInUser(task))
            continue;
        if (claim(task))
            task->saveTask();
        if (task->sendCompleted()) {
            // Finished with nothing left to upload: the process ended before its folder went.
            if (!requeueStaged(task))
                deleteTask(path);
            continue;
        }
        if (!task->hasPhotos()) {
            if (!spare) {
                spare = task;
                sparePath = path;
            } else {
                deleteTask(path);
            }
            continue;
        }
        if (task->sendAttempted() && !resumed) {
            resumed = resumeInterrupted(task, path);
            continue;
        }
        // Later drafts and interrupted shares wait for the next start.
        if (adopted || resumed)
            continue;
        task->setSendAttempted(false);
        ShareTask::adopt(task);
        adopted = true;
    }
    if (spare) {
        if (adopted || resumed) {
            deleteTask(sparePath);
        } else {
            spare->setSendAttempted(false);
            ShareTask::adopt(spare);
        }
    }
    return resumed;
}

bool ShareTaskManager::resumeInterrupted(const ShareTaskPtr &task, const QString &path) {
    task->setSendAttempted(false);
    const QList<PhotoInfo> photos = task->photoInfos();
    const bool complete = std::all_of(photos.cbegin(), photos.cend(), [](const PhotoInfo &p) {
        return p.value(kPhotoOrigin).toString() == QLatin1String(kOriginReshare)
            || QFileInfo::exists(p.value(kPhotoUrl).toString());
    });
    if (!complete) {
        deleteTask(path);
        return false;
    }
    m_shareTaskThread->enqueue(task);
    return true;
}

} // namespace lf
