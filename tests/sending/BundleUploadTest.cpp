// The bundle protocol of the session against the reference server.
#include "SendingFixture.h"

#include "foundation/MainThread.h"
#include "foundation/TextRules.h"
#include "foundation/Workers.h"

#include <QDir>
#include <QFile>

using namespace lf;
using namespace lf::test;

namespace {

class BundleUploadTest : public SendingTest {
protected:
    // A share request for `count` small photos in a task of its own.
    ShareRequest request(int count) {
        task = ShareTask::create();
        task->setPath(ShareTask::newBundleInfoPath());
        ShareRequest r {task->bundleGuid(), {"a@example.com"}, QString(), {}, std::nullopt, false, task};
        for (int i = 0; i < count; ++i) {
            const QString file
                = writePhoto(QDir(task->path()).filePath(QStringLiteral("p%1.jpg").arg(i)), 64, false);
            r.photos.append(UploadItem {file, QStringLiteral("c%1").arg(i), i, generateGuid(), kOriginLibrary,
                kUploadTypeFull, true, {}, -1, -1});
        }
        return r;
    }
    static QString generateGuid() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

    // Runs the send on a worker while the main thread delivers its reports.
    SendResult sendOnWorker(const ShareRequest &r, const std::function<void()> &whileSending = {}) {
        std::atomic<bool> done {false};
        SendResult result;
        Workers::instance().start(QStringLiteral("send"), [&] {
            result = service->sendBundleAsynch(r);
            done = true;
        });
        if (whileSending)
            whileSending();
        EXPECT_TRUE(pumpUntil([&] { return done.load(); }));
        return result;
    }

    ShareTaskPtr task;
};

TEST_F(BundleUploadTest, CreateBodyAndPhotoParametersCarryOnlyWhatTheServerNeeds) {
    ShareRequest r = request(1);
    r.photos[0].gps = QVariantMap {{"lat", 1.0}};
    const UploadItem first = r.photos[0];
    const QString resharedGuid = generateGuid();
    r.photos.append(UploadItem {
        "http://x/y/old.jpg", "old", 1, resharedGuid, kOriginReshare, QString(), false, {}, -1, -1});

    const SendResult result = sendOnWorker(r);
    EXPECT_FALSE(result.failed) << result.error.toStdString();

    const QList<QJsonObject> creates = requests(QStringLiteral("/api/bundle"));
    ASSERT_EQ(creates.size(), 1);
    const QJsonObject body = creates[0].value("json").toObject();
    EXPECT_FALSE(body.contains("bundleContext"));
    const QJsonArray sent = body.value("photos").toArray();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].toObject().value("filename").toString(), "p0.jpg");
    EXPECT_FALSE(sent[0].toObject().contains("photo_gps"));
    EXPECT_EQ(sent[1].toObject().value("server_guid").toString(), resharedGuid);
    EXPECT_FALSE(sent[1].toObject().contains("photo_guid"));
    EXPECT_EQ(sent[1].toObject().value("filename").toString(), "old.jpg");

    // The reshared photo is already on the server: one photo request only.
    const QList<QJsonObject> uploads = requests(QStringLiteral("/api/photo"));
    ASSERT_EQ(uploads.size(), 1);
    const QJsonObject params = uploads[0].value("params").toObject();
    QFile file(first.url);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(params.value("hash").toString(), SHA1(file.readAll()));
    EXPECT_EQ(params.value("type").toString(), "full");
    for (const char *absent : {"url", "filename", "photo_gps"})
        EXPECT_FALSE(params.contains(absent)) << absent;
    EXPECT_EQ(requests(QStringLiteral("/api/bundle/close")).size(), 1);
    EXPECT_EQ(bundleState(r.bundleGuid).value("state").toString(), "closed");

    // Reported to the delegate, with the task's resume state saved.
    ASSERT_EQ(delegate.completions.size(), 1);
    EXPECT_EQ(delegate.completions[0].value("clientAction").toString(), "sendBundle");
    EXPECT_EQ(delegate.completions[0].value(BundleKey::Context).value<ShareTaskPtr>(), task);
    EXPECT_FALSE(delegate.completions[0].contains(BundleKey::Error));
    EXPECT_EQ(delegate.progressCount("creating"), 2);
    EXPECT_EQ(delegate.progressCount("complete"), 1);
    EXPECT_TRUE(task->sentBundleCreate());
    EXPECT_EQ(task->continuePhoto(), 1);
}

