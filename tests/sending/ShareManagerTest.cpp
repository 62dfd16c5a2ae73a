// The share-task manager: the list of live shares, restoring at start-up, cancelling.
#include "SendingFixture.h"

#include "foundation/Identity.h"
#include "foundation/Prefs.h"
#include "support/TestImages.h"

#include <QDir>
#include <QFile>
#include <QLockFile>

#include <unistd.h>

using namespace lf;
using namespace lf::test;

namespace {

class ShareManagerTest : public SendingTest {
protected:
    // A stored task with photos, as an earlier run left it.
    ShareTaskPtr storedTask(int photos, bool attempted) {
        const ShareTaskPtr task = ShareTask::create();
        task->setPath(ShareTask::newBundleInfoPath());
        QStringList files;
        for (int i = 0; i < photos; ++i)
            files.append(
                writePhoto(QDir(task->path()).filePath(QStringLiteral("p%1.jpg").arg(i)), 64, false));
        fillTask(task, files);
        task->setSendAttempted(attempted);
        task->bundleGuid(); // made on first read: stored with the archive
        EXPECT_TRUE(task->saveTask());
        return task;
    }
    // A first run shares five photos, `files`, as `task` and stops in the middle of the third.
    void stopAtTheThirdOfFive(ShareTaskPtr &task, QStringList &files) {
        makeManager();
        manager->loadCurrentShareTask();
        task = ShareTask::singleton();
        for (int i = 0; i < 5; ++i)
            files.append(
                writePhoto(QDir(task->path()).filePath(QStringLiteral("p%1.jpg").arg(i)), 64, false));
        fillTask(task, files);
        addFaults("/api/photo",
            {QJsonObject {{"pass", true}}, QJsonObject {{"pass", true}}, QJsonObject {{"stall", true}}});
        manager->sendCurrentShareTask();
        ASSERT_TRUE(pumpUntil(
            [&] { return requests("/api/photo").size() == 3; }, 60000, std::chrono::milliseconds(0)));
        restart();
    }
    // Ends this "run": the manager and the current task go, as when the program stops.
    void restart() {
        manager.reset();
        ShareTask::terminate();
        devCall("POST", "/__dev/reset");
        log = std::make_unique<NotificationRecorder>();
        makeManager();
    }
};

TEST_F(ShareManagerTest, FirstStartRemembersANewCurrentTaskAndSweepsOrphansOnly) {
    const QString orphan = QDir(sandboxFolder()).filePath("lost.shareset");
    ASSERT_TRUE(QDir().mkpath(orphan));
    writePhoto(QDir(orphan).filePath("x.jpg"), 32, false);
    // The window made its task before the load: that folder is no orphan.
    const ShareTaskPtr early = ShareTask::singleton();
    makeManager();
    manager->loadCurrentShareTask();
    EXPECT_FALSE(QFileInfo::exists(orphan));
    const ShareTaskPtr current = ShareTask::singletonNA();
    ASSERT_EQ(current, early);
    EXPECT_TRUE(QFileInfo(current->path()).isDir());
    EXPECT_EQ(Prefs::prefForKey(PrefKey::Bundles).toStringList(), QStringList {current->path()});

    // The remembered folder survives the next start's sweep and comes back as the current task.
    fillTask(current, {writePhoto(QDir(current->path()).filePath("a.jpg"), 32, false)});
    manager->storeCurrentShareTask();
    const QString folder = current->path();
    restart();
    manager->loadCurrentShareTask();
    EXPECT_TRUE(QFileInfo::exists(QDir(folder).filePath("a.jpg")));
    ASSERT_TRUE(ShareTask::singletonNA());
    EXPECT_EQ(ShareTask::singletonNA()->path(), folder);
}

TEST_F(ShareManagerTest, AShareInterruptedAfterTwoPhotosResumesAtTheThirdAfterARestart) {
    ShareTaskPtr task;
    QStringList files;
    ASSERT_NO_FATAL_FAILURE(stopAtTheThirdOfFive(task, files));
    const QString guid = task->bundleGuid();
    const QString folder = task->path();
    const ShareTaskPtr stored = manager->loadShareTaskWithPath(folder);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->continuePhoto(), 2);
    EXPECT_TRUE(stored->sentBundleCreate());

