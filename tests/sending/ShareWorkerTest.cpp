// The share worker end to end: the current task is shared through the manager and sent to the
// reference server.
#include "SendingFixture.h"

#include "foundation/MainThread.h"
#include "foundation/Prefs.h"
#include "foundation/TextRules.h"
#include "support/TestImages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <numeric>

using namespace lf;
using namespace lf::test;

namespace {

class ShareWorkerTest : public SendingTest {
protected:
    void SetUp() override {
        SendingTest::SetUp();
        makeManager();
        manager->loadCurrentShareTask();
    }
};

// Virtual time whose interruptible waits never end by themselves, only by what they wait for.
class HeldClock final : public Clock {
public:
    QDateTime now() const override { return m_fake.now(); }
    qint64 monotonicMs() const override { return m_fake.monotonicMs(); }
    void sleep(std::chrono::milliseconds duration) override { m_fake.sleep(duration); }
    bool waitUnless(std::condition_variable &condition, std::unique_lock<std::mutex> &lock,
        std::chrono::milliseconds, const std::function<bool()> &stop) override {
        ++m_waiting;
        condition.wait(lock, stop);
        --m_waiting;
        return false;
    }
    int waiting() const { return m_waiting; }

private:
    FakeClock m_fake;
    std::atomic<int> m_waiting {0};
};

TEST_F(ShareWorkerTest, HighResolutionSendsLargePhotosAtScreenSizeThenInFull) {
    const ShareTaskPtr task = ShareTask::singleton();
    const QString folder = task->path();
    const QString large = writePhoto(QDir(folder).filePath("large.jpg"), 900, true);
    const QString small = writePhoto(QDir(folder).filePath("small.jpg"), 64, false);
    // Exactly the limit: padding after the image's end leaves it a valid JPEG.
    const QString exact = writePhoto(QDir(folder).filePath("exact.jpg"), 64, false);
    {
        QFile f(exact);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write(QByteArray(int(kLargePhotoBytes - f.size()), '\0'));
    }
    ASSERT_EQ(QFileInfo(exact).size(), kLargePhotoBytes);
    ASSERT_GT(QFileInfo(large).size(), kLargePhotoBytes);
    QFile largeFile(large);
    ASSERT_TRUE(largeFile.open(QIODevice::ReadOnly));
    const QString largeHash = SHA1(largeFile.readAll());
    Prefs::setBoolPref(true, PrefKey::ShareHighResPhotos);
    fillTask(task, {large, small, exact});
    task->setPhotoValue(0, kPhotoCaption, QString(300, QLatin1Char('x')));
    int stagedAtIdle = -1;
    QObject::connect(&manager->shareTaskThread(), &ShareTaskThread::idle, &manager->shareTaskThread(),
        [&] { stagedAtIdle = int(log->count(kStagedUploadDoneNotification)); });
    manager->sendCurrentShareTask();

    ASSERT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessFull) == 1; }));
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessScreen) == 1; }));
    EXPECT_EQ(log->count(kStagedUploadDoneNotification), 1);
    // Idle comes once both queues ran empty, after what the worker posted before.
    EXPECT_TRUE(pumpUntil([&] { return stagedAtIdle == 1; }));

    const QJsonArray announced
        = requests("/api/bundle").value(0).value("json").toObject().value("photos").toArray();
    ASSERT_EQ(announced.size(), 3);
    EXPECT_EQ(announced[0].toObject().value("type").toString(), "screen");
    EXPECT_FALSE(announced[0].toObject().value("fullimage").toBool());
    EXPECT_EQ(announced[0].toObject().value("caption").toString().size(), 255);
    for (int i : {1, 2}) {
        EXPECT_EQ(announced[i].toObject().value("type").toString(), "full") << i;
        EXPECT_TRUE(announced[i].toObject().value("fullimage").toBool()) << i;
    }
    // Three photos in the bundle, then the large one in full, with the hash of the file itself.
    const QList<QJsonObject> uploads = requests("/api/photo");
    ASSERT_EQ(uploads.size(), 4);
    const QJsonObject staged = uploads[3].value("params").toObject();
    EXPECT_EQ(staged.value("type").toString(), "full");
    EXPECT_EQ(staged.value("photo_guid"), uploads[0].value("params").toObject().value("photo_guid"));
    EXPECT_EQ(staged.value("hash").toString(), largeHash);
    const QJsonArray photos = bundleState(task->bundleGuid()).value("photos").toArray();
    ASSERT_EQ(photos.size(), 3);
    EXPECT_EQ(photos[0].toObject().value("uploads").toArray().size(), 2);

    // Sent and staged: its folder is gone and, a moment later, no longer remembered.
    ASSERT_TRUE(
        pumpUntil([&] { return !QFileInfo::exists(folder) && !manager->bundlePaths().contains(folder); }));
    EXPECT_FALSE(Prefs::prefForKey(PrefKey::Bundles).toStringList().contains(folder));
}

