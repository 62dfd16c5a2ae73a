#include "support/TestImages.h"

#include "foundation/Identity.h"
#include "foundation/NotificationCenter.h"
#include "foundation/PropertyList.h"
#include "foundation/Workers.h"
#include "share/PhotoPrep.h"
#include "share/ShareTask.h"
#include "support/TempHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <atomic>
#include <mutex>

using namespace lf;
using namespace lf::test;

namespace {

QString k(const char *name) {
    return QString::fromLatin1(name);
}

class ShareTaskTest : public TempHomeTest {
protected:
    void TearDown() override {
        Workers::instance().waitForAll();
        ShareTask::terminate();
        ShareTask::setImageQueue(nullptr);
    }

    // A photo as intake makes it: a file copied into the task's folder, its source, a thumbnail.
    PhotoInfo photo(const ShareTaskPtr &task, const QString &name) {
        const QString url = QDir(task->path()).filePath(name);
        EXPECT_TRUE(writeBytes(url, encoded(quadrantImage(40, 30), "jpeg")));
        return {{k(kPhotoUrl), url}, {k(kPhotoOpath), QStringLiteral("/Users/ann/Pictures/") + name},
            {k(kPhotoThumb),
                thumbnail(quadrantImage(40, 30), kDropThumbnailSize, true, kDropThumbnailStroke)}};
    }

    static ShareTaskPtr reload(const ShareTaskPtr &task) {
        EXPECT_TRUE(task->saveTask());
        return ShareTask::shareTaskWithData(readBytes(QDir(task->path()).filePath(k(kShareArchiveName))));
    }

    static QList<int> orders(const ShareTaskPtr &task) {
        QList<int> out;
        for (const PhotoInfo &info : task->photoInfos())
            out.append(info.value(k(kPhotoOrder)).toInt());
        return out;
    }
};

// Records the hand-overs to the worker's image queue.
class RecordingQueue : public ImageQueue {
public:
    void enqueue(const ShareTaskPtr &task, const QList<ImageJob> &jobs) override {
        std::lock_guard lock(mutex);
        handOvers.push_back({task, jobs});
    }
    std::mutex mutex;
    std::vector<std::pair<ShareTaskPtr, QList<ImageJob>>> handOvers;
};

} // namespace

TEST_F(ShareTaskTest, CurrentTaskSlot) {
    EXPECT_EQ(ShareTask::singletonNA(), nullptr);
    const ShareTaskPtr current = ShareTask::singleton();
    EXPECT_EQ(ShareTask::singleton(), current);
    const QString folder = current->path();
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(QFileInfo(folder).absolutePath(), sandboxFolder());
    EXPECT_TRUE(folder.endsWith(QStringLiteral(".shareset")));

    ShareTask::detach();
    EXPECT_EQ(ShareTask::singletonNA(), nullptr);
    EXPECT_TRUE(QFileInfo(folder).isDir()); // the queue that holds it still owns its files
    EXPECT_NE(ShareTask::singleton(), current);
}

TEST_F(ShareTaskTest, BundleGuidIsMadeOnceAndKept) {
    const ShareTaskPtr task = ShareTask::singleton();
    const QString guid = task->bundleGuid();
    EXPECT_EQ(guid.size(), 36);
    EXPECT_EQ(task->bundleGuid(), guid);
    EXPECT_EQ(reload(task)->bundleGuid(), guid);
}

