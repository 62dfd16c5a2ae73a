// The delegate's jobs on their own, with no delegate, session or server behind them.
#include "shell/OpenRequests.h"
#include "shell/QuitGuard.h"
#include "shell/StandardAlert.h"

#include "foundation/Prefs.h"
#include "support/TempHome.h"
#include "support/Waits.h"
#include "toolkit/LFAlert.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <gtest/gtest.h>

namespace lf::test {
namespace {

class OpenRequestsAlone : public TempHomeTest {
protected:
    void TearDown() override { LFAlert::cleanupNoAction(); }

    QStringList pending() const {
        return Prefs::prefForKey(QLatin1String(PrefKey::PendingFiles)).toStringList();
    }

    QWidget window;
    int shown = 0;
    OpenRequests requests {&window, nullptr, {[this] { ++shown; }, [] { return false; }}};
};

// The menu item's mnemonic is no part of the dialog's title.
TEST_F(OpenRequestsAlone, TheOpenDialogIsTitledWithoutTheMenusMarks) {
    QString title;
    QTimer::singleShot(0, [&title] {
        if (QWidget *dialog = QApplication::activeModalWidget()) {
            title = dialog->windowTitle();
            dialog->close();
        }
    });
    requests.doOpen();
    EXPECT_EQ(title, QStringLiteral("Open Photos"));
}

TEST_F(OpenRequestsAlone, SignedOutFilesWaitAndUrlsFromOutsideDoNothingElse) {
    const QString photo = home.filePath(QStringLiteral("boat.jpg"));
    QFile file(photo);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("jpeg bytes");
    file.close();

    requests.open({QUrl::fromLocalFile(photo).toString()});
    EXPECT_EQ(pending(), QStringList {photo});
    EXPECT_EQ(shown, 1);

    // Neither a callback nor an unknown target may show the window, park files or raise alerts.
    Prefs::clearPrefForKey(QLatin1String(PrefKey::PendingFiles));
    requests.open(
        {QStringLiteral("lanternfish://callback?token=secret"), QStringLiteral("lanternfish://nowhere")});
    EXPECT_TRUE(pending().isEmpty());
    EXPECT_EQ(shown, 1);
    deliverMainThreadWork();
    EXPECT_EQ(LFAlert::current(), nullptr);

    // A shared path must be an existing regular file: a folder is no photo.
    requests.getUrl(QStringLiteral("lanternfish://") + home.path() + QStringLiteral("#share"));
    requests.getUrl(QStringLiteral("lanternfish:///no/such/photo.jpg#share"));
    EXPECT_TRUE(pending().isEmpty());
    EXPECT_EQ(shown, 1);
    ASSERT_TRUE(waitUntil([] { return LFAlert::current() != nullptr; }));
    EXPECT_TRUE(LFAlert::current()->text().contains(QStringLiteral("1 more")))
        << LFAlert::current()->text().toStdString();
}

class QuitGuardAlone : public ::testing::Test {
protected:
    void SetUp() override {
        setAlertRunner([this](const StandardAlert &) {
            ++questions;
            return StandardAlert::Default;
        });
        guard.setTerminator([this] { ++ends; });
    }
    void TearDown() override { setAlertRunner({}); }

    QWidget window;
    int questions = 0;
    int ends = 0;
    QuitGuard guard {&window, [] { return nullptr; }};
};

TEST_F(QuitGuardAlone, BeforeTheShareManagerExistsQuitAsksNothingAndClosesTheSheets) {
    window.show();
    auto *sheet = new QDialog(&window);
    sheet->show();
    bool rejected = false;
    QObject::connect(sheet, &QDialog::rejected, [&rejected] { rejected = true; });

    EXPECT_TRUE(guard.maySignOut());
    guard.quit();
    EXPECT_TRUE(rejected);
    EXPECT_EQ(questions, 0);
    EXPECT_EQ(ends, 1);
}

} // namespace
} // namespace lf::test