TEST_F(ShareWorkerTest, WithoutHighResolutionEveryPhotoGoesOnceAsItsFinalVersion) {
    const ShareTaskPtr task = share({"large.jpg", "small.jpg"}, false, {900, 64});
    const QString folder = task->path();
    ASSERT_TRUE(waitForUploadDone());
    const QJsonArray announced
        = requests("/api/bundle").value(0).value("json").toObject().value("photos").toArray();
    ASSERT_EQ(announced.size(), 2);
    EXPECT_EQ(announced[0].toObject().value("type").toString(), "full");
    EXPECT_FALSE(announced[0].toObject().value("fullimage").toBool());
    EXPECT_EQ(announced[1].toObject().value("type").toString(), "full");
    EXPECT_EQ(requests("/api/photo").size(), 2);
    EXPECT_EQ(manager->shareTaskThread().stagingCount(), 0);
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessScreen) == 1; }));
    ASSERT_TRUE(pumpUntil([&] { return !QFileInfo::exists(folder); }));
    EXPECT_FALSE(manager->bundlePaths().contains(folder));
}

// One photo's request fails; which photo goes next, and how the share ends.
struct PhotoFailure {
    const char *name;
    QJsonArray faults; // of the photo requests, in order
    QList<int> orders; // of every photo request made
    const char *growl;
};

class ShareWorkerPhotoFailureTest : public ShareWorkerTest,
                                    public ::testing::WithParamInterface<PhotoFailure> { };

TEST_P(ShareWorkerPhotoFailureTest, TheShareGoesOnFromTheRightPhotoInOneBundle) {
    addFaults("/api/photo", GetParam().faults);
    const ShareTaskPtr task = share({"a.jpg", "b.jpg", "c.jpg"}, false);
    ASSERT_TRUE(waitForUploadDone());
    EXPECT_TRUE(pumpUntil([&] { return growls(GetParam().growl) == 1; }));
    EXPECT_EQ(growls(GrowlKey::SuccessScreen) + growls(GrowlKey::SuccessMissing), 1);
    EXPECT_EQ(requests("/api/bundle").size(), 1);
    QList<int> orders;
    for (const QJsonObject &r : requests("/api/photo"))
        orders.append(r.value("params").toObject().value("order").toInt());
    EXPECT_EQ(orders, GetParam().orders);
    EXPECT_EQ(bundleState(task->bundleGuid()).value("state").toString(), "closed");
}

QJsonArray repeated(const QJsonObject &fault, int times) {
    QJsonArray faults;
    for (int i = 0; i < times; ++i)
        faults.append(fault);
    return faults;
}

INSTANTIATE_TEST_SUITE_P(Faults, ShareWorkerPhotoFailureTest,
    ::testing::Values(
        // Refused for good: skipped, and the share is not reported complete.
        PhotoFailure {"Refused", {QJsonObject {{"pass", true}}, QJsonObject {{"status", 400}}}, {0, 1, 2},
            GrowlKey::SuccessMissing},
        // No answer: the photo is kept for the next attempt.
        PhotoFailure {"Dropped", {QJsonObject {{"pass", true}}, QJsonObject {{"drop", true}}}, {0, 1, 1, 2},
            GrowlKey::SuccessScreen},
        // Overload beyond the protocol's own retries: tried again from that photo.
        PhotoFailure {"Overloaded", repeated(QJsonObject {{"status", 503}}, 5), {0, 0, 0, 0, 0, 0, 1, 2},
            GrowlKey::SuccessScreen}),
    [](const ::testing::TestParamInfo<PhotoFailure> &which) { return std::string(which.param.name); });

TEST_F(ShareWorkerTest, PhotosCutShortAfterIntakeAreReportedMissing) {
    const ShareTaskPtr task = ShareTask::singleton();
    // A large one goes as a rendition made from it, a small one as it is.
    const QString large = writePhoto(QDir(task->path()).filePath("large.jpg"), 900, true);
    const QString small = writePhoto(QDir(task->path()).filePath("small.jpg"), 64, false);
    const QString fine = writePhoto(QDir(task->path()).filePath("fine.jpg"), 64, false);
    for (const QString &cut : {large, small}) {
        QFile f(cut);
        ASSERT_TRUE(f.resize(f.size() * 2 / 3));
    }
    ASSERT_GT(QFileInfo(large).size(), kLargePhotoBytes);
    fillTask(task, {large, small, fine});
    manager->sendCurrentShareTask();
    ASSERT_TRUE(waitForUploadDone());
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessMissing) == 1; }));
    EXPECT_EQ(growls(GrowlKey::SuccessScreen), 0);
    EXPECT_EQ(task->missingPhotos(), (QStringList {large, small}));
    QList<qsizetype> uploads;
    for (const QJsonValue &p : bundleState(task->bundleGuid()).value("photos").toArray())
        uploads.append(p.toObject().value("uploads").toArray().size());
    EXPECT_EQ(uploads, (QList<qsizetype> {0, 0, 1}));
}