TEST_F(ShareTaskTest, OrdersInMemoryAndAfterRestore) {
    const ShareTaskPtr task = ShareTask::singleton();
    int changes = 0;
    QObject observer;
    NotificationCenter::defaultCenter().addObserver(
        &observer, k(kSelectedPhotosChangedNotification), [&](const Notification &) { ++changes; });
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        task->pushPhoto(photo(task, QLatin1String(name)));
    EXPECT_EQ(orders(task), (QList<int> {0, 1, 2}));
    const QString middleFile = task->photoInfo(1).value(k(kPhotoUrl)).toString();
    task->deletePhoto(1);
    EXPECT_FALSE(QFileInfo::exists(middleFile));
    EXPECT_FALSE(task->hasThisPhoto(QStringLiteral("/Users/ann/Pictures/b.jpg")));
    task->pushPhoto(photo(task, QStringLiteral("d.jpg")));
    EXPECT_EQ(orders(task), (QList<int> {0, 2, 2}));
    EXPECT_EQ(changes, 5);

    const ShareTaskPtr restored = reload(task);
    ASSERT_TRUE(restored);
    EXPECT_EQ(orders(restored), (QList<int> {0, 1, 2}));
    EXPECT_EQ(orders(task), (QList<int> {0, 2, 2})); // saving leaves the task itself alone
    EXPECT_TRUE(restored->hasThisPhoto(QStringLiteral("/Users/ann/Pictures/d.jpg")));
    EXPECT_EQ(restored->pathLookup().value(QStringLiteral("/Users/ann/Pictures/a.jpg")).toString(),
        QStringLiteral("!"));
    // Thumbnails come back from their files, as images.
    const QImage thumb = restored->photoInfo(0).value(k(kPhotoThumb)).value<QImage>();
    EXPECT_EQ(thumb.size(), QSize(312, 240));
}

TEST_F(ShareTaskTest, RestoreKeepsEveryFieldDropsVanishedFilesKeepsRemoteOnes) {
    const ShareTaskPtr task = ShareTask::singleton();
    task->pushPhoto(photo(task, QStringLiteral("kept.jpg")));
    const PhotoInfo sentThenGone = photo(task, QStringLiteral("sent.jpg"));
    task->pushPhoto(sentThenGone);
    task->pushPhoto(
        {{k(kPhotoUrl), QStringLiteral("http://example.com/p.jpg")}, {k(kPhotoOrigin), k(kOriginReshare)}});
    const PhotoInfo unsentAndGone = photo(task, QStringLiteral("unsent.jpg"));
    task->pushPhoto(unsentAndGone);
    task->recipients()->setList({QStringLiteral("ann@example.com"), QStringLiteral("%Family")});
    task->setMessage(QStringLiteral("hello"));
    task->setNames(QStringList {QStringLiteral("Ann")});
    task->setSendAttempted(true);
    task->setContinuePhoto(2); // kept.jpg and sent.jpg are on the server
    task->setSentBundleCreate(true);
    task->setOwner({QStringLiteral("ann@example.com"), QStringLiteral("lf.example.com:443")});
    ASSERT_TRUE(task->saveTask());
    QFile::remove(sentThenGone.value(k(kPhotoUrl)).toString());
    QFile::remove(unsentAndGone.value(k(kPhotoUrl)).toString());

    const ShareTaskPtr restored
        = ShareTask::shareTaskWithData(readBytes(QDir(task->path()).filePath(k(kShareArchiveName))));
    ASSERT_TRUE(restored);
    ASSERT_EQ(restored->photoCount(), 2);
    EXPECT_TRUE(restored->photoInfo(0).value(k(kPhotoUrl)).toString().endsWith(QStringLiteral("kept.jpg")));
    EXPECT_EQ(
        restored->photoInfo(1).value(k(kPhotoUrl)).toString(), QStringLiteral("http://example.com/p.jpg"));
    // The resume point counts only the photos that remain: the remote one is next, not skipped.
    EXPECT_EQ(restored->continuePhoto(), 1);
    // A photo gone before it was sent is missing from the share; one already sent is not.
    EXPECT_EQ(restored->missingPhotos(), QStringList {QStringLiteral("/Users/ann/Pictures/unsent.jpg")});
    EXPECT_EQ(restored->recipients()->list(),
        (QStringList {QStringLiteral("ann@example.com"), QStringLiteral("%Family")}));
    EXPECT_EQ(restored->message(), QStringLiteral("hello"));
    EXPECT_EQ(restored->names(), QStringList {QStringLiteral("Ann")});
    EXPECT_EQ(restored->path(), task->path());
    EXPECT_TRUE(restored->sendAttempted());
    EXPECT_FALSE(restored->sendCompleted());
    EXPECT_TRUE(restored->sentBundleCreate());
    EXPECT_FALSE(restored->photosIncoming());
    EXPECT_NE(restored->recipients(), task->recipients());
    EXPECT_EQ(restored->owner().user, QStringLiteral("ann@example.com"));
    EXPECT_EQ(restored->owner().host, QStringLiteral("lf.example.com:443"));
    // What was missing stays missing through the next save and restore.
    EXPECT_EQ(reload(restored)->missingPhotos(), restored->missingPhotos());
}

