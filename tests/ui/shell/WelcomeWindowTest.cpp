#include "shell/WelcomeWindow.h"

#include "support/DemoServer.h"
#include "support/TempHome.h"
#include "support/Waits.h"

#include <QWebEnginePage>
#include <QWebEngineView>

namespace lf::test {
namespace {

QString pageText(QWebEngineView *view) {
    QString text;
    bool done = false;
    view->page()->toPlainText([&](const QString &t) {
        text = t;
        done = true;
    });
    waitUntil([&] { return done; }, 5000);
    return text;
}

// One real page load: the window goes beside the main window, and a page that cannot load says so.
TEST(WelcomeWindowTest, OpensBesideTheMainWindowAndSaysClosedWhenThePageFails) {
    TempHome home;
    QString error;
    const auto server = startDemoServer(&error);
    ASSERT_TRUE(server) << error.toStdString();
    QWidget mainWindow;
    mainWindow.setGeometry(40, 60, 400, 500);
    mainWindow.show();
    WelcomeWindow welcome(&mainWindow);
    welcome.load(QUrl(QStringLiteral("http://127.0.0.1:%1/mac_welcome").arg(server->port())));
    ASSERT_TRUE(waitUntil([&] { return welcome.didShow(); }, 15000));
    EXPECT_TRUE(welcome.isVisible());
    EXPECT_EQ(welcome.frameGeometry().left(), mainWindow.frameGeometry().right() + 1 + 24);
    EXPECT_EQ(welcome.frameGeometry().bottom(), mainWindow.frameGeometry().bottom());
    EXPECT_TRUE(pageText(welcome.view()).contains(QStringLiteral("Welcome")));

    EXPECT_TRUE(WelcomeWindow::followsInside(QUrl(QStringLiteral("https://help.zendesk.com/a"))));
    EXPECT_FALSE(WelcomeWindow::followsInside(QUrl(QStringLiteral("https://example.com/"))));

    welcome.load(QUrl(QStringLiteral("http://127.0.0.1:1/mac_welcome")));
    // The failed load, then the replacement page.
    int loads = 0;
    QObject::connect(welcome.view()->page(), &QWebEnginePage::loadFinished, [&] { ++loads; });
    ASSERT_TRUE(waitUntil([&] { return loads >= 2; }, 15000));
    EXPECT_EQ(pageText(welcome.view()), QStringLiteral("closed"));
}

} // namespace
} // namespace lf::test