TEST_F(ShareWorkerTest, TheWorkerRestsDuringThePauseBetweenFullSizeUploads) {
    share({"a.jpg", "b.jpg"}, true, {900, 900});
    ASSERT_TRUE(pumpUntil([&] { return log->count(kStagedUploadDoneNotification) == 1; }));
    // Virtual time stands still, so the second full-size upload waits for its turn.
    ASSERT_TRUE(manager->shareTaskThread().isStaging());
    const qint64 before = clock->readings();
    waitUntil([] { return false; }, 200);
    EXPECT_LT(clock->readings() - before, 200) << "the worker loop spins";
    ASSERT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessFull) == 1; }));
}

TEST_F(ShareWorkerTest, DroppedConnectionsAreWaitedOutWithAGrowingPause) {
    QJsonArray drops;
    for (int i = 0; i < 30; ++i)
        drops.append(QJsonObject {{"drop", true}});
    addFaults("/api/photo", drops);
    // The outage lasts about a minute: the server answers again once the pauses add up to that.
    QList<qint64> pauses;
    manager->shareTaskThread().setPauseObserver([&](std::chrono::milliseconds pause) {
        pauses.append(pause.count());
        if (std::accumulate(pauses.cbegin(), pauses.cend(), qint64(0)) >= 60000 && pauses.size() == 5)
            devCall("POST", "/__dev/reset");
    });
    const ShareTaskPtr task = share({"a.jpg", "b.jpg"}, false);
    ASSERT_TRUE(waitForUploadDone());
    manager->shareTaskThread().setPauseObserver({});
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessScreen) == 1; }));
    EXPECT_EQ(growls(GrowlKey::Fail), 0);
    const QList<qint64> expected {5000, 7500, 11250, 16875, 25312};
    ASSERT_EQ(pauses.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(pauses[i], expected[i], 2) << i;
    // Each failed attempt was a lost connection, not an unknown error.
    int lost = 0;
    for (const QVariantMap &result : delegate.completions)
        lost += result.value(BundleKey::HttpStatus).toInt() == NetError::ConnectionLost ? 1 : 0;
    EXPECT_EQ(lost, 5);
    EXPECT_EQ(bundleState(task->bundleGuid()).value("state").toString(), "closed");
}

// Sending it again is checked with the whole program (CliSharingTest).
TEST_F(ShareWorkerTest, AShareGivenUpIsWithdrawnAndKeptToBeSentAgain) {
    QJsonArray faults {QJsonObject {{"pass", true}}};
    for (int i = 0; i < 7; ++i)
        faults.append(QJsonObject {{"drop", true}});
    addFaults("/api/photo", faults);
    // With full size on: the large photo's full-size upload waits with the share.
    const ShareTaskPtr task = share({"a.jpg", "b.jpg"}, true, {900, 64});
    const QString folder = task->path();
    const QString firstGuid = task->bundleGuid();
    ASSERT_TRUE(waitForUploadDone());
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::Fail) == 1; }));
    EXPECT_EQ(growls(GrowlKey::SuccessScreen), 0);
    EXPECT_EQ(requests("/api/photo").size(), 8) << "a full-size upload went without its share";
    EXPECT_FALSE(manager->shareTaskThread().isSharing());
    EXPECT_FALSE(manager->shareTaskThread().isStaging());
    EXPECT_EQ(bundleState(firstGuid).value("state").toString(), "cancelled");

    // Kept, remembered and marked, as a new bundle from its first photo.
    ASSERT_TRUE(manager->waitForSaves(5000));
    EXPECT_TRUE(manager->bundlePaths().contains(folder));
    EXPECT_TRUE(Prefs::prefForKey(PrefKey::Bundles).toStringList().contains(folder));
    const ShareTaskPtr stored = ShareTask::shareTaskWithPath(folder);
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->sendFailed() && stored->sendAttempted() && !stored->sendCompleted());
    EXPECT_FALSE(stored->sentBundleCreate());
    EXPECT_EQ(stored->continuePhoto(), 0);
    EXPECT_NE(stored->bundleGuid(), firstGuid);
    EXPECT_EQ(stored->fullPhotoCount(), 1);
}