TEST_F(ShareTaskTest, ArchivesWithoutAnOwnerReadAsNobodysAndKeepNoOwnerKeys) {
    const ShareTaskPtr task = ShareTask::singleton();
    task->pushPhoto(photo(task, QStringLiteral("a.jpg")));
    const QVariantMap archive = readPropertyList(task->archiveData()).toMap();
    EXPECT_FALSE(archive.contains(k(kArchiveOwner)));
    EXPECT_FALSE(archive.contains(k(kArchiveOwnerHost)));
    EXPECT_FALSE(archive.contains(k(kArchiveMissingPhotos)));
    const ShareTaskPtr restored = reload(task);
    ASSERT_TRUE(restored);
    EXPECT_TRUE(restored->owner().isEmpty());

    // Addresses compare without case; the same address on another server is another account.
    const ShareOwner ann {QStringLiteral("Ann@Example.com"), QStringLiteral("h:1")};
    EXPECT_TRUE(ann.sameAs({QStringLiteral("ann@example.com"), QStringLiteral("h:1")}));
    EXPECT_FALSE(ann.sameAs({QStringLiteral("ann@example.com"), QStringLiteral("h:2")}));
    EXPECT_FALSE(ann.sameAs({QStringLiteral("bob@example.com"), QStringLiteral("h:1")}));
}

TEST_F(ShareTaskTest, ArchiveHasTheKeyTypesAndNoTransientKeysOrImageBytes) {
    const ShareTaskPtr task = ShareTask::singleton();
    PhotoInfo info = photo(task, QStringLiteral("a.jpg"));
    info.insert(k(kPhotoImage), quadrantImage(10, 10));
    info.insert(k(kPhotoCameraPhoto), true);
    info.insert(k(kPhotoData), QByteArray(5000, 'x'));
    info.insert(k(kPhotoRetry), 1);
    info.insert(k(kPhotoPendingWrite), true);
    info.insert(k(kPhotoGps), QVariantMap {{QStringLiteral("Latitude"), 1.5}});
    task->pushPhoto(info);
    UploadItem full;
    full.url = info.value(k(kPhotoUrl)).toString();
    full.fullIndex = 0;
    task->appendFullPhotoInfo(full);
    ASSERT_TRUE(task->saveTask());

    const QByteArray bytes = readBytes(QDir(task->path()).filePath(k(kShareArchiveName)));
    EXPECT_LT(bytes.size(), 3000);
    const QVariantMap root = readPropertyList(bytes).toMap();
    EXPECT_EQ(root.value(k(kArchiveContinuePhoto)).typeId(), QMetaType::LongLong);
    EXPECT_EQ(root.value(k(kArchiveSendAttempted)).typeId(), QMetaType::Bool);
    EXPECT_EQ(root.value(k(kArchivePathLookup)).typeId(), QMetaType::QVariantMap);
    const QVariantMap stored = root.value(k(kArchivePhotos)).toList().value(0).toMap();
    for (const char *transient :
        {kPhotoImage, kPhotoCameraPhoto, kPhotoData, kPhotoRetry, kPhotoPendingWrite})
        EXPECT_FALSE(stored.contains(k(transient))) << transient;
    EXPECT_EQ(stored.value(k(kPhotoGps)).toMap().value(QStringLiteral("Latitude")).toDouble(), 1.5);
    const QString thumbName = stored.value(k(kPhotoThumb)).toString();
    EXPECT_TRUE(QFileInfo(QDir(task->path()).filePath(thumbName)).isFile());
    const QVariantMap staged = root.value(k(kArchiveStagedPhotos)).toList().value(0).toMap();
    EXPECT_EQ(staged.value(k(kUploadFullIndex)).toInt(), 0);
    EXPECT_EQ(staged.value(k(kPhotoUrl)), info.value(k(kPhotoUrl)));
    EXPECT_FALSE(staged.contains(k(kUploadFullCount)));
    // The task's own entry keeps what it had.
    EXPECT_TRUE(task->photoInfo(0).contains(k(kPhotoImage)));
}

