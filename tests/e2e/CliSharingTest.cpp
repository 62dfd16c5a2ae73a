// Shares sent by the built program, checked on the reference server's side.
#include "CliTest.h"

#include "foundation/TextRules.h"
#include "support/SamplePhotos.h"
#include "support/TestImages.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <csignal>

using namespace lf;
using namespace lf::test;

namespace {

const QString kNewAddress = QStringLiteral("lena.ng@example.org"); // not among the demo contacts

QString field(const QJsonValue &value, const char *key) {
    return value.toObject().value(QLatin1String(key)).toString();
}

class CliSharingTest : public CliTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(CliTest::SetUp());
        ASSERT_NO_FATAL_FAILURE(signIn());
        QString error;
        photos = writeSamplePhotos(home.filePath(QStringLiteral("photos")), &error);
        ASSERT_EQ(photos.size(), 3) << error.toStdString();
    }

    QStringList shareArgs(const QString &message) const {
        return QStringList {QStringLiteral("share"), QStringLiteral("--to"), kNewAddress,
                   QStringLiteral("--to"), QStringLiteral("%Family"), QStringLiteral("--to"),
                   QStringLiteral("@PhotoStream"), QStringLiteral("--message"), message}
        + photos;
    }

    QJsonArray queuedShares() {
        const RunResult r = cli({QStringLiteral("status"), QStringLiteral("--json")});
        EXPECT_EQ(r.exitCode, 0) << r;
        return parseJson(r.out).toObject().value(QLatin1String("shares")).toArray();
    }

    // The bundle is closed and holds the three photos in order: the large one at screen size and in
    // full, the others once in full; every copy holds the bytes the client announced, and the full
    // copies are the files themselves. `hashedUploads` of the copies are among `photoRequests`.
    void expectArrivedWhole(
        const QJsonObject &bundle, const QList<QJsonObject> &photoRequests, int hashedUploads) {
        int hashed = 0;
        EXPECT_EQ(field(bundle, "state"), QStringLiteral("closed"));
        const QJsonArray arrived = bundle.value(QLatin1String("photos")).toArray();
        ASSERT_EQ(arrived.size(), 3);
        for (int i = 0; i < 3; ++i) {
            const QJsonObject photo = arrived[i].toObject();
            EXPECT_EQ(photo.value(QLatin1String("order")).toInt(), i);
            EXPECT_FALSE(photo.contains(QLatin1String("error"))) << i;
            EXPECT_EQ(
                field(photo, "announced_type"), i == 0 ? QStringLiteral("screen") : QStringLiteral("full"))
                << i;
            const QJsonArray uploads = photo.value(QLatin1String("uploads")).toArray();
            ASSERT_EQ(uploads.size(), i == 0 ? 2 : 1) << i;
            for (const QJsonValue &upload : uploads) {
                const QString type = field(upload, "type");
                if (type == QLatin1String("full")) {
                    EXPECT_EQ(field(upload, "sha1"), SHA1(readBytes(photos[i]))) << i;
                } else {
                    EXPECT_EQ(type, QStringLiteral("screen"));
                    // Turned upright by its orientation before it was scaled down.
                    EXPECT_LT(upload.toObject().value(QLatin1String("width")).toInt(),
                        upload.toObject().value(QLatin1String("height")).toInt());
                }
                for (const QJsonObject &request : photoRequests) {
                    const QJsonObject params = request.value(QLatin1String("params")).toObject();
                    if (field(params, "photo_guid") == field(photo, "guid") && field(params, "type") == type
                        && request.value(QLatin1String("status")).toInt() / 100 == 2) {
                        EXPECT_EQ(field(params, "hash"), field(upload, "sha1"))
                            << i << " " << type.toStdString();
                        ++hashed;
                    }
                }
            }
        }
        EXPECT_EQ(field(arrived[2], "caption"), QString::fromUtf8(kSampleCaption));
        EXPECT_EQ(hashed, hashedUploads);
    }

    // Shares the sample photos with `message`; the process is killed while the photo after the
    // first `stored` ones hangs on the wire. The request log is reset after.
    void killSharingAfter(const QString &message, int stored) {
        QJsonArray faults;
        for (int i = 0; i < stored; ++i)
            faults.append(QJsonObject {{"pass", true}});
        faults.append(QJsonObject {{"stall", true}});
        ASSERT_NO_FATAL_FAILURE(addFaults(QStringLiteral("POST"), QStringLiteral("/api/photo"), faults));
        {
            BackgroundRun sharing(cliPath(), shareArgs(message));
            ASSERT_TRUE(sharing.waitUntil([&] {
                return requests(QStringLiteral("POST"), QStringLiteral("/api/photo")).size() > stored;
            })) << sharing.finish(0);
            sharing.sendSignal(SIGKILL);
            sharing.finish(20000);
        }
        resetDev();
    }

    QStringList photos;
};