TEST_F(ShareWorkerTest, ACancelEndsThePauseAtOnceAndLeavesNothingForTheNextShare) {
    // Pauses that only a wake-up ends.
    HeldClock held;
    Clock::install(&held);
    QJsonArray drops {QJsonObject {{"pass", true}}};
    for (int i = 0; i < 10; ++i)
        drops.append(QJsonObject {{"drop", true}});
    addFaults("/api/photo", drops);
    const ShareTaskPtr first = share({"a.jpg", "b.jpg"}, false);
    ASSERT_TRUE(pumpUntil([&] { return held.waiting() == 1; }, 10000));
    manager->cancelAllShareTasks();
    ASSERT_TRUE(pumpUntil([&] { return log->count(kUploadDoneNotification) == 1; }, 10000));
    EXPECT_EQ(held.waiting(), 0);
    EXPECT_FALSE(service->cancelled());
    // Created by an earlier attempt, withdrawn all the same.
    EXPECT_EQ(bundleState(first->bundleGuid()).value("state").toString(), "cancelled");

    devCall("POST", "/__dev/reset");
    delegate.progresses.clear();
    const ShareTaskPtr second = share({"c.jpg"}, false);
    ASSERT_TRUE(waitForUploadDone(2));
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessScreen) == 1; }));
    EXPECT_EQ(delegate.progressCount("complete"), 1);
    EXPECT_EQ(bundleState(second->bundleGuid()).value("state").toString(), "closed");
    Clock::install(clock.get());
}

TEST_F(ShareWorkerTest, AFullSizeUploadWaitsUntilItsBundleIsCreated) {
    const ShareTaskPtr task = ShareTask::create();
    task->setPath(ShareTask::newBundleInfoPath());
    const QString large = writePhoto(QDir(task->path()).filePath("large.jpg"), 900, true);
    fillTask(task, {large});
    ShareTaskThread &worker = manager->shareTaskThread();
    worker.setHoldStaged(false);
    UploadItem item;
    item.url = large;
    worker.enqueueStageInfo({item, task});
    // Minutes of virtual time, far past the pause between full-size uploads.
    pumpUntil([] { return false; }, 300, std::chrono::milliseconds(2000));
    EXPECT_TRUE(requests("/api/photo").isEmpty());
    EXPECT_TRUE(worker.isStaging());

    task->setSentBundleCreate(true);
    EXPECT_TRUE(pumpUntil([&] { return !requests("/api/photo").isEmpty(); }));
}

TEST_F(ShareWorkerTest, PhotosLookStableOnlyOnceEveryInMemoryImageIsWritten) {
    const ShareTaskPtr task = ShareTask::singleton();
    std::atomic<int> stable {0};
    std::atomic<int> stableWithoutAFile {0};
    QObject::connect(
        task.get(), &ShareTask::photosStabilizedChanged, task.get(),
        [&](bool stabilized) {
            if (!stabilized || !task->photosStabilized())
                return;
            ++stable;
            for (const PhotoInfo &info : task->photoInfos()) {
                if (!QFileInfo::exists(info.value(kPhotoUrl).toString()))
                    ++stableWithoutAFile;
            }
        },
        Qt::DirectConnection);
    QList<PhotoInfo> infos;
    for (int i = 0; i < 6; ++i)
        infos.append({{kPhotoImage, quadrantImage(400, 300)}});
    task->replacePhotos(infos);
    ASSERT_TRUE(pumpUntil([&] { return stable > 0; }));
    EXPECT_EQ(stableWithoutAFile, 0);
}

TEST_F(ShareWorkerTest, NetworkLossHoldsTheShareAndPollsWithAGrowingPause) {
    service->setAttemptRetry(false);
    const QString port = QString::number(server->port());
    ServiceAPI::setHost(QStringLiteral("127.0.0.1"), QStringLiteral("1")); // nothing listens there
    QMutex mutex;
    QList<qint64> pauses;
    manager->shareTaskThread().setPauseObserver([&](std::chrono::milliseconds pause) {
        QMutexLocker lock(&mutex);
        pauses.append(pause.count());
    });
    const auto holdPauses = [&] {
        QMutexLocker lock(&mutex);
        return pauses;
    };
    share({"a.jpg"}, false);
    ASSERT_TRUE(
        pumpUntil([&] { return holdPauses().count(300000) >= 2; }, 60000, std::chrono::milliseconds(0)));
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::NetLost) == 1; }));
    EXPECT_EQ(log->count(kConnectionEstablishedNotification), 0);
    const QList<qint64> seen = holdPauses();
    const QList<qint64> expected {
        5000, 7500, 11250, 16875, 25312, 37968, 56953, 85429, 128144, 192216, 288325, 300000};
    ASSERT_GE(seen.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(seen[i], expected[i], 2) << i;

    ServiceAPI::setHost(QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(waitForUploadDone());
    manager->shareTaskThread().setPauseObserver({});
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessScreen) == 1; }));
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::NetBack) == 1; }));
    EXPECT_GE(log->count(kConnectionEstablishedNotification), 1);
    EXPECT_FALSE(manager->shareTaskThread().lostNet());
}

} // namespace