TEST_F(ShareTaskTest, ManyPhotosSaveSmallAndWriteEachThumbnailOnce) {
    const ShareTaskPtr task = ShareTask::singleton();
    const QImage thumb = quadrantImage(60, 40);
    for (int i = 0; i < 1000; ++i) {
        task->pushPhoto({{k(kPhotoUrl), QStringLiteral("http://example.com/%1.jpg").arg(i)},
            {k(kPhotoOpath), QStringLiteral("/p/%1.jpg").arg(i)}, {k(kPhotoThumb), thumb}});
    }
    ASSERT_TRUE(task->saveTask());
    const QDir folder(task->path());
    const QStringList thumbs = folder.entryList({QStringLiteral("thumb-*.jpg")});
    EXPECT_EQ(thumbs.size(), 1000);
    EXPECT_LT(QFileInfo(folder.filePath(k(kShareArchiveName))).size(), 1000 * 400);
    ASSERT_TRUE(task->saveTask());
    EXPECT_EQ(folder.entryList({QStringLiteral("thumb-*.jpg")}), thumbs);
    EXPECT_EQ(folder.entryList(QDir::Files | QDir::Hidden).size(), 1001); // no temporaries left
}

TEST_F(ShareTaskTest, AResumeNoteMovesTheArchivedPointOnOnlyForItsOwnBundle) {
    const ShareTaskPtr task = ShareTask::singleton();
    for (int i = 0; i < 4; ++i)
        task->pushPhoto(photo(task, QStringLiteral("p%1.jpg").arg(i)));
    const QString oldGuid = task->bundleGuid(); // made when the share is handed to the worker
    task->setContinuePhoto(1);
    ASSERT_TRUE(task->saveTask());
    task->setContinuePhoto(3);
    task->setSentBundleCreate(true);
    ASSERT_TRUE(task->saveResumeNote());
    const QString note = QDir(task->path()).filePath(k(kShareResumeNoteName));

    ShareTaskPtr restored = ShareTask::shareTaskWithPath(task->path());
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->continuePhoto(), 3);
    EXPECT_TRUE(restored->sentBundleCreate());

    // A bundle sent again under a new guid starts over: the old note says nothing about it.
    task->setBundleGuid(generateUUIDString());
    task->setContinuePhoto(0);
    task->setSentBundleCreate(false);
    QVariantMap archive;
    ASSERT_TRUE(readPropertyListFile(QDir(task->path()).filePath(k(kShareArchiveName)), archive));
    archive.insert(k(kArchiveBundleGuid), task->bundleGuid());
    archive.insert(k(kArchiveContinuePhoto), 0);
    restored = ShareTask::shareTaskWithData(
        writePropertyList(archive), {{k(kArchiveBundleGuid), oldGuid}, {k(kArchiveContinuePhoto), 3}});
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->continuePhoto(), 0);

    // The next whole save holds the point itself, and the note goes.
    ASSERT_TRUE(task->saveTask());
    EXPECT_FALSE(QFileInfo::exists(note));
    EXPECT_EQ(ShareTask::shareTaskWithPath(task->path())->continuePhoto(), 0);
}

TEST_F(ShareTaskTest, BadArchivesGiveNoTask) {
    const ShareTaskPtr task = ShareTask::singleton();
    task->pushPhoto(photo(task, QStringLiteral("a.jpg")));
    task->saveTask();
    const QByteArray good = readBytes(QDir(task->path()).filePath(k(kShareArchiveName)));
    ASSERT_TRUE(ShareTask::shareTaskWithData(good));

    EXPECT_FALSE(ShareTask::shareTaskWithData(good.left(good.size() / 2)));
    EXPECT_FALSE(ShareTask::shareTaskWithData(QByteArray(300, '\x07')));
    EXPECT_FALSE(ShareTask::shareTaskWithData(QByteArray()));
    EXPECT_FALSE(ShareTask::shareTaskWithData(writePropertyList(QVariantList {1, 2})));
    QVariantMap wrong = readPropertyList(good).toMap();
    wrong.insert(k(kArchivePhotos), QStringLiteral("not a list"));
    EXPECT_FALSE(ShareTask::shareTaskWithData(writePropertyList(wrong)));
    wrong = readPropertyList(good).toMap();
    wrong.insert(k(kArchiveContinuePhoto), qint64(1) << 40);
    EXPECT_FALSE(ShareTask::shareTaskWithData(writePropertyList(wrong)));
}