TEST_F(CliSharingTest, AShareOfThreePhotosArrivesWhole) {
    const QString message = QStringLiteral("Greetings from the harbour");
    const RunResult r = cli(shareArgs(message));
    ASSERT_EQ(r.exitCode, 0) << r;
    const QStringList out = r.outLines();
    EXPECT_TRUE(out.filter(QRegularExpression(QStringLiteral("^Shared 3 photos with "))).size() == 1) << r;
    EXPECT_TRUE(out.value(out.size() - 1).startsWith(QLatin1String("See your shares at: "))) << r;
    EXPECT_TRUE(out.value(out.size() - 1).contains(hostPort())) << r;

    const QJsonArray bundles = bundlesWithMessage(message);
    ASSERT_EQ(bundles.size(), 1);
    EXPECT_EQ(requests(QStringLiteral("POST"), QStringLiteral("/api/bundle")).size(), 1);
    expectArrivedWhole(
        bundles[0].toObject(), requests(QStringLiteral("POST"), QStringLiteral("/api/photo")), 4);
    QStringList recipients;
    for (const QJsonValue &v : bundles[0].toObject().value(QLatin1String("recipients")).toArray())
        recipients.append(v.toString().toLower());
    recipients.sort();
    EXPECT_EQ(
        recipients, (QStringList {QStringLiteral("%family"), QStringLiteral("@photostream"), kNewAddress}));

    // The new address became a contact, and nothing is left to send.
    bool added = false;
    for (const QJsonValue &c : demoUser().value(QLatin1String("contacts")).toArray())
        added = added || field(c, "email") == kNewAddress;
    EXPECT_TRUE(added);
    EXPECT_TRUE(queuedShares().isEmpty());
}

class CliInterruptedShareTest : public CliSharingTest, public ::testing::WithParamInterface<int> { };

