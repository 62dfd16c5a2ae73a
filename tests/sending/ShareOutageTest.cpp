// Shares that meet a server in trouble: stalled uploads, runs of 5xx answers and a restart of the
// server. Whatever happens on the way, every photo must reach the bundle exactly once.
#include "SendingFixture.h"

#include "api/HttpTransport.h"
#include "foundation/TextRules.h"

#include <QMap>
#include <QMutex>
#include <QSet>

using namespace lf;
using namespace lf::test;

namespace {

class ShareOutageTest : public SendingTest {
protected:
    void SetUp() override {
        SendingTest::SetUp();
        makeManager();
        manager->loadCurrentShareTask();
        manager->shareTaskThread().setPauseObserver([this](std::chrono::milliseconds pause) {
            QMutexLocker lock(&m_pauseMutex);
            m_pauses.append(pause.count());
        });
    }
    void TearDown() override {
        if (manager)
            manager->shareTaskThread().setPauseObserver({});
        SendingTest::TearDown();
    }
    QList<qint64> pauses() {
        QMutexLocker lock(&m_pauseMutex);
        return m_pauses;
    }
    int failedWith(int status) const {
        return int(std::count_if(delegate.completions.cbegin(), delegate.completions.cend(),
            [&](const QVariantMap &r) { return r.value(BundleKey::HttpStatus).toInt() == status; }));
    }
    static QJsonArray answers(const QList<QJsonObject> &list) {
        QJsonArray out;
        for (const QJsonObject &a : list)
            out.append(a);
        return out;
    }
    static QJsonObject status(int code) { return {{"status", code}}; }

    // Stops the server as a crash or a redeploy would, waits until the client holds for it, and
    // starts it again on the same port with the same data.
    void restartServer(const std::function<void()> &whileDown = {}) {
        // Its log goes with it.
        m_earlierPhotos.append(requests("/api/photo"));
        m_earlierCreates += requests("/api/bundle").size();
        const quint16 port = server->port();
        HttpTransport::shared().closeIdleConnections();
        server->stop();
        ASSERT_TRUE(pumpUntil([&] { return growls(GrowlKey::NetLost) == 1; }));
        if (whileDown)
            whileDown();
        QString error;
        ASSERT_TRUE(server->start(&error)) << error.toStdString();
        ASSERT_EQ(server->port(), port);
    }
    // Every photo upload the server saw, across its restarts.
    QList<QJsonObject> photoRequests() { return m_earlierPhotos + requests("/api/photo"); }