TEST_F(ShareTaskTest, StagedUploadsBlockClearingAndDeleting) {
    const ShareTaskPtr task = ShareTask::singleton();
    const PhotoInfo info = photo(task, QStringLiteral("a.jpg"));
    task->pushPhoto(info);
    task->setMessage(QStringLiteral("note"));
    task->recipients()->append(QStringLiteral("ann@example.com"));
    task->appendFullPhotoInfo(UploadItem::fromMap(info));
    task->saveTask();
    const QString folder = task->path();

    task->clearTask();
    task->deleteArchives();
    EXPECT_EQ(task->photoCount(), 1);
    EXPECT_EQ(task->message(), QStringLiteral("note"));
    EXPECT_EQ(task->path(), folder);
    EXPECT_TRUE(QFileInfo::exists(info.value(k(kPhotoUrl)).toString()));

    EXPECT_TRUE(task->removeFullPhotoInfo(info.value(k(kPhotoUrl)).toString()));
    task->clearTask();
    EXPECT_EQ(task->photoCount(), 0);
    EXPECT_TRUE(task->message().isNull());
    EXPECT_TRUE(task->recipients()->isEmpty());
    EXPECT_TRUE(QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    task->deleteArchives();
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(task->path().isNull());
}

TEST_F(ShareTaskTest, AdoptDeletesOnlyAnEmptyCurrentTasksFolder) {
    const ShareTaskPtr empty = ShareTask::singleton();
    const QString emptyFolder = empty->path();
    const ShareTaskPtr next = ShareTask::create();
    next->setPath(ShareTask::newBundleInfoPath());
    next->pushPhoto(photo(next, QStringLiteral("a.jpg")));
    ShareTask::adopt(next);
    EXPECT_FALSE(QFileInfo::exists(emptyFolder));
    EXPECT_EQ(ShareTask::singletonNA(), next);

    const ShareTaskPtr other = ShareTask::create();
    ShareTask::adopt(other);
    EXPECT_TRUE(QFileInfo::exists(next->photoInfo(0).value(k(kPhotoUrl)).toString()));
    EXPECT_EQ(ShareTask::singletonNA(), other);
}

TEST_F(ShareTaskTest, OnlyFilesInsideItsOwnShareSetFolderAreDeleted) {
    const ShareTaskPtr task = ShareTask::singleton();
    const QString own = home.filePath(QStringLiteral("mine.jpg"));
    ASSERT_TRUE(writeBytes(own, "user's photo"));
    task->pushPhoto({{k(kPhotoUrl), own}, {k(kPhotoOpath), own}});
    task->pushPhoto({{k(kPhotoUrl), QStringLiteral("http://example.com/x.jpg")}});
    task->deletePhoto(0);
    task->deletePhoto(0);
    EXPECT_TRUE(QFileInfo::exists(own));
    EXPECT_EQ(task->photoCount(), 0);

    // An archive naming another folder as its own cannot turn save or delete on that folder.
    const QString elsewhere = home.filePath(QStringLiteral("Documents"));
    QDir().mkpath(elsewhere);
    ASSERT_TRUE(writeBytes(QDir(elsewhere).filePath(QStringLiteral("thesis.txt")), "precious"));
    const ShareTaskPtr hostile
        = ShareTask::shareTaskWithData(writePropertyList(QVariantMap {{k(kArchivePath), elsewhere}}));
    ASSERT_TRUE(hostile);
    hostile->clearTask();
    hostile->deleteArchives();
    EXPECT_FALSE(hostile->saveTask());
    EXPECT_TRUE(QFileInfo::exists(QDir(elsewhere).filePath(QStringLiteral("thesis.txt"))));
    EXPECT_FALSE(QFileInfo::exists(QDir(elsewhere).filePath(k(kShareArchiveName))));
}

TEST_F(ShareTaskTest, InMemoryImagesGoToTheImageQueueInOneHandOver) {
    RecordingQueue queue;
    ShareTask::setImageQueue(&queue);
    const ShareTaskPtr task = ShareTask::singleton();
    const QVariantMap gps {{QStringLiteral("Latitude"), 10.0}};
    task->replacePhotos({{{k(kPhotoImage), quadrantImage(20, 10)}, {k(kPhotoGps), gps}},
        {{k(kPhotoImage), quadrantImage(20, 10)}, {k(kPhotoOrigin), QStringLiteral("camera")}},
        {{k(kPhotoUrl), QStringLiteral("http://example.com/a.jpg")}}});
    Workers::instance().waitForAll();

    // One at a time, the worker could find the task's photos stable between two of them.
    ASSERT_EQ(queue.handOvers.size(), 1u);
    EXPECT_EQ(queue.handOvers[0].first, task);
    const QList<ImageJob> &jobs = queue.handOvers[0].second;
    ASSERT_EQ(jobs.size(), 2);
    EXPECT_EQ(jobs[0].origin, k(kOriginLibrary));
    EXPECT_EQ(jobs[0].gps, gps);
    EXPECT_EQ(jobs[1].origin, QStringLiteral("camera"));
    EXPECT_TRUE(jobs[1].gps.isEmpty());
    const QList<PhotoInfo> infos = task->photoInfos();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(infos[i].value(k(kPhotoUrl)).toString(), jobs[i].path);
        EXPECT_EQ(QFileInfo(jobs[i].path).absolutePath(), task->path());
        EXPECT_TRUE(jobs[i].path.endsWith(QStringLiteral(".jpg")));
        EXPECT_FALSE(infos[i].contains(k(kPhotoImage)));
    }
    EXPECT_TRUE(QFileInfo::exists(QDir(task->path()).filePath(k(kShareArchiveName))));
}

