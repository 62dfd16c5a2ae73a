#include "share/ShareState.h"
#include "support/TempHome.h"

#include <QFile>

using namespace lf;
using namespace lf::test;

namespace {

class ShareStateTest : public TempHomeTest {
protected:
    // A share of `photos` photos (real files: a restore drops vanished ones) to one recipient,
    // as a window leaves it after composing.
    ShareTaskPtr composed(int photos) {
        const ShareTaskPtr task = ShareTask::create();
        QList<PhotoInfo> infos;
        for (int i = 0; i < photos; ++i) {
            const QString url = home.filePath(QStringLiteral("p%1.jpg").arg(i));
            QFile file(url);
            EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write("x") == 1);
            infos.append({{QString::fromLatin1(kPhotoUrl), url}});
        }
        task->editPhotoInfos([&infos](QList<PhotoInfo> &list) { list = infos; });
        task->recipients()->append(QStringLiteral("bob@example.org"));
        return task;
    }

    // The task as the next start of the program reads it back.
    static ShareTaskPtr stored(const ShareTaskPtr &task) {
        const ShareTaskPtr back = ShareTask::shareTaskWithData(task->archiveData());
        EXPECT_TRUE(back);
        return back;
    }
};

TEST_F(ShareStateTest, AStoredShareReadsAsTheStageItReached) {
    const ShareTaskPtr task = composed(3);
    EXPECT_EQ(shareState(*stored(task)), ShareState::Composing);
    EXPECT_FALSE(isUnfinished(*stored(task)));

    task->setSendAttempted(true);
    EXPECT_EQ(shareState(*stored(task)), ShareState::Queued);
    EXPECT_TRUE(isUnfinished(*stored(task)));
    EXPECT_EQ(photosSent(*stored(task)), 0);

    task->setSentBundleCreate(true);
    task->setContinuePhoto(2);
    EXPECT_EQ(shareState(*stored(task)), ShareState::Interrupted);
    EXPECT_EQ(photosSent(*stored(task)), 2);

    // Given up after the bundle was created: failed wins, and it is still to be sent.
    task->setSendFailed(true);
    EXPECT_EQ(shareState(*stored(task)), ShareState::Failed);
    EXPECT_TRUE(isUnfinished(*stored(task)));

    // Sent: every photo counts as sent whatever the resume point says; unfinished only while
    // full-size uploads remain.
    task->setSendCompleted(true);
    task->appendFullPhotoInfo(UploadItem::fromMap(task->photoInfo(0)));
    EXPECT_EQ(shareState(*stored(task)), ShareState::FullSize);
    EXPECT_EQ(photosSent(*stored(task)), 3);
    EXPECT_TRUE(isUnfinished(*stored(task)));
    task->setFullPhotoInfos({});
    EXPECT_FALSE(isUnfinished(*stored(task)));

    EXPECT_STREQ(shareStateName(ShareState::FullSize), "full-size");
}

TEST_F(ShareStateTest, AResumePointPastTheLastPhotoCountsOnlyThePhotosThere) {
    const ShareTaskPtr task = composed(2);
    task->setSendAttempted(true);
    task->setSentBundleCreate(true);
    task->setContinuePhoto(5);
    EXPECT_EQ(photosSent(*task), 2);
    task->setContinuePhoto(-1);
    EXPECT_EQ(photosSent(*task), 0);
}

TEST_F(ShareStateTest, OnlyAnotherOwnersShareWaitsForThem) {
    const ShareOwner ann {QStringLiteral("ann@example.org"), QStringLiteral("example.org:443")};
    const ShareTaskPtr task = composed(1);
    EXPECT_FALSE(isOtherAccountsShare(*task, ann)) << "a share without an owner is anybody's";

    task->setOwner({QStringLiteral("Ann@Example.org"), ann.host});
    EXPECT_FALSE(isOtherAccountsShare(*stored(task), ann));
    task->setOwner({ann.user, QStringLiteral("localhost:8080")});
    EXPECT_TRUE(isOtherAccountsShare(*stored(task), ann)) << "the same address on another server";
    task->setOwner({QStringLiteral("bob@example.org"), ann.host});
    EXPECT_TRUE(isOtherAccountsShare(*stored(task), ann));
}

} // namespace
