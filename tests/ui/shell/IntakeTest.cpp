#include "ShellFixture.h"

#include "shell/MainController.h"
#include "shell/ShellAreas.h"

#include "foundation/Prefs.h"
#include "toolkit/LFAlert.h"

#include <QDir>
#include <QFile>
#include <QUrl>

namespace lf::test {
namespace {

class IntakeTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        launch();
        ASSERT_TRUE(waitUntil([this] { return signInRequests == 1; }));
        photo = home.filePath(QStringLiteral("beach day.jpg"));
        QFile file(photo);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("jpeg bytes");
    }

    QStringList handedIn() const {
        auto *drop = dynamic_cast<PlaceholderPhotoDropArea *>(app->mainController()->photoDropArea());
        return drop ? drop->handedIn() : QStringList {QStringLiteral("no placeholder")};
    }
    QStringList pending() const {
        return Prefs::prefForKey(QLatin1String(PrefKey::PendingFiles)).toStringList();
    }

    QString photo;
};

TEST_F(IntakeTest, FilesHandedInWhileSignedOutWaitForTheSignIn) {
    const QString other = home.filePath(QStringLiteral("other.png"));
    app->open({QUrl::fromLocalFile(other).toString()});
    app->open({photo});
    // Only the latest list is kept, and it survives a restart.
    EXPECT_EQ(pending(), QStringList {photo});
    EXPECT_TRUE(handedIn().isEmpty());
    shutDown();
    launch();
    app->setSignInRequester({});
    signIn();
    EXPECT_EQ(handedIn(), QStringList {photo});
    EXPECT_TRUE(pending().isEmpty());

    // Signed in, they go straight to the window, a file: URL as its path.
    app->open({QUrl::fromLocalFile(other).toString()});
    EXPECT_EQ(handedIn(), QStringList({photo, other}));
    // While an update installs they wait again.
    app->setUpdating(true);
    app->safeDropFiles({other});
    EXPECT_EQ(pending(), QStringList {other});
}

TEST_F(IntakeTest, LanternfishUrlsAreRoutedAndOnlyRealFilesAreShared) {
    signIn();
    const QString shareUrl = QStringLiteral("lanternfish://") + photo + QStringLiteral("#share");
    app->open({shareUrl});
    EXPECT_EQ(handedIn(), QStringList {photo});
    // Escaped by the desktop, as xdg-open passes it.
    app->getUrl(QStringLiteral("lanternfish://") + QString::fromUtf8(QUrl::toPercentEncoding(photo, "/"))
        + QStringLiteral("#share"));
    EXPECT_EQ(handedIn(), QStringList({photo, photo}));

    // A folder, a device, a missing file or a relative path is not shared, and nothing is parked.
    for (const QString &path :
        {home.path(), QStringLiteral("/dev/null"), home.filePath(QStringLiteral("gone.jpg")),
            QStringLiteral("beach day.jpg"), QStringLiteral("../../etc/passwd")}) {
        app->getUrl(QStringLiteral("lanternfish://") + path + QStringLiteral("#share"));
        EXPECT_EQ(handedIn().size(), 2) << path.toStdString();
        EXPECT_FALSE(LFAlert::current() == nullptr) << "the user is told";
    }
    EXPECT_TRUE(pending().isEmpty());
    EXPECT_TRUE(alerts.isEmpty());

    app->getUrl(QStringLiteral("lanternfish://callback?code=42"));
    ASSERT_EQ(log->count(QStringLiteral("callback")), 1);
    EXPECT_EQ(
        log->named(QStringLiteral("callback"))[0].object.toString(), QStringLiteral("callback?code=42"));
    app->getUrl(QStringLiteral("lanternfish://photoDrawer"));
    EXPECT_EQ(log->count(QStringLiteral("togglePhotoPalette"), QStringLiteral("photoDrawer")), 1);

    app->getUrl(QStringLiteral("lanternfish://somewhere/else"));
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].message, QStringLiteral("Way Cool"));
    EXPECT_EQ(
        alerts[0].informativeText, QStringLiteral("We got a custom URL \r\"lanternfish://somewhere/else\""));
    EXPECT_EQ(handedIn().size(), 2);
}

TEST_F(IntakeTest, TheOpenCommandHandsTheChosenFilesToTheWindow) {
    signIn();
    app->setFileChooser([this] { return QStringList {photo}; });
    app->doOpen();
    EXPECT_EQ(handedIn(), QStringList {photo});
}

} // namespace
} // namespace lf::test