TEST_P(CliInterruptedShareTest, ResumeFinishesTheShareWithoutCreatingItAgain) {
    const QString message = QStringLiteral("Cut short");
    ASSERT_NO_FATAL_FAILURE(addFaults(QStringLiteral("POST"), QStringLiteral("/api/photo"),
        {QJsonObject {{"pass", true}}, QJsonObject {{"pass", true}}, QJsonObject {{"stall", true}}}));
    {
        BackgroundRun sharing(cliPath(), shareArgs(message));
        // Two photos stored and the third one held on the wire.
        ASSERT_TRUE(sharing.waitUntil([&] {
            return requests(QStringLiteral("POST"), QStringLiteral("/api/photo")).size() >= 3;
        })) << sharing.finish(0);
        const QJsonArray arrived
            = bundlesWithMessage(message).at(0).toObject().value(QLatin1String("photos")).toArray();
        int stored = 0;
        for (const QJsonValue &p : arrived)
            stored += p.toObject().value(QLatin1String("uploads")).toArray().isEmpty() ? 0 : 1;
        EXPECT_EQ(stored, 2);

        sharing.sendSignal(GetParam());
        const RunResult r = sharing.finish(20000);
        EXPECT_FALSE(r.timedOut) << r;
        if (GetParam() == SIGINT) {
            EXPECT_EQ(r.exitCode, 130) << r;
        } else {
            EXPECT_TRUE(r.signalled) << r;
        }
    }
    const QJsonArray sentPhotos
        = bundlesWithMessage(message).at(0).toObject().value(QLatin1String("photos")).toArray();
    resetDev();

    const QJsonArray queued = queuedShares();
    ASSERT_EQ(queued.size(), 1);
    EXPECT_EQ(queued[0].toObject().value(QLatin1String("photos")).toInt(), 3);
    EXPECT_EQ(queued[0].toObject().value(QLatin1String("photos_sent")).toInt(), 2);

    const RunResult resumed = cli({QStringLiteral("resume")});
    ASSERT_EQ(resumed.exitCode, 0) << resumed;
    EXPECT_EQ(
        resumed.outLines().filter(QRegularExpression(QStringLiteral("^Shared 3 photos with "))).size(), 1)
        << resumed;

    EXPECT_TRUE(requests(QStringLiteral("POST"), QStringLiteral("/api/bundle")).isEmpty());
    // It went on from the third photo: the second is not sent again.
    for (const QJsonObject &request : requests(QStringLiteral("POST"), QStringLiteral("/api/photo")))
        EXPECT_NE(field(request.value(QLatin1String("params")), "photo_guid"), field(sentPhotos[1], "guid"));
    const QJsonArray bundles = bundlesWithMessage(message);
    ASSERT_EQ(bundles.size(), 1);
    // Since the reset: the third photo, and the first one in full.
    expectArrivedWhole(
        bundles[0].toObject(), requests(QStringLiteral("POST"), QStringLiteral("/api/photo")), 2);
    EXPECT_TRUE(queuedShares().isEmpty());
}

TEST_F(CliSharingTest, CancelWithdrawsAnInterruptedShareOnTheServerAndOnDisk) {
    const QString message = QStringLiteral("Changed my mind");
    ASSERT_NO_FATAL_FAILURE(killSharingAfter(message, 1));
    ASSERT_EQ(queuedShares().size(), 1);

    const RunResult cancelled = cli({QStringLiteral("cancel")});
    ASSERT_EQ(cancelled.exitCode, 0) << cancelled;
    EXPECT_EQ(cancelled.outLines().size(), 1) << cancelled;
    EXPECT_EQ(field(bundlesWithMessage(message).at(0), "state"), QStringLiteral("cancelled"));
    EXPECT_TRUE(queuedShares().isEmpty());
    // Nothing of it is left to send, and the photos it had copied are gone.
    const RunResult resumed = cli({QStringLiteral("resume")});
    EXPECT_EQ(resumed.exitCode, 0) << resumed;
    EXPECT_EQ(resumed.outLines(), QStringList {QStringLiteral("Nothing to resume")}) << resumed;
    EXPECT_TRUE(requests(QStringLiteral("POST"), QStringLiteral("/api/photo")).isEmpty());
    QDirIterator files(home.filePath(QStringLiteral(".cache")), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        EXPECT_FALSE(
            file.contains(QLatin1String(".shareset/")) && !file.endsWith(QLatin1String("info.plist")))
            << file.toStdString();
    }
}

TEST_F(CliSharingTest, ADroppedConnectionIsWaitedOutInsteadOfGivingTheShareUp) {
    const QString message = QStringLiteral("Through a blip");
    QJsonArray faults {QJsonObject {{"pass", true}}};
    for (int i = 0; i < 7; ++i)
        faults.append(QJsonObject {{"drop", true}});
    ASSERT_NO_FATAL_FAILURE(addFaults(QStringLiteral("POST"), QStringLiteral("/api/photo"), faults));
    BackgroundRun sharing(cliPath(), shareArgs(message));
    // The first failure starts a pause, and the program says when it tries again.
    ASSERT_TRUE(sharing.waitUntil([&] {
        return sharing.errSoFar().contains(QLatin1String("next try in 5 s"));
    })) << sharing.finish(0);
    sharing.sendSignal(SIGINT);
    const RunResult r = sharing.finish(20000);
    EXPECT_EQ(r.exitCode, 130) << r;
    EXPECT_FALSE(r.err.contains(QLatin1String("gave up"))) << r;
    EXPECT_EQ(requests(QStringLiteral("POST"), QStringLiteral("/api/photo")).size(), 2);
    const QJsonArray queued = queuedShares();
    ASSERT_EQ(queued.size(), 1);
    EXPECT_EQ(field(queued[0], "state"), QStringLiteral("interrupted"));
    EXPECT_EQ(queued[0].toObject().value(QLatin1String("photos_sent")).toInt(), 1);
}

