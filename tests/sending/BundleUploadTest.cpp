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
    QVariantMap request(int count) {
        task = ShareTask::create();
        task->setPath(ShareTask::newBundleInfoPath());
        QVariantList photos;
        for (int i = 0; i < count; ++i) {
            const QString file
                = writePhoto(QDir(task->path()).filePath(QStringLiteral("p%1.jpg").arg(i)), 64, false);
            photos.append(QVariantMap {{kPhotoUrl, file}, {kPhotoCaption, QStringLiteral("c%1").arg(i)},
                {kPhotoOrder, i}, {kPhotoGuid, generateGuid()}, {kPhotoOrigin, kOriginLibrary},
                {kUploadType, kUploadTypeFull}, {kUploadFullImage, true}});
        }
        return {{BundleKey::BundleGuid, task->bundleGuid()},
            {BundleKey::Recipients, QStringList {"a@example.com"}}, {BundleKey::Message, QString()},
            {BundleKey::Photos, photos}, {BundleKey::Context, QVariant::fromValue(task)}};
    }
    static QString generateGuid() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); }

    // Runs the send on a worker while the main thread delivers its reports.
    QVariantMap sendOnWorker(const QVariantMap &r, const std::function<void()> &whileSending = {}) {
        std::atomic<bool> done {false};
        QVariantMap result;
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
    QVariantMap r = request(1);
    QVariantList photos = r.value(BundleKey::Photos).toList();
    QVariantMap first = photos[0].toMap();
    first.insert(kPhotoGps, QVariantMap {{"lat", 1.0}});
    first.insert(kPhotoImage, QStringLiteral("in-memory"));
    photos[0] = first;
    const QString resharedGuid = generateGuid();
    photos.append(QVariantMap {{kPhotoCaption, "old"}, {kPhotoOrder, 1}, {kPhotoUrl, "http://x/y/old.jpg"},
        {kPhotoGuid, resharedGuid}, {kPhotoOrigin, kOriginReshare}, {kUploadFullImage, false}});
    r.insert(BundleKey::Photos, photos);

    const QVariantMap result = sendOnWorker(r);
    EXPECT_FALSE(result.contains(BundleKey::Error))
        << result.value(BundleKey::Error).toString().toStdString();

    const QList<QJsonObject> creates = requests(QStringLiteral("/api/bundle"));
    ASSERT_EQ(creates.size(), 1);
    const QJsonObject body = creates[0].value("json").toObject();
    EXPECT_FALSE(body.contains("bundleContext"));
    const QJsonArray sent = body.value("photos").toArray();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].toObject().value("filename").toString(), "p0.jpg");
    EXPECT_FALSE(sent[0].toObject().contains("photo_gps"));
    EXPECT_FALSE(sent[0].toObject().contains("photo_image"));
    EXPECT_EQ(sent[1].toObject().value("server_guid").toString(), resharedGuid);
    EXPECT_FALSE(sent[1].toObject().contains("photo_guid"));
    EXPECT_EQ(sent[1].toObject().value("filename").toString(), "old.jpg");

    // The reshared photo is already on the server: one photo request only.
    const QList<QJsonObject> uploads = requests(QStringLiteral("/api/photo"));
    ASSERT_EQ(uploads.size(), 1);
    const QJsonObject params = uploads[0].value("params").toObject();
    QFile file(first.value(kPhotoUrl).toString());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(params.value("hash").toString(), SHA1(file.readAll()));
    EXPECT_EQ(params.value("type").toString(), "full");
    for (const char *absent : {"url", "filename", "photo_gps"})
        EXPECT_FALSE(params.contains(absent)) << absent;
    EXPECT_EQ(requests(QStringLiteral("/api/bundle/close")).size(), 1);
    EXPECT_EQ(bundleState(r.value(BundleKey::BundleGuid).toString()).value("state").toString(), "closed");

    // Reported to the delegate, with the task's resume state saved.
    ASSERT_EQ(delegate.completions.size(), 1);
    EXPECT_EQ(delegate.completions[0].value("clientAction").toString(), "sendBundle");
    EXPECT_EQ(delegate.progressCount("creating"), 2);
    EXPECT_EQ(delegate.progressCount("complete"), 1);
    EXPECT_TRUE(task->sentBundleCreate());
    EXPECT_EQ(task->continuePhoto(), 1);
}