    // The bundle on the server was created once, is closed and holds each of the task's photos
    // once; every upload it holds was accepted exactly once, as the bytes whose hash was sent.
    void expectDeliveredOnce(const ShareTaskPtr &task, int fullSizeCopies = 0) {
        EXPECT_EQ(m_earlierCreates + requests("/api/bundle").size(), 1);
        const QJsonObject bundle = bundleState(task->bundleGuid());
        EXPECT_EQ(bundle.value("state").toString(), "closed");
        QMap<QString, QStringList> accepted; // "guid/type": the hashes of accepted uploads
        for (const QJsonObject &r : photoRequests()) {
            const int code = r.value("status").toInt();
            if (code < 200 || code > 299)
                continue;
            const QJsonObject params = r.value("params").toObject();
            accepted[params.value("photo_guid").toString() + '/' + params.value("type").toString()].append(
                params.value("hash").toString().toLower());
        }
        const QJsonArray photos = bundle.value("photos").toArray();
        ASSERT_EQ(photos.size(), task->photoCount());
        QSet<int> orders;
        int held = 0;
        int copies = 0;
        for (const QJsonValue &p : photos) {
            const QJsonObject photo = p.toObject();
            const int order = photo.value("order").toInt();
            orders.insert(order);
            const QJsonArray uploads = photo.value("uploads").toArray();
            EXPECT_FALSE(uploads.isEmpty()) << "photo " << order << " is missing";
            for (const QJsonValue &u : uploads) {
                const QString type = u.toObject().value("type").toString();
                EXPECT_EQ(accepted.value(photo.value("guid").toString() + '/' + type),
                    QStringList {u.toObject().value("sha1").toString()})
                    << "photo " << order << " " << type.toStdString();
                ++held;
            }
            copies += uploads.size() == 2 ? 1 : 0;
        }
        EXPECT_EQ(orders.size(), photos.size());
        int acceptedCount = 0;
        for (const QStringList &hashes : std::as_const(accepted))
            acceptedCount += int(hashes.size());
        EXPECT_EQ(acceptedCount, held) << "an upload was accepted outside the bundle";
        EXPECT_EQ(copies, fullSizeCopies);
    }

private:
    QMutex m_pauseMutex;
    QList<qint64> m_pauses;
    QList<QJsonObject> m_earlierPhotos;
    qsizetype m_earlierCreates = 0;
};

TEST_F(ShareOutageTest, AStalledPhotoIsSentAgainAfterTheStallLimitAndArrivesOnce) {
    addFaults("/api/photo", {QJsonObject {{"pass", true}}, QJsonObject {{"stall", true}}});
    const ShareTaskPtr task = share({"a.jpg", "b.jpg", "c.jpg"}, false);
    // Big steps of virtual time: the stall limit is minutes.
    ASSERT_TRUE(
        pumpUntil([&] { return log->count(kUploadDoneNotification) >= 1; }, 60000, std::chrono::seconds(5)));
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessScreen) == 1; }));
    EXPECT_EQ(growls(GrowlKey::SuccessMissing), 0);
    EXPECT_EQ(failedWith(NetError::TimedOut), 1);
    EXPECT_EQ(pauses(), QList<qint64> {5000});

    const QList<QJsonObject> photos = requests("/api/photo");
    QList<int> orders;
    for (const QJsonObject &r : photos)
        orders.append(r.value("params").toObject().value("order").toInt());
    EXPECT_EQ(orders, (QList<int> {0, 1, 1, 2}));
    expectDeliveredOnce(task);
}

TEST_F(ShareOutageTest, RunsOfServerErrorsOnPhotosAndCloseAreWaitedOutWithEachPhotoOnce) {
    // More 503s than the request layer retries, then 500s, which it does not retry at all: each
    // run ends an attempt, and the worker waits a growing pause before the next.
    QList<QJsonObject> photoFaults {{{"pass", true}}};
    for (int i = 0; i < kBundleStepRetries + 1; ++i)
        photoFaults.append(status(503));
    photoFaults << status(500) << status(500);
    addFaults("/api/photo", answers(photoFaults));
    QList<QJsonObject> closeFaults;
    for (int i = 0; i < kBundleStepRetries + 1; ++i)
        closeFaults.append(status(503));
    closeFaults << status(500);
    addFaults("/api/bundle/close", answers(closeFaults));

    const ShareTaskPtr task = share({"a.jpg", "b.jpg", "c.jpg"}, false);
    ASSERT_TRUE(waitForUploadDone());
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessScreen) == 1; }));
    EXPECT_EQ(growls(GrowlKey::SuccessMissing), 0) << "a server error skipped a photo";
    EXPECT_EQ(growls(GrowlKey::Fail), 0);
    // Five failed attempts, under the give-up.
    const QList<qint64> expected {5000, 7500, 11250, 16875, 25312};
    const QList<qint64> seen = pauses();
    ASSERT_EQ(seen.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(seen[i], expected[i], 2) << i;
    EXPECT_EQ(requests("/api/bundle/close").size(), closeFaults.size() + 1);
    expectDeliveredOnce(task);
}