TEST_F(CliSharingTest, AShareGivenUpIsWithdrawnKeptAsFailedAndSentAgainByResume) {
    const QString message = QStringLiteral("Second time lucky");
    QJsonArray refusals;
    for (int i = 0; i < 7; ++i)
        refusals.append(QJsonObject {{"status", 400}});
    ASSERT_NO_FATAL_FAILURE(addFaults(QStringLiteral("POST"), QStringLiteral("/api/bundle/close"), refusals));
    const RunResult shared = cli(shareArgs(message));
    EXPECT_EQ(shared.exitCode, 1) << shared;
    ASSERT_EQ(errorLines(shared).size(), 1) << shared;
    EXPECT_TRUE(errorLines(shared)[0].contains(QLatin1String("resume"))) << shared;
    const QJsonArray first = bundlesWithMessage(message);
    ASSERT_EQ(first.size(), 1);
    EXPECT_EQ(field(first[0], "state"), QStringLiteral("cancelled"));
    // Its bundle is gone: the large photo's full-size copy did not go after it.
    EXPECT_EQ(requests(QStringLiteral("POST"), QStringLiteral("/api/photo")).size(), 3);

    const QJsonArray queued = queuedShares();
    ASSERT_EQ(queued.size(), 1);
    EXPECT_EQ(field(queued[0], "state"), QStringLiteral("failed"));

    resetDev();
    const RunResult resumed = cli({QStringLiteral("resume")});
    ASSERT_EQ(resumed.exitCode, 0) << resumed;
    EXPECT_EQ(
        resumed.outLines().filter(QRegularExpression(QStringLiteral("^Shared 3 photos with "))).size(), 1)
        << resumed;
    // As a new bundle, the withdrawn one left as it was.
    const QJsonArray bundles = bundlesWithMessage(message);
    ASSERT_EQ(bundles.size(), 2);
    EXPECT_EQ(field(bundles[0], "state"), QStringLiteral("cancelled"));
    expectArrivedWhole(
        bundles[1].toObject(), requests(QStringLiteral("POST"), QStringLiteral("/api/photo")), 4);
}

// The copy a share took of `photo` in its share-set folder.
QString copyOf(const TempHome &home, const QString &photo) {
    QDirIterator files(home.filePath(QStringLiteral(".cache")), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        if (file.contains(QLatin1String(".shareset/"))
            && QFileInfo(file).fileName() == QFileInfo(photo).fileName())
            return file;
    }
    return {};
}

TEST_F(CliSharingTest, FilesThatOnlyLookLikePhotosAreRefusedBeforeAnythingIsSent) {
    const QByteArray large = readBytes(photos[0]);
    const QString fake = home.filePath(QStringLiteral("fake.jpg"));
    const QString cut = home.filePath(QStringLiteral("cut.jpg"));
    ASSERT_TRUE(writeBytes(fake, "shopping list: lanterns, fish\n"));
    ASSERT_TRUE(writeBytes(cut, large.left(large.size() / 2)));
    for (const QString &bad : {fake, cut}) {
        SCOPED_TRACE(bad.toStdString());
        const RunResult r = cli(QStringList {
            QStringLiteral("share"), QStringLiteral("--to"), kNewAddress, photos[1], bad, photos[2]});
        EXPECT_EQ(r.exitCode, 1) << r;
        const QStringList errors = errorLines(r);
        ASSERT_EQ(errors.size(), 1) << r;
        EXPECT_TRUE(errors[0].contains(bad)) << r;
        EXPECT_TRUE(r.outLines().filter(QStringLiteral("Shared")).isEmpty()) << r;
        EXPECT_TRUE(requests(QStringLiteral("POST"), QStringLiteral("/api/bundle")).isEmpty());
        EXPECT_TRUE(queuedShares().isEmpty());
        EXPECT_TRUE(copyOf(home, photos[1]).isEmpty());
    }
}