TEST_F(ShareTaskTest, WithoutAQueueInMemoryImagesAreWrittenDirectly) {
    const ShareTaskPtr task = ShareTask::singleton();
    std::vector<bool> announced;
    QObject::connect(
        task.get(), &ShareTask::photosStabilizedChanged, task.get(),
        [&](bool stable) { announced.push_back(stable); }, Qt::DirectConnection);
    task->replacePhotos({{{k(kPhotoImage), quadrantImage(20, 10)}}});
    Workers::instance().waitForAll();
    const QString url = task->photoInfo(0).value(k(kPhotoUrl)).toString();
    EXPECT_EQ(QImage(url).size(), QSize(20, 10));
    EXPECT_EQ(announced, (std::vector<bool> {false, true}));
    EXPECT_TRUE(task->photosStabilized());
}

TEST_F(ShareTaskTest, PushesFromDropThreadsWhileSavingLoseNothing) {
    const ShareTaskPtr task = ShareTask::singleton();
    std::atomic<bool> pushing {true};
    for (int t = 0; t < 3; ++t) {
        Workers::instance().start(QStringLiteral("drop"), [task, t] {
            for (int i = 0; i < 40; ++i) {
                task->pushPhoto({{k(kPhotoUrl), QStringLiteral("http://example.com/%1-%2.jpg").arg(t).arg(i)},
                    {k(kPhotoOpath), QStringLiteral("/src/%1-%2.jpg").arg(t).arg(i)}});
            }
        });
    }
    Workers::instance().start(QStringLiteral("save"), [task, &pushing] {
        while (pushing)
            task->saveTask();
    });
    QElapsedTimer waited;
    waited.start();
    while (task->photoCount() < 120 && waited.elapsed() < 10000)
        QThread::yieldCurrentThread();
    pushing = false;
    Workers::instance().waitForAll();

    const ShareTaskPtr restored = reload(task);
    ASSERT_TRUE(restored);
    EXPECT_EQ(restored->photoCount(), 120);
    EXPECT_EQ(restored->pathLookup().size(), 120);
    EXPECT_EQ(orders(restored).last(), 119);
}