    manager->loadCurrentShareTask();
    ASSERT_TRUE(pumpUntil([&] { return log->count(kUploadDoneNotification) == 1; }));
    EXPECT_TRUE(requests("/api/bundle").isEmpty());
    QList<int> orders;
    for (const QJsonObject &r : requests("/api/photo"))
        orders.append(r.value("params").toObject().value("order").toInt());
    EXPECT_EQ(orders, (QList<int> {2, 3, 4}));
    const QJsonArray photos = bundleState(guid).value("photos").toArray();
    ASSERT_EQ(photos.size(), 5);
    for (const QJsonValue &p : photos)
        EXPECT_EQ(p.toObject().value("uploads").toArray().size(), 1);
    // The window has a fresh task, remembered so that the next sweep keeps it.
    const ShareTaskPtr current = ShareTask::singletonNA();
    ASSERT_TRUE(current);
    EXPECT_FALSE(current->hasPhotos());
    EXPECT_TRUE(manager->bundlePaths().contains(current->path()));
    ASSERT_TRUE(pumpUntil([&] { return !QFileInfo::exists(folder); }));
}

TEST_F(ShareManagerTest, NoFinishedEmptyOrUnsentTaskKeepsTheWalkFromTheInterruptedShareBehind) {
    // Finished, but the process ended before its folder went.
    const ShareTaskPtr finished = storedTask(1, true);
    finished->setSendCompleted(true);
    ASSERT_TRUE(finished->saveTask());
    const ShareTaskPtr empty = storedTask(0, false);
    const ShareTaskPtr unsent = storedTask(2, false);
    const ShareTaskPtr interrupted = storedTask(1, true);
    const ShareTaskPtr waiting = storedTask(1, true);
    Prefs::setPref(
        QStringList {finished->path(), empty->path(), unsent->path(), interrupted->path(), waiting->path()},
        PrefKey::Bundles);
    makeManager();
    manager->loadCurrentShareTask();
    ASSERT_TRUE(pumpUntil([&] { return log->count(kUploadDoneNotification) == 1; }));
    EXPECT_EQ(bundleState(interrupted->bundleGuid()).value("state").toString(), "closed");
    EXPECT_TRUE(bundleState(finished->bundleGuid()).isEmpty());
    // The unsent one is the window's task again; the second interrupted one waits for the next start.
    const ShareTaskPtr current = ShareTask::singletonNA();
    ASSERT_TRUE(current);
    EXPECT_EQ(current->bundleGuid(), unsent->bundleGuid());
    EXPECT_EQ(current->photoCount(), 2);
    EXPECT_TRUE(bundleState(waiting->bundleGuid()).isEmpty());
    ASSERT_TRUE(pumpUntil([&] { return !QFileInfo::exists(interrupted->path()); }));
    EXPECT_EQ(manager->bundlePaths(), (QStringList {unsent->path(), waiting->path()}));
    EXPECT_TRUE(QFileInfo::exists(QDir(waiting->path()).filePath(kShareArchiveName)));
    for (const ShareTaskPtr &gone : {finished, empty})
        EXPECT_FALSE(QFileInfo::exists(gone->path()));
    EXPECT_EQ(log->count(kShareTaskLoadedNotification), 1);

    restart();
    manager->loadCurrentShareTask();
    ASSERT_TRUE(pumpUntil([&] { return log->count(kUploadDoneNotification) == 1; }));
    EXPECT_EQ(bundleState(waiting->bundleGuid()).value("state").toString(), "closed");
}

TEST_F(ShareManagerTest, APhotoGoneAtResumeIsNotSentAndEveryOtherArrivesOnce) {
    ShareTaskPtr task;
    QStringList files;
    ASSERT_NO_FATAL_FAILURE(stopAtTheThirdOfFive(task, files));
    const QString guid = task->bundleGuid();
    // One photo already on the server and one not yet sent lose their files meanwhile.
    ASSERT_TRUE(QFile::remove(files[0]));
    ASSERT_TRUE(QFile::remove(files[3]));
    manager->loadCurrentShareTask();
    ASSERT_TRUE(pumpUntil([&] { return log->count(kUploadDoneNotification) == 1; }));
    EXPECT_EQ(log->count(kGrowlNotification, QString(GrowlKey::SuccessMissing)), 1);
    EXPECT_EQ(log->count(kGrowlNotification, QString(GrowlKey::SuccessScreen)), 0);
    const ShareTaskPtr sent = log->named(kUploadDoneNotification).value(0).object.value<ShareTaskPtr>();
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->missingPhotos(), QStringList {files[3]});

    EXPECT_TRUE(requests("/api/bundle").isEmpty());
    const QJsonObject bundle = bundleState(guid);
    EXPECT_EQ(bundle.value("state").toString(), "closed");
    const QJsonArray photos = bundle.value("photos").toArray();
    ASSERT_EQ(photos.size(), 5);
    QList<qsizetype> uploads;
    for (const QJsonValue &p : photos)
        uploads.append(p.toObject().value("uploads").toArray().size());
    EXPECT_EQ(uploads, (QList<qsizetype> {1, 1, 1, 0, 1}));
}