TEST_F(BundleUploadTest, AFinalRefusalIsAnErrorAndASecondCallResumesWithoutACreate) {
    ShareRequest r = request(3);
    addFaults("/api/photo",
        {QJsonObject {{"pass", true}}, QJsonObject {{"pass", true}}, QJsonObject {{"status", 400}}});
    const SendResult failed = sendOnWorker(r);
    EXPECT_EQ(failed.error, "http error 400");
    EXPECT_EQ(failed.status, 400);
    EXPECT_EQ(failed.continuePhoto, 2);
    EXPECT_TRUE(failed.sentCreate);
    // The delegate's record says the same.
    ASSERT_EQ(delegate.completions.size(), 1);
    EXPECT_EQ(delegate.completions[0].value(BundleKey::HttpStatus).toInt(), 400);
    EXPECT_EQ(delegate.completions[0].value(BundleKey::ContinuePhoto).toInt(), 2);
    EXPECT_TRUE(delegate.completions[0].value(BundleKey::SentCreate).toBool());
    // Reported as what it is, never as a sent share.
    EXPECT_EQ(delegate.progressCount("complete"), 0);
    EXPECT_EQ(delegate.progressCount("failed"), 1);

    devCall("POST", "/__dev/reset");
    r.sentCreate = true;
    r.continuePhoto = 2;
    EXPECT_FALSE(sendOnWorker(r).failed);
    EXPECT_TRUE(requests("/api/bundle").isEmpty());
    const QList<QJsonObject> uploads = requests("/api/photo");
    ASSERT_EQ(uploads.size(), 1);
    EXPECT_EQ(uploads[0].value("params").toObject().value("order").toInt(), 2);
    EXPECT_EQ(requests("/api/bundle/close").size(), 1);
    EXPECT_EQ(delegate.progressCount("complete"), 1);
}

TEST_F(BundleUploadTest, OverloadIsRetriedFourTimesFourSecondsApartThenGivenBack) {
    addFaults("/api/photo",
        {QJsonObject {{"status", 503}}, QJsonObject {{"status", 503}}, QJsonObject {{"status", 503}},
            QJsonObject {{"status", 503}}});
    clock->clearSleeps();
    const SendResult ok = sendOnWorker(request(2));
    EXPECT_FALSE(ok.failed);
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(delegate.progressCount("retrying"), 4);
    EXPECT_EQ(clock->totalSlept(), 4 * 4000);
    EXPECT_EQ(requests("/api/photo").size(), 6);

    devCall("POST", "/__dev/reset");
    delegate.progresses.clear();
    QJsonArray five;
    for (int i = 0; i < 5; ++i)
        five.append(QJsonObject {{"status", 503}});
    addFaults("/api/photo", five);
    const SendResult failed = sendOnWorker(request(2));
    EXPECT_EQ(failed.error, "http error 503");
    EXPECT_EQ(failed.status, 503);
    EXPECT_EQ(failed.continuePhoto, 0);
    EXPECT_EQ(delegate.progressCount("retrying"), 4);
    EXPECT_TRUE(requests("/api/bundle/close").isEmpty());
}

TEST_F(BundleUploadTest, CancelDuringAPhotoWithdrawsTheBundleCreatedInTheSameCall) {
    const ShareRequest r = request(2);
    addFaults("/api/photo", {QJsonObject {{"stall", true}}});
    const SendResult result = sendOnWorker(r, [&] {
        ASSERT_TRUE(pumpUntil(
            [&] { return !requests("/api/photo").isEmpty(); }, 60000, std::chrono::milliseconds(0)));
        service->cancelBundle(r.bundleGuid);
    });
    EXPECT_EQ(result.error, "cancelled");
    EXPECT_EQ(requests("/api/bundle/cancel").size(), 1);
    EXPECT_EQ(bundleState(r.bundleGuid).value("state").toString(), "cancelled");
    // Only the cancel's own report reached the delegate, not a completion of the send.
    ASSERT_EQ(delegate.completions.size(), 1);
    EXPECT_FALSE(delegate.completions[0].contains(BundleKey::Context));
    EXPECT_EQ(delegate.progressCount("cancelled"), 1);
    EXPECT_EQ(delegate.progressCount("complete"), 0);
    EXPECT_FALSE(service->cancelled());
}

TEST_F(BundleUploadTest, AStagedUploadThatStallsIsRestartedAndFailsAfterFiveStalls) {
    const ShareRequest r = request(1);
    ASSERT_FALSE(sendOnWorker(r).failed);
    devCall("POST", "/__dev/reset");
    const UploadItem item = r.photos.first();

    QJsonArray stalls;
    for (int i = 0; i < 5; ++i)
        stalls.append(QJsonObject {{"stall", true}});
    addFaults("/api/photo", stalls);
    std::atomic<bool> done {false};
    SendResult result;
    Workers::instance().start("staged", [&] {
        result = service->uploadPhotoAsynch(item);
        done = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return done.load(); }, 60000, std::chrono::seconds(5)));
    EXPECT_EQ(result.error, "http error -1001");
    EXPECT_EQ(result.status, -1001);
    EXPECT_EQ(requests("/api/photo").size(), 5);
    EXPECT_EQ(clock->sleeps().count(2000), 4);

    // The next attempt goes through: a full-size upload of a closed bundle.
    devCall("POST", "/__dev/reset");
    const SendResult ok = service->uploadPhotoAsynch(item);
    EXPECT_FALSE(ok.failed) << ok.error.toStdString();
    EXPECT_FALSE(ok.body.isEmpty());
}

TEST_F(BundleUploadTest, ASendReloadsTheAddressBookOnceItEnded) {
    // The server may have made contacts of the recipients.
    const qsizetype before = requests(QStringLiteral("/api/user_address_book_entries")).size();
    const SendResult result = sendOnWorker(request(1));
    EXPECT_FALSE(result.failed) << result.error.toStdString();
    EXPECT_GT(requests(QStringLiteral("/api/user_address_book_entries")).size(), before);
    EXPECT_FALSE(service->contactsDirty());
}

} // namespace