TEST_F(ShareOutageTest, ErrorsBetweenPhotosNeverGiveUpAShareThatMovesOn) {
    // Every attempt gets one photo through before a 500: more failed attempts than the give-up
    // allows, yet each moved the share on.
    QList<QJsonObject> faults;
    for (int i = 0; i < kGiveUpRetries + 1; ++i)
        faults << QJsonObject {{"pass", true}} << status(500);
    addFaults("/api/photo", answers(faults));
    QStringList names;
    for (int i = 0; i < kGiveUpRetries + 2; ++i)
        names.append(QStringLiteral("p%1.jpg").arg(i));
    const ShareTaskPtr task = share(names, false);
    ASSERT_TRUE(waitForUploadDone());
    EXPECT_EQ(growls(GrowlKey::Fail), 0) << "given up while moving on";
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessScreen) == 1; }));
    EXPECT_EQ(pauses().size(), kGiveUpRetries + 1);
    expectDeliveredOnce(task);
}

TEST_F(ShareOutageTest, AServerRestartMidShareIsHeldForAndTheShareResumesWithoutASecondCreate) {
    // The third photo is on its way when the server goes down.
    addFaults("/api/photo",
        {QJsonObject {{"pass", true}}, QJsonObject {{"pass", true}}, QJsonObject {{"stall", true}}});
    const ShareTaskPtr task = share({"a.jpg", "b.jpg", "c.jpg", "d.jpg"}, false);
    ASSERT_TRUE(
        pumpUntil([&] { return requests("/api/photo").size() == 3; }, 60000, std::chrono::milliseconds(0)));
    restartServer([&] {
        // Held, polling, for a good while of virtual time: nothing given up meanwhile.
        pumpUntil([] { return false; }, 200, std::chrono::seconds(10));
        EXPECT_TRUE(manager->shareTaskThread().isSharing());
        EXPECT_EQ(growls(GrowlKey::Fail), 0);
        EXPECT_EQ(task->continuePhoto(), 2);
        EXPECT_TRUE(task->sentBundleCreate());
    });
    ASSERT_TRUE(waitForUploadDone());
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessScreen) == 1; }));
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::NetBack) == 1; }));
    QList<int> orders;
    for (const QJsonObject &r : requests("/api/photo"))
        orders.append(r.value("params").toObject().value("order").toInt());
    EXPECT_EQ(orders, (QList<int> {2, 3}));
    expectDeliveredOnce(task);
}

TEST_F(ShareOutageTest, FullSizeCopiesRideOutErrorsDropsStallsAndARestartAndArriveOnce) {
    // The bundle's three photos go through; the first full-size copy then meets a 503, a 500, a
    // dropped connection and a stall before it gets through, the second a server restart.
    addFaults("/api/photo",
        {QJsonObject {{"pass", true}}, QJsonObject {{"pass", true}}, QJsonObject {{"pass", true}},
            status(503), status(500), QJsonObject {{"drop", true}}, QJsonObject {{"stall", true}},
            QJsonObject {{"pass", true}}, QJsonObject {{"stall", true}}});
    const ShareTaskPtr task = share({"a.jpg", "b.jpg", "c.jpg"}, true, {900, 64, 900});
    ASSERT_TRUE(pumpUntil(
        [&] { return log->count(kStagedUploadDoneNotification) == 1; }, 60000, std::chrono::seconds(1)));
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessScreen) == 1; }));
    // The stall is restarted within the upload; the other three wait a growing pause each.
    const QList<qint64> expected {5000, 7500, 11250};
    const QList<qint64> seen = pauses();
    ASSERT_EQ(seen.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(seen[i], expected[i], 2) << i;

    ASSERT_TRUE(
        pumpUntil([&] { return requests("/api/photo").size() == 9; }, 60000, std::chrono::milliseconds(0)));
    restartServer();
    ASSERT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessFull) + growls(GrowlKey::Fail) >= 1; }, 60000,
        std::chrono::seconds(1)));
    EXPECT_TRUE(pumpUntil([&] { return growls(GrowlKey::SuccessFull) == 1; }));
    EXPECT_EQ(growls(GrowlKey::Fail), 0) << "a full-size copy was dropped";
    EXPECT_EQ(log->count(kStagedUploadDoneNotification), 2);
    EXPECT_EQ(manager->shareTaskThread().stagingCount(), 0);
    expectDeliveredOnce(task, 2);
}

} // namespace