TEST_F(ShareManagerTest, SharesOfAnotherAccountWaitUntouchedUntilItsOwnerSignsIn) {
    const QString ann = QStringLiteral("ann.friend@lanternfish.test");
    const ShareOwner annOwner = ShareOwner::onCurrentServer(ann);
    const ShareTaskPtr annDraft = storedTask(1, false);
    const ShareTaskPtr annShare = storedTask(2, true);
    for (const ShareTaskPtr &task : {annDraft, annShare}) {
        task->setOwner(annOwner);
        ASSERT_TRUE(task->saveTask());
    }
    // Written before shares had owners: it goes to the first account that signs in.
    const ShareTaskPtr legacy = storedTask(1, true);
    const auto archive
        = [](const ShareTaskPtr &task) { return readBytes(QDir(task->path()).filePath(kShareArchiveName)); };
    const QByteArray annDraftBefore = archive(annDraft);
    const QByteArray annShareBefore = archive(annShare);
    Prefs::setPref(QStringList {annDraft->path(), annShare->path(), legacy->path()}, PrefKey::Bundles);

    makeManager();
    manager->loadCurrentShareTask();
    ASSERT_TRUE(pumpUntil([&] { return log->count(kUploadDoneNotification) == 1; }));
    EXPECT_EQ(bundleState(legacy->bundleGuid()).value("sender").toString(), "demo@lanternfish.test");
    EXPECT_TRUE(bundleState(annShare->bundleGuid()).isEmpty());
    const ShareTaskPtr current = ShareTask::singletonNA();
    ASSERT_TRUE(current);
    EXPECT_FALSE(current->hasPhotos());
    EXPECT_TRUE(current->owner().sameAs(manager->signedInOwner()));
    EXPECT_EQ(archive(annDraft), annDraftBefore);
    EXPECT_EQ(archive(annShare), annShareBefore);

    // Handed to the worker anyway, it is put back unsent.
    devCall("POST", "/__dev/reset");
    const ShareTaskPtr annLoaded = manager->loadShareTaskWithPath(annShare->path());
    ASSERT_TRUE(annLoaded);
    annLoaded->setSendAttempted(false);
    manager->shareTaskThread().enqueue(annLoaded);
    ASSERT_TRUE(pumpUntil([&] { return !manager->isWorking(); }));
    EXPECT_TRUE(requests("/api/bundle").isEmpty());
    EXPECT_TRUE(requests("/api/photo").isEmpty());
    EXPECT_TRUE(manager->loadShareTaskWithPath(annShare->path())->sendAttempted());
    EXPECT_TRUE(manager->bundlePaths().contains(annShare->path()));

    // Ann signs in: her share goes from her account and her draft comes back.
    ASSERT_FALSE(connect(ann, QStringLiteral("lanternfish")).contains(QStringLiteral("error")));
    restart();
    manager->loadCurrentShareTask();
    ASSERT_TRUE(pumpUntil([&] { return log->count(kUploadDoneNotification) == 1; }));
    EXPECT_EQ(bundleState(annShare->bundleGuid()).value("sender").toString(), ann);
    EXPECT_EQ(bundleState(annShare->bundleGuid()).value("state").toString(), "closed");
    ASSERT_TRUE(ShareTask::singletonNA());
    EXPECT_EQ(ShareTask::singletonNA()->bundleGuid(), annDraft->bundleGuid());
}

TEST_F(ShareManagerTest, PendingFullSizeUploadsAreRequeuedAloneAndTheFolderGoesAfterTheLast) {
    makeManager();
    manager->loadCurrentShareTask();
    Prefs::setBoolPref(true, PrefKey::ShareHighResPhotos);
    const ShareTaskPtr task = ShareTask::singleton();
    fillTask(task, {writePhoto(QDir(task->path()).filePath("big.jpg"), 900, true)});
    const QString folder = task->path();
    // The bundle goes through; its full-size upload is refused in this run.
    addFaults("/api/photo", {QJsonObject {{"pass", true}}, QJsonObject {{"status", 400}}});
    manager->sendCurrentShareTask();
    ASSERT_TRUE(pumpUntil([&] { return log->count(kGrowlNotification, QString(GrowlKey::Fail)) == 1; }));
    ASSERT_TRUE(manager->waitForSaves(5000));
    EXPECT_TRUE(manager->bundlePaths().contains(folder));

    restart();
    manager->loadCurrentShareTask();
    ASSERT_TRUE(pumpUntil([&] { return log->count(kStagedUploadDoneNotification) == 1; }));
    EXPECT_TRUE(requests("/api/bundle").isEmpty());
    const QList<QJsonObject> uploads = requests("/api/photo");
    ASSERT_EQ(uploads.size(), 1);
    EXPECT_EQ(uploads[0].value("params").toObject().value("type").toString(), "full");
    ASSERT_TRUE(pumpUntil([&] { return !QFileInfo::exists(folder); }));
    EXPECT_FALSE(manager->bundlePaths().contains(folder));
}

