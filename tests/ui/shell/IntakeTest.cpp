#include "ShellFixture.h"

#include "shell/MainController.h"
#include "shell/MainWindow.h"
#include "shell/ShellAreas.h"

#include "foundation/Prefs.h"
#include "session/Service.h"
#include "toolkit/LFAlert.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
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
    }
    EXPECT_TRUE(waitUntil([] { return !balloonText().isEmpty(); })) << "the user is told";
    EXPECT_TRUE(pending().isEmpty());
    EXPECT_TRUE(alerts.isEmpty());

    app->getUrl(QStringLiteral("lanternfish://photoDrawer"));
    EXPECT_EQ(log->count(QStringLiteral("togglePhotoPalette"), QStringLiteral("photoDrawer")), 1);
    EXPECT_EQ(handedIn().size(), 2);
}

TEST_F(IntakeTest, UrlsFromOutsideShowAtMostOneBalloonAndNeverMarkup) {
    signIn();
    LFAlert::cleanupNoAction();
    // What any web page can make the desktop hand in: markup that reads a file when rendered,
    // a callback that tries to sign someone in, and a pile of junk.
    QStringList urls {QStringLiteral("lanternfish:<img src=\"/dev/zero\">"),
        QStringLiteral("lanternfish://callback.chirp?user_token=forged&email=mallory%40example.org")};
    for (int i = 0; i < 30; ++i)
        urls.append(QStringLiteral("lanternfish://junk/%1?<b>bold</b>").arg(i));
    for (int i = 0; i < 3; ++i)
        urls.append(QStringLiteral("lanternfish:///no/<i>gone%1</i>.jpg#share").arg(i));
    int balloonsShown = 0;
    QPointer<LFAlert> last;
    for (const QString &url : urls)
        app->open({url});
    EXPECT_EQ(LFAlert::current(), nullptr) << "not one balloon per URL";
    waitUntil(
        [&] {
            if (LFAlert::current() && LFAlert::current() != last) {
                last = LFAlert::current();
                ++balloonsShown;
            }
            return false;
        },
        300);
    EXPECT_EQ(balloonsShown, 1);
    EXPECT_TRUE(alerts.isEmpty()) << "no standard alert at all";
    // The balloon names the first path as text, tags and all, and counts the others.
    EXPECT_TRUE(balloonText().contains(QStringLiteral("<i>gone0</i>.jpg"))) << balloonText().toStdString();
    EXPECT_TRUE(balloonText().contains(QStringLiteral("2 more"))) << balloonText().toStdString();
    EXPECT_EQ(log->count(QStringLiteral("callback")), 0) << "a callback from outside reaches no window";
    EXPECT_FALSE(app->authenticating());
    EXPECT_EQ(Service::currentService()->userName(), kDemoEmail);
    EXPECT_EQ(handedIn().size(), 0);
}

TEST_F(IntakeTest, StandardAlertsShowTheirTextsAsPlainText) {
    setAlertRunner({});
    QString shownText, shownInformative;
    Qt::TextFormat format = Qt::RichText, informativeFormat = Qt::RichText;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        format = box->textFormat();
        for (QLabel *label : box->findChildren<QLabel *>()) {
            if (label->text().contains(QLatin1String("server")))
                informativeFormat = label->textFormat();
        }
        box->reject();
    });
    runStandardAlert({QStringLiteral("<img src=\"/dev/zero\">"),
        QStringLiteral("<a href=\"x\">the server</a>"), {QStringLiteral("OK")}, app->window()});
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(informativeFormat, Qt::PlainText);
}

TEST_F(IntakeTest, TheOpenCommandHandsTheChosenFilesToTheWindow) {
    signIn();
    app->setFileChooser([this] { return QStringList {photo}; });
    app->doOpen();
    EXPECT_EQ(handedIn(), QStringList {photo});
}

} // namespace
} // namespace lf::test