TEST_F(CliSharingTest, APhoneHeicArrivesAsUprightJpegsWithItsCaption) {
    // The large sample's noisy pixels, stored turned as a phone stores them; large enough to go at
    // screen size first and in full after.
    const QImage pixels = QImage(photos[0]).scaled(1600, 1200);
    const QString heic = home.filePath(QStringLiteral("IMG_0042.HEIC"));
    ASSERT_TRUE(writeBytes(heic,
        heifEncoded(pixels,
            {.turn = kSampleOrientation,
                .exif = exifBlock({.description = QStringLiteral("Harbour by night"),
                    .dateTaken = QStringLiteral("2024:06:01 21:10:00")})})));
    ASSERT_GT(QFileInfo(heic).size(), 128 * 1024);
    const QString message = QStringLiteral("Straight off the phone");
    const RunResult r = cli({QStringLiteral("share"), QStringLiteral("--to"), kNewAddress,
        QStringLiteral("--message"), message, heic});
    ASSERT_EQ(r.exitCode, 0) << r;

    const QJsonArray bundles = bundlesWithMessage(message);
    ASSERT_EQ(bundles.size(), 1);
    const QJsonArray arrived = bundles[0].toObject().value(QLatin1String("photos")).toArray();
    ASSERT_EQ(arrived.size(), 1);
    EXPECT_EQ(field(arrived[0], "caption"), QStringLiteral("Harbour by night"));
    QStringList types;
    for (const QJsonValue &upload : arrived[0].toObject().value(QLatin1String("uploads")).toArray()) {
        types.append(field(upload, "type"));
        const int width = upload.toObject().value(QLatin1String("width")).toInt();
        const int height = upload.toObject().value(QLatin1String("height")).toInt();
        EXPECT_EQ(QSize(width, height),
            field(upload, "type") == QLatin1String("full") ? QSize(1200, 1600) : QSize(750, 1000));
        EXPECT_NE(field(upload, "sha1"), SHA1(readBytes(heic)));
    }
    EXPECT_EQ(types, (QStringList {QStringLiteral("full"), QStringLiteral("screen")}));
    // The server names what it keeps by the content it found: JPEG only (the seed's photos too).
    QStringList stored;
    QDirIterator files(
        server->dataDir() + QStringLiteral("/photos"), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext())
        stored.append(QFileInfo(files.next()).suffix());
    EXPECT_FALSE(stored.isEmpty());
    EXPECT_EQ(stored.filter(QStringLiteral("jpg")).size(), stored.size()) << stored.join(' ').toStdString();
}

TEST_F(CliSharingTest, AResumedShareNamesThePhotosWhoseCopiesVanishedOrBrokeAndSendsTheRestOnce) {
    ASSERT_EQ(cli({QStringLiteral("config"), QStringLiteral("shareHighResPhotos"), QStringLiteral("false")})
                  .exitCode,
        0);
    const QString message = QStringLiteral("Some went astray");
    ASSERT_NO_FATAL_FAILURE(killSharingAfter(message, 0));
    // Meanwhile the copy of the large photo (sent as a rendition) is cut short and the last one's goes.
    const QString large = copyOf(home, photos[0]);
    const QString last = copyOf(home, photos[2]);
    ASSERT_FALSE(large.isEmpty());
    ASSERT_FALSE(last.isEmpty());
    {
        QFile f(large);
        ASSERT_TRUE(f.resize(f.size() / 2));
    }
    ASSERT_TRUE(QFile::remove(last));

    const RunResult resumed = cli({QStringLiteral("resume")});
    EXPECT_EQ(resumed.exitCode, 1) << resumed;
    EXPECT_TRUE(resumed.outLines().filter(QStringLiteral("Shared 3 photos")).isEmpty()) << resumed;
    const QStringList errors = errorLines(resumed);
    ASSERT_EQ(errors.size(), 1) << resumed;
    for (const QString &photo : {photos[0], photos[2]})
        EXPECT_TRUE(errors[0].contains(QFileInfo(photo).fileName())) << resumed;

    // Only the one left whole arrived, once.
    QList<qsizetype> uploads;
    for (const QJsonValue &p :
        bundlesWithMessage(message).at(0).toObject().value(QLatin1String("photos")).toArray())
        uploads.append(p.toObject().value(QLatin1String("uploads")).toArray().size());
    EXPECT_EQ(uploads, (QList<qsizetype> {0, 1, 0}));
    EXPECT_TRUE(queuedShares().isEmpty());
}

