// The share worker end to end: the current task is shared through the manager and sent to the
// reference server.
#include "SendingFixture.h"

#include "foundation/MainThread.h"
#include "foundation/Prefs.h"
#include "foundation/TextRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    // Fills the current task with the files and presses Share; returns the shared task.
    ShareTaskPtr share(const QStringList &names, bool highRes, const QList<int> &sides = {}) {
        Prefs::setBoolPref(highRes, PrefKey::ShareHighResPhotos);
        const ShareTaskPtr task = ShareTask::singleton();
        QStringList files;
        for (int i = 0; i < names.size(); ++i) {
            const int side = sides.value(i, 64);
            files.append(writePhoto(QDir(task->path()).filePath(names[i]), side, side > 100));
        }
        fillTask(task, files);
        manager->sendCurrentShareTask();
        return task;
    }
    bool waitForUploadDone(int count = 1) {
        return pumpUntil([&] { return log->count(kUploadDoneNotification) >= count; });
    }
    int growls(const char *key) { return log->count(kGrowlNotification, QString::fromLatin1(key)); }
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
    manager->sendCurrentShareTask();

    ASSERT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessFull) == 1; }));
    EXPECT_EQ(growls(GrowlKey::SuccessScreen), 1);
    EXPECT_EQ(log->count(kStagedUploadDoneNotification), 1);

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

    // Sent and staged: its folder is gone and no longer remembered.
    ASSERT_TRUE(pumpUntil([&] { return !QFileInfo::exists(folder); }));
    EXPECT_FALSE(manager->bundlePaths().contains(folder));
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
    EXPECT_EQ(growls(GrowlKey::SuccessScreen), 1);
    ASSERT_TRUE(pumpUntil([&] { return !QFileInfo::exists(folder); }));
    EXPECT_FALSE(manager->bundlePaths().contains(folder));
}

TEST_F(ShareWorkerTest, ARefusedPhotoIsSkippedAndTheShareIsNotReportedComplete) {
    addFaults("/api/photo", {QJsonObject {{"pass", true}}, QJsonObject {{"status", 400}}});
    const ShareTaskPtr task = share({"a.jpg", "b.jpg", "c.jpg"}, false);
    ASSERT_TRUE(waitForUploadDone());
    EXPECT_EQ(growls(GrowlKey::SuccessMissing), 1);
    EXPECT_EQ(growls(GrowlKey::SuccessScreen), 0);
    EXPECT_EQ(requests("/api/bundle").size(), 1);
    QList<int> orders;
    for (const QJsonObject &r : requests("/api/photo"))
        orders.append(r.value("params").toObject().value("order").toInt());
    EXPECT_EQ(orders, (QList<int> {0, 1, 2}));
    EXPECT_EQ(bundleState(task->bundleGuid()).value("state").toString(), "closed");
}

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
    EXPECT_EQ(growls(GrowlKey::SuccessMissing), 1);
    EXPECT_EQ(growls(GrowlKey::SuccessScreen), 0);
    EXPECT_EQ(task->missingPhotos(), (QStringList {large, small}));
    QList<qsizetype> uploads;
    for (const QJsonValue &p : bundleState(task->bundleGuid()).value("photos").toArray())
        uploads.append(p.toObject().value("uploads").toArray().size());
    EXPECT_EQ(uploads, (QList<qsizetype> {0, 0, 1}));
}

TEST_F(ShareWorkerTest, OverloadBeyondTheProtocolRetriesIsTriedAgainFromThatPhoto) {
    QJsonArray five;
    for (int i = 0; i < 5; ++i)
        five.append(QJsonObject {{"status", 503}});
    addFaults("/api/photo", five);
    share({"a.jpg", "b.jpg"}, false);
    ASSERT_TRUE(waitForUploadDone());
    EXPECT_EQ(growls(GrowlKey::SuccessScreen), 1);
    EXPECT_EQ(requests("/api/bundle").size(), 1);
    QList<int> accepted;
    for (const QJsonObject &r : requests("/api/photo")) {
        if (r.value("status").toInt() == 201 || r.value("status").toInt() == 200)
            accepted.append(r.value("params").toObject().value("order").toInt());
    }
    EXPECT_EQ(accepted, (QList<int> {0, 1}));
}

TEST_F(ShareWorkerTest, ADroppedConnectionKeepsThePhotoForTheNextAttempt) {
    addFaults("/api/photo", {QJsonObject {{"pass", true}}, QJsonObject {{"drop", true}}});
    share({"a.jpg", "b.jpg", "c.jpg"}, false);
    ASSERT_TRUE(waitForUploadDone());
    EXPECT_EQ(growls(GrowlKey::SuccessScreen), 1);
    EXPECT_EQ(growls(GrowlKey::SuccessMissing), 0);
    EXPECT_EQ(requests("/api/bundle").size(), 1);
    QList<int> orders;
    for (const QJsonObject &r : requests("/api/photo"))
        orders.append(r.value("params").toObject().value("order").toInt());
    EXPECT_EQ(orders, (QList<int> {0, 1, 1, 2}));
}

TEST_F(ShareWorkerTest, TheWorkerRestsDuringThePauseBetweenFullSizeUploads) {
    share({"a.jpg", "b.jpg"}, true, {900, 900});
    ASSERT_TRUE(pumpUntil([&] { return log->count(kStagedUploadDoneNotification) == 1; }));
    // Virtual time stands still, so the second full-size upload waits for its turn.
    ASSERT_TRUE(manager->shareTaskThread().isStaging());
    const qint64 before = clock->readings();
    pumpMainThreadUntil([] { return false; }, 200);
    EXPECT_LT(clock->readings() - before, 200) << "the worker loop spins";
    ASSERT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessFull) == 1; }));
}

TEST_F(ShareWorkerTest, SevenFailuresInARowGiveTheShareUp) {
    QJsonArray seven;
    for (int i = 0; i < 7; ++i)
        seven.append(QJsonObject {{"status", 500}});
    addFaults("/api/bundle", seven);
    // With full size on: the large photo's full-size upload must go with the share.
    const ShareTaskPtr task = share({"a.jpg"}, true, {900});
    ASSERT_TRUE(waitForUploadDone());
    EXPECT_EQ(growls(GrowlKey::Fail), 1);
    EXPECT_EQ(growls(GrowlKey::SuccessScreen), 0);
    EXPECT_EQ(requests("/api/bundle").size(), 7);
    EXPECT_FALSE(manager->shareTaskThread().isSharing());
    EXPECT_FALSE(manager->shareTaskThread().isStaging());
    EXPECT_EQ(task->fullPhotoCount(), 0);
    ASSERT_TRUE(pumpUntil([&] { return !QFileInfo::exists(task->path()); }));
    EXPECT_TRUE(requests("/api/photo").isEmpty());
}

TEST_F(ShareWorkerTest, NetworkLossHoldsTheShareAndPollsWithAGrowingPause) {
    service->serviceAPI().setAttemptRetry(false);
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
    EXPECT_EQ(growls(GrowlKey::NetLost), 1);
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
    EXPECT_EQ(growls(GrowlKey::SuccessScreen), 1);
    EXPECT_EQ(growls(GrowlKey::NetBack), 1);
    EXPECT_GE(log->count(kConnectionEstablishedNotification), 1);
    EXPECT_FALSE(manager->shareTaskThread().lostNet());
}

} // namespace