TEST_F(BundleUploadTest, AFinalRefusalIsAnErrorAndASecondCallResumesWithoutACreate) {
    QVariantMap r = request(3);
    addFaults("/api/photo",
        {QJsonObject {{"pass", true}}, QJsonObject {{"pass", true}}, QJsonObject {{"status", 400}}});
    const QVariantMap failed = sendOnWorker(r);
    EXPECT_EQ(failed.value(BundleKey::Error).toString(), "http error 400");
    EXPECT_EQ(failed.value(BundleKey::HttpStatus).toInt(), 400);
    EXPECT_EQ(failed.value(BundleKey::ContinuePhoto).toInt(), 2);
    EXPECT_TRUE(failed.value(BundleKey::SentCreate).toBool());
    // Reported as what it is, never as a sent share.
    EXPECT_EQ(delegate.progressCount("complete"), 0);
    EXPECT_EQ(delegate.progressCount("failed"), 1);

    devCall("POST", "/__dev/reset");
    r.insert(BundleKey::SentCreate, true);
    r.insert(BundleKey::ContinuePhoto, 2);
    const QVariantMap resumed = sendOnWorker(r);
    EXPECT_FALSE(resumed.contains(BundleKey::Error));
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
    const QVariantMap ok = sendOnWorker(request(2));
    EXPECT_FALSE(ok.contains(BundleKey::Error));
    EXPECT_FALSE(ok.contains(BundleKey::HttpStatus));
    EXPECT_EQ(delegate.progressCount("retrying"), 4);
    EXPECT_EQ(clock->totalSlept(), 4 * 4000);
    EXPECT_EQ(requests("/api/photo").size(), 6);

    devCall("POST", "/__dev/reset");
    delegate.progresses.clear();
    QJsonArray five;
    for (int i = 0; i < 5; ++i)
        five.append(QJsonObject {{"status", 503}});
    addFaults("/api/photo", five);
    const QVariantMap failed = sendOnWorker(request(2));
    EXPECT_EQ(failed.value(BundleKey::Error).toString(), "http error 503");
    EXPECT_EQ(failed.value(BundleKey::HttpStatus).toInt(), 503);
    EXPECT_EQ(failed.value(BundleKey::ContinuePhoto).toInt(), 0);
    EXPECT_EQ(delegate.progressCount("retrying"), 4);
    EXPECT_TRUE(requests("/api/bundle/close").isEmpty());
}

TEST_F(BundleUploadTest, CancelDuringAPhotoWithdrawsTheBundleCreatedInTheSameCall) {
    const QVariantMap r = request(2);
    addFaults("/api/photo", {QJsonObject {{"stall", true}}});
    const QVariantMap result = sendOnWorker(r, [&] {
        ASSERT_TRUE(pumpUntil(
            [&] { return !requests("/api/photo").isEmpty(); }, 60000, std::chrono::milliseconds(0)));
        service->cancelBundle(r.value(BundleKey::BundleGuid).toString());
    });
    EXPECT_EQ(result.value(BundleKey::Error).toString(), "cancelled");
    EXPECT_EQ(requests("/api/bundle/cancel").size(), 1);
    EXPECT_EQ(bundleState(r.value(BundleKey::BundleGuid).toString()).value("state").toString(), "cancelled");
    // Only the cancel's own report reached the delegate, not a completion of the send.
    ASSERT_EQ(delegate.completions.size(), 1);
    EXPECT_FALSE(delegate.completions[0].contains(BundleKey::Context));
    EXPECT_EQ(delegate.progressCount("cancelled"), 1);
    EXPECT_EQ(delegate.progressCount("complete"), 0);
    EXPECT_FALSE(service->cancelled());
}

TEST_F(BundleUploadTest, AStagedUploadThatStallsIsRestartedAndFailsAfterFiveStalls) {
    const QVariantMap r = request(1);
    ASSERT_FALSE(sendOnWorker(r).contains(BundleKey::Error));
    devCall("POST", "/__dev/reset");
    UploadItem item = r.value(BundleKey::Photos).toList().first().toMap();

    QJsonArray stalls;
    for (int i = 0; i < 5; ++i)
        stalls.append(QJsonObject {{"stall", true}});
    addFaults("/api/photo", stalls);
    std::atomic<bool> done {false};
    QVariantMap result;
    Workers::instance().start("staged", [&] {
        result = service->uploadPhotoAsynch(item);
        done = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return done.load(); }, 60000, std::chrono::seconds(5)));
    EXPECT_EQ(result.value(BundleKey::Error).toString(), "http error -1001");
    EXPECT_EQ(result.value(BundleKey::HttpStatus).toInt(), -1001);
    EXPECT_EQ(requests("/api/photo").size(), 5);
    EXPECT_EQ(clock->sleeps().count(2000), 4);

    // The next attempt goes through: a full-size upload of a closed bundle.
    devCall("POST", "/__dev/reset");
    const QVariantMap ok = service->uploadPhotoAsynch(item);
    EXPECT_FALSE(ok.contains(BundleKey::Error)) << ok.value(BundleKey::Error).toString().toStdString();
    EXPECT_TRUE(ok.contains(BundleKey::Body));
}

TEST_F(BundleUploadTest, ASendReloadsTheAddressBookOnceItEnded) {
    // The server may have made contacts of the recipients.
    const qsizetype before = requests(QStringLiteral("/api/user_address_book_entries")).size();
    const QVariantMap result = sendOnWorker(request(1));
    EXPECT_FALSE(result.contains(BundleKey::Error))
        << result.value(BundleKey::Error).toString().toStdString();
    EXPECT_GT(requests(QStringLiteral("/api/user_address_book_entries")).size(), before);
    EXPECT_FALSE(service->contactsDirty());
}

} // namespace