TEST_F(CliSharingTest, AnInterruptedShareWaitsForItsOwnAccountWhileAnotherSignsInAndShares) {
    const QString message = QStringLiteral("Only from my account");
    ASSERT_NO_FATAL_FAILURE(killSharingAfter(message, 1));

    const QString ann = QStringLiteral("ann.friend@lanternfish.test");
    const RunResult signedIn = cli({QStringLiteral("signin"), ann, QStringLiteral("--password-stdin")},
        QByteArray(kDemoPassword) + '\n');
    ASSERT_EQ(signedIn.exitCode, 0) << signedIn;
    QJsonArray queued = queuedShares();
    ASSERT_EQ(queued.size(), 1);
    EXPECT_EQ(field(queued[0], "owner"), QString::fromLatin1(kDemoEmail));
    EXPECT_EQ(field(queued[0], "owner_host"), hostPort());
    const RunResult status = cli({QStringLiteral("status")});
    EXPECT_TRUE(status.out.contains(
        QStringLiteral("waiting for %1 on %2 to sign in").arg(QLatin1String(kDemoEmail), hostPort())))
        << status;

    const RunResult nothing = cli({QStringLiteral("resume")});
    EXPECT_EQ(nothing.exitCode, 0) << nothing;
    EXPECT_TRUE(nothing.out.startsWith(QStringLiteral("Nothing to resume"))) << nothing;
    // Ann's own share goes; the other one is not sent from her account.
    const QString hers = QStringLiteral("From Ann");
    const RunResult shared = cli({QStringLiteral("share"), QStringLiteral("--to"), kNewAddress,
        QStringLiteral("--message"), hers, photos[1]});
    ASSERT_EQ(shared.exitCode, 0) << shared;
    EXPECT_EQ(field(bundlesWithMessage(hers).at(0), "sender"), ann);
    for (const QJsonObject &request : requests(QStringLiteral("POST"), QStringLiteral("/api/bundle")))
        EXPECT_EQ(
            request.value(QLatin1String("json")).toObject().value(QLatin1String("message")).toString(), hers);
    EXPECT_EQ(requests(QStringLiteral("POST"), QStringLiteral("/api/photo")).size(), 1);
    queued = queuedShares();
    ASSERT_EQ(queued.size(), 1);
    EXPECT_EQ(field(queued[0], "owner"), QString::fromLatin1(kDemoEmail));

    // Its owner signs in again and finishes it.
    ASSERT_NO_FATAL_FAILURE(signIn());
    const RunResult resumed = cli({QStringLiteral("resume")});
    ASSERT_EQ(resumed.exitCode, 0) << resumed;
    const QJsonArray bundles = bundlesWithMessage(message);
    ASSERT_EQ(bundles.size(), 1);
    EXPECT_EQ(field(bundles[0], "sender"), QString::fromLatin1(kDemoEmail));
    EXPECT_EQ(field(bundles[0], "state"), QStringLiteral("closed"));
    EXPECT_TRUE(queuedShares().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Signals, CliInterruptedShareTest, ::testing::Values(SIGKILL, SIGINT),
    [](const ::testing::TestParamInfo<int> &which) {
        return std::string(which.param == SIGKILL ? "Killed" : "CtrlC");
    });

} // namespace
