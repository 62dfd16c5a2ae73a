#include "ShellFixture.h"

#include "shell/MainWindow.h"
#include "shell/SettingsVC.h"
#include "shell/SupportWC.h"

#include "foundation/Prefs.h"
#include "platform/LoginItems.h"
#include "toolkit/LFIconButton.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace lf::test {
namespace {

class SettingsTest : public ShellTest {
protected:
    void TearDown() override {
        SupportWC::release();
        ShellTest::TearDown();
    }
    SettingsVC *open() {
        SettingsVC *sheet = SettingsVC::requestPreferences(app->window());
        EXPECT_TRUE(sheet->isVisible());
        return sheet;
    }
    static void key(QWidget *to, int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(to, &press);
    }
    static bool closed(const QPointer<SettingsVC> &sheet) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return !sheet;
    }
    static QByteArray entry() {
        QFile file(LoginItems::entryPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

TEST_F(SettingsTest, StartAtLoginWritesTheEntryOnceAndRemovesOnlyItsOwn) {
    launch();
    const QString program = QCoreApplication::applicationFilePath();
    QPointer<SettingsVC> sheet = open();
    EXPECT_FALSE(sheet->startAtLoginBox()->isChecked());
    EXPECT_TRUE(sheet->playSoundsBox()->isChecked());
    EXPECT_EQ(sheet->uploadCrashLogsBox()->isChecked(),
        Prefs::boolPrefForKey(QLatin1String(PrefKey::CanUploadCrashLogs), false));
    sheet->startAtLoginBox()->setChecked(true);
    key(sheet, Qt::Key_Return);
    ASSERT_TRUE(closed(sheet));
    EXPECT_TRUE(Prefs::boolPrefForKey(QLatin1String(PrefKey::StartAtLogin), false));
    EXPECT_TRUE(LoginItems::contains(program));
    EXPECT_TRUE(entry().contains("Exec=" + program.toUtf8() + "\n"));
    EXPECT_TRUE(entry().contains("Type=Application\n"));

    // Saved again with the box on: the one entry stays as it was.
    QFile kept(LoginItems::entryPath());
    ASSERT_TRUE(kept.open(QIODevice::Append));
    kept.write("# kept\n");
    kept.close();
    sheet = open();
    EXPECT_TRUE(sheet->startAtLoginBox()->isChecked());
    sheet->saveButton()->click();
    EXPECT_TRUE(entry().endsWith("# kept\n"));
    EXPECT_EQ(QDir(QFileInfo(LoginItems::entryPath()).absolutePath()).entryList(QDir::Files).size(), 1);

    // An entry another installation wrote is not ours to remove.
    QFile other(LoginItems::entryPath());
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("[Desktop Entry]\nType=Application\nExec=\"/opt/other place/lanternfish\" --quiet\n");
    other.close();
    EXPECT_EQ(LoginItems::entryProgram(), QStringLiteral("/opt/other place/lanternfish"));
    sheet = open();
    sheet->startAtLoginBox()->setChecked(false);
    sheet->saveButton()->click();
    EXPECT_TRUE(QFile::exists(LoginItems::entryPath()));

    // Turned on, ours goes beside it; turned off, only ours goes.
    const QString theirs = QStringLiteral("/opt/other place/lanternfish");
    const auto entries
        = [] { return QDir(QFileInfo(LoginItems::entryPath()).absolutePath()).entryList(QDir::Files); };
    sheet = open();
    sheet->startAtLoginBox()->setChecked(true);
    sheet->saveButton()->click();
    EXPECT_TRUE(LoginItems::contains(program));
    EXPECT_EQ(LoginItems::entryProgram(), theirs);
    EXPECT_EQ(entries().size(), 2);
    sheet = open();
    sheet->startAtLoginBox()->setChecked(false);
    sheet->saveButton()->click();
    EXPECT_FALSE(LoginItems::contains(program));
    EXPECT_EQ(LoginItems::entryProgram(), theirs);
    EXPECT_EQ(entries().size(), 1);
}

TEST_F(SettingsTest, AnEntryForAPathWithSpecialCharactersIsValidAndReadsBack) {
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is missing (scripts/install-deps installs it)";
    for (const QString &program : {QStringLiteral("/opt/100%/lanternfish"),
             QStringLiteral("/home/ada/my apps/50% off \\ \"$HOME\" `x`/lanternfish"),
             QStringLiteral("/opt/%%u/lanternfish")}) {
        SCOPED_TRACE(program.toStdString());
        ASSERT_TRUE(LoginItems::add(program));
        QProcess validate;
        validate.start(validator, {LoginItems::entryPath()});
        ASSERT_TRUE(validate.waitForFinished(10000));
        EXPECT_EQ(validate.exitCode(), 0)
            << validate.readAllStandardOutput().toStdString() << entry().toStdString();
        EXPECT_TRUE(validate.readAllStandardOutput().trimmed().isEmpty()) << "no warnings either";
        EXPECT_EQ(LoginItems::entryProgram(), program);
        EXPECT_TRUE(LoginItems::contains(program));
        ASSERT_TRUE(LoginItems::remove(program));
        EXPECT_FALSE(QFile::exists(LoginItems::entryPath()));
    }
}

TEST_F(SettingsTest, CancelKeepsThePreferencesAndDisconnectSignsOut) {
    launch();
    signIn();
    QPointer<SettingsVC> sheet = open();
    EXPECT_EQ(SettingsVC::requestPreferences(app->window()), sheet.data()) << "one sheet at a time";
    const bool sounds = Prefs::boolPrefForKey(QLatin1String(PrefKey::PlaySounds), true);
    const bool crashLogs = Prefs::boolPrefForKey(QLatin1String(PrefKey::CanUploadCrashLogs), false);
    sheet->playSoundsBox()->setChecked(!sounds);
    sheet->uploadCrashLogsBox()->setChecked(!crashLogs);
    key(sheet, Qt::Key_Escape);
    ASSERT_TRUE(closed(sheet));
    EXPECT_EQ(Prefs::boolPrefForKey(QLatin1String(PrefKey::PlaySounds), true), sounds);
    EXPECT_EQ(Prefs::boolPrefForKey(QLatin1String(PrefKey::CanUploadCrashLogs), false), crashLogs);

    sheet = open();
    const auto *support = sheet->findChild<LFIconButton *>(QStringLiteral("supportButton"));
    ASSERT_TRUE(support);
    EXPECT_EQ(support->geometry().right(), sheet->width() - 1 - 5) << "at the top-right corner";
    EXPECT_EQ(support->geometry().top(), 8);
    for (QWidget *control : sheet->findChildren<QAbstractButton *>())
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->metaObject()->className();
    const int requests = signInRequests;
    sheet->disconnectButton()->click();
    ASSERT_TRUE(waitUntil([&] { return closed(sheet) && !app->authenticated(); }));
    EXPECT_GT(signInRequests, requests) << "signing out asks for a sign-in";
}

TEST_F(SettingsTest, SupportFormCarriesTheSignedInUserAndSaysWhenOffline) {
    launch();
    EXPECT_FALSE(SupportWC::supportURL({}, {}).contains(QStringLiteral("&name=")));
    EXPECT_FALSE(SupportWC::supportURL({}, {}).contains(QStringLiteral("&email=")));
    EXPECT_TRUE(SupportWC::supportURL(QStringLiteral("Ann Friend"), QStringLiteral("ann@example.org"))
                    .endsWith(QStringLiteral("&name=Ann%20Friend&email=ann%40example.org")));

    // Signed out, with the server out of reach: the error page.
    fault("GET", QStringLiteral("/signin"), QJsonArray {QJsonObject {{"drop", true}}});
    auto *button = app->window()->findChild<LFIconButton *>(QStringLiteral("supportButton"));
    if (!button)
        button = SupportWC::injectSupport(app->window(), -5, -8);
    EXPECT_TRUE(button->isVisible());
    button->click();
    SupportWC *support = SupportWC::singleton();
    ASSERT_TRUE(waitUntil([&] { return support->isVisible(); }));
    EXPECT_TRUE(support->showsErrorPage());
    EXPECT_FALSE(support->url().contains(QStringLiteral("&email=")));
    support->close();

    signIn();
    button->click();
    ASSERT_TRUE(waitUntil([&] { return support->isVisible(); }));
    EXPECT_FALSE(support->showsErrorPage());
    EXPECT_TRUE(support->url().contains(QStringLiteral("&email=demo%40lanternfish.test")));
    EXPECT_TRUE(support->url().contains(QStringLiteral("&name=")));
}

} // namespace
} // namespace lf::test