TEST_F(ShareManagerTest, CancelWithdrawsTheQueuedSharesAndKeepsTheShareBeingComposed) {
    makeManager();
    manager->loadCurrentShareTask();
    addFaults("/api/photo", {QJsonObject {{"stall", true}}});
    QList<ShareTaskPtr> withdrawn;
    for (const char *name : {"a.jpg", "b.jpg"}) {
        const ShareTaskPtr task = ShareTask::singleton();
        fillTask(task, {writePhoto(QDir(task->path()).filePath(name), 64, false)});
        withdrawn.append(task);
        manager->sendCurrentShareTask();
    }
    // The user has started gathering the next share.
    const ShareTaskPtr composing = ShareTask::singleton();
    composing->pushPhoto({{kPhotoUrl, writePhoto(QDir(composing->path()).filePath("c.jpg"), 64, false)}});
    ASSERT_TRUE(
        pumpUntil([&] { return !requests("/api/photo").isEmpty(); }, 60000, std::chrono::milliseconds(0)));

    manager->cancelAllShareTasks();
    ASSERT_TRUE(pumpUntil([&] { return log->count(kUploadDoneNotification) == 2; }));
    ASSERT_TRUE(manager->waitForSaves(5000));
    EXPECT_EQ(manager->bundlePaths(), QStringList {composing->path()});
    EXPECT_EQ(Prefs::prefForKey(PrefKey::Bundles).toStringList(), QStringList {composing->path()});
    // Withdrawn for good, neither marked sent nor announced: nothing of them is left to resend.
    for (const ShareTaskPtr &task : std::as_const(withdrawn)) {
        EXPECT_FALSE(task->sendCompleted());
        EXPECT_FALSE(QFileInfo::exists(task->path())) << task->path().toStdString();
    }
    EXPECT_EQ(log->count(kShareTaskCancelledNotification, withdrawn[0]->bundleGuid()), 1);
    EXPECT_EQ(log->count(kGrowlNotification, QString(GrowlKey::SuccessScreen)), 0);
    EXPECT_EQ(requests("/api/bundle/cancel").size(), 1);
}

TEST_F(ShareManagerTest, ASecondProcessLeavesTheStoredSharesAlone) {
    const ShareTaskPtr interrupted = storedTask(1, true);
    Prefs::setPref(QStringList {interrupted->path()}, PrefKey::Bundles);
    const QString orphan = QDir(sandboxFolder()).filePath("other.shareset");
    ASSERT_TRUE(QDir().mkpath(orphan));
    QLockFile other(QDir(sandboxFolder()).filePath(kShareQueueLockName));
    ASSERT_TRUE(other.tryLock(0));

    makeManager();
    EXPECT_FALSE(manager->ownsQueue());
    manager->loadCurrentShareTask();
    EXPECT_FALSE(manager->shareTaskThread().isSharing());
    EXPECT_TRUE(QFileInfo::exists(orphan));
    EXPECT_EQ(Prefs::prefForKey(PrefKey::Bundles).toStringList(), QStringList {interrupted->path()});
    EXPECT_TRUE(requests("/api/bundle").isEmpty());
}

// Needs no server: only the lock file in the sandbox.
class ShareQueueHolderTest : public TempHomeTest {
protected:
    static QString lockPath() {
        return QDir(sandboxFolder()).filePath(QString::fromLatin1(kShareQueueLockName));
    }
};

TEST_F(ShareQueueHolderTest, TheQueueHolderIsALiveProcessThatHoldsTheLock) {
    QDir().mkpath(sandboxFolder());
    EXPECT_EQ(ShareTaskManager::queueHolder(), 0);
    {
        QLockFile lock(lockPath());
        ASSERT_TRUE(lock.tryLock(0));
        EXPECT_EQ(ShareTaskManager::queueHolder(), qint64(::getpid()));
    }
    EXPECT_EQ(ShareTaskManager::queueHolder(), 0);

    // A lock left behind by a process that is gone names nobody.
    QFile stale(lockPath());
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("4194303\nlanternfish\nsomehost\n");
    stale.close();
    EXPECT_EQ(ShareTaskManager::queueHolder(), 0);
}

} // namespace
