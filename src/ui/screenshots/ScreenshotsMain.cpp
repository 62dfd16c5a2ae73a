// lanternfish-screenshots [--suffix S] OUTDIR PHOTO...: runs the desktop program as lanternfish does
// (home and server as for lanternfish) and takes it through its main states the way a user would,
// with key presses and clicks on the real widgets, writing each state as OUTDIR/<state>S.png. The
// photo palette shows ~/Pictures. It shares the photos for real: meant for a throwaway home against
// a reference server that holds the second photo upload (scripts/screenshots).
#include "foundation/Strings.h"
#include "intake/PhotoDropView.h"
#include "intake/PhotoGridPalette.h"
#include "recipients/GroupSheets.h"
#include "recipients/LFAddressField.h"
#include "recipients/LFAddressPicker.h"
#include "recipients/MRUTableController.h"
#include "share/ShareTask.h"
#include "shell/DesktopProgram.h"
#include "shell/DockTile.h"
#include "shell/MainController.h"
#include "shell/MainWindow.h"
#include "shell/SettingsVC.h"
#include "shell/SignInWC.h"
#include "shell/ToSVC.h"
#include "shell/WelcomeWindow.h"
#include "toolkit/LFAlert.h"
#include "toolkit/WindowSnapshot.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <unistd.h>

namespace lf {
namespace {

// Where the window stands: the same place every run, with room for the palette beside it.
const QPoint kWindowAt(24, 24);
const QColor kDesktop(0xdd, 0xe1, 0xe6);
constexpr int kMargin = 12;

class Tour {
public:
    Tour(DesktopProgram &program, QString outDir, QString suffix, QStringList photos)
        : m_program(program)
        , m_app(program.delegate())
        , m_out(std::move(outDir))
        , m_suffix(std::move(suffix))
        , m_photos(std::move(photos)) { }

    void run() {
        signedOut();
        composing();
        sheets();
        uploading();
    }

private:
    // Lets the event loop run: layouts, repaints and timers of the widgets settle.
    static void settle(int ms = 300) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(10);
        }
    }

    static void waitFor(const char *what, const std::function<bool()> &done, int ms = 30000) {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > ms)
                throw std::runtime_error(std::string("timed out waiting for ") + what);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(10);
        }
    }

    void shoot(const QString &state) {
        settle();
        QWidget *main = m_app.window();
        const QString file = QDir(m_out).filePath(state + m_suffix + QStringLiteral(".png"));
        const QImage image
            = snapshotWindows(stackedWindows(main), kMargin, kDesktop).convertToFormat(QImage::Format_RGB32);
        // Quality 0: the strongest compression, the pixels are the same.
        if (!image.save(file, "PNG", 0))
            throw std::runtime_error("cannot write " + file.toStdString());
        std::printf("%s\n", qPrintable(file));
        std::fflush(stdout);
    }

    static void type(QWidget *w, const QString &text) {
        w->setFocus(Qt::OtherFocusReason);
        QTest::keyClicks(w, text);
    }

    static void key(QWidget *w, Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(w, k, modifiers);
    }

    static void click(QAbstractButton *button) {
        QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
    }

    // The web pages of the first sign-in open windows of their own; they are not the program's look.
    static void closeWebWindows() {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<WelcomeWindow *>(w) && w->isVisible())
                w->close();
    }

    MRUTableController *recipients() {
        return dynamic_cast<MRUTableController *>(m_app.mainController()->recipientsArea());
    }

    int rowOf(const QString &text) {
        QListWidget *table = recipients()->table();
        for (int row = 0; row < table->count(); ++row)
            if (table->item(row)->text().contains(text))
                return row;
        throw std::runtime_error("no row " + text.toStdString() + " in the recipients");
    }

    void signedOut() {
        waitFor("the sign-in sheet", [] { return SignInWC::current() && SignInWC::current()->isVisible(); });
        SignInWC *sheet = SignInWC::current();
        m_app.window()->move(kWindowAt);
        auto edit = [sheet](int tag) { return qobject_cast<QLineEdit *>(sheet->control(tag)); };
        auto button = [sheet](int tag) { return qobject_cast<QAbstractButton *>(sheet->control(tag)); };
        waitFor("the sign-in panel", [&] { return edit(SignInWC::TagSignInEmail); });
        click(button(SignInWC::TagHaveAccount));
        type(edit(SignInWC::TagSignInEmail), QStringLiteral("demo@lanternfish.test"));
        type(edit(SignInWC::TagSignInPassword), QStringLiteral("lanternfish"));
        shoot(QStringLiteral("sign-in"));

        click(button(SignInWC::TagWantAccount));
        type(edit(SignInWC::TagFirstName), QStringLiteral("Lena"));
        type(edit(SignInWC::TagLastName), QStringLiteral("Ng"));
        type(edit(SignInWC::TagSignUpEmail), QStringLiteral("lena.ng@example.org"));
        type(edit(SignInWC::TagSignUpPassword), QStringLiteral("harbour"));
        type(edit(SignInWC::TagConfirmation), QStringLiteral("harbour"));
        shoot(QStringLiteral("sign-up"));
        click(button(SignInWC::TagSignUp));
        waitFor("the terms", [sheet] {
            const ToSVC *terms = sheet->findChild<ToSVC *>();
            return terms && terms->isVisible();
        });
        shoot(QStringLiteral("sign-up-terms"));
        // Declining sends nothing.
        key(sheet->findChild<ToSVC *>(), Qt::Key_Escape);
        waitFor("the terms to close", [sheet] {
            const ToSVC *terms = sheet->findChild<ToSVC *>();
            return !terms || !terms->isVisible();
        });

        click(button(SignInWC::TagHaveAccount));
        click(button(SignInWC::TagSignIn));
        waitFor("the sign-in", [this] {
            return m_app.authenticated() && (!SignInWC::current() || !SignInWC::current()->isVisible());
        });
        waitFor("the contacts", [this] { return recipients()->table()->count() > 0; });
        settle(500);
        closeWebWindows();
    }

    void composing() {
        m_app.openFiles(m_photos);
        auto *drop = qobject_cast<PhotoDropView *>(m_app.mainController()->photoDropArea()->widget());
        waitFor("the photos", [&] {
            const ShareTaskPtr task = ShareTask::singletonNA();
            return task && task->photoCount() == m_photos.size() && drop && !drop->busy();
        });
        LFAddressField *field = recipients()->addressField();
        type(field, QStringLiteral("lena.ng@example.org, "));
        QListWidget *table = recipients()->table();
        const QRect family = table->visualRect(table->model()->index(rowOf(QStringLiteral("Family")), 0));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
            family.center() - QPoint(family.width() / 4, 0));
        type(m_app.mainController()->noteField(), QStringLiteral("Greetings from the harbour!"));
        closeWebWindows();
        shoot(QStringLiteral("composing"));

        // The completion shows the address book's matches under the field.
        type(field, QStringLiteral("an"));
        waitFor("the completion", [this] { return recipients()->picker()->isVisible(); });
        shoot(QStringLiteral("completion"));
        key(field, Qt::Key_Escape);
        for (int i = 0; i < 2; ++i)
            key(field, Qt::Key_Backspace);

        // An address that cannot be one is held up with a balloon.
        const QString invalid = QStringLiteral("lena@harbour,");
        type(field, invalid);
        waitFor(
            "the balloon", [] { return LFAlert::current() && LFAlert::current()->window()->isVisible(); });
        shoot(QStringLiteral("balloon"));
        // The balloon leaves the keyboard in the field: Escape there closes it, and the entry
        // it points at is taken back key by key.
        key(field, Qt::Key_Escape);
        for (qsizetype i = 0; i < invalid.size(); ++i)
            key(field, Qt::Key_Backspace);
        settle();
    }

    void sheets() {
        m_app.doPreferences();
        waitFor("the settings", [] { return SettingsVC::current() && SettingsVC::current()->isVisible(); });
        shoot(QStringLiteral("settings"));
        click(SettingsVC::current()->cancelButton());
        waitFor("the settings to close",
            [] { return !SettingsVC::current() || !SettingsVC::current()->isVisible(); });

        // Ctrl+E on a group's row edits the group.
        QListWidget *table = recipients()->table();
        table->setFocus(Qt::OtherFocusReason);
        table->setCurrentRow(rowOf(QStringLiteral("Family")));
        key(table, Qt::Key_E, Qt::ControlModifier);
        waitFor("the group editor",
            [this] { return recipients()->editGroupSheet() && recipients()->editGroupSheet()->isVisible(); });
        shoot(QStringLiteral("group-editor"));
        click(recipients()->editGroupSheet()->cancelButton());
        waitFor("the group editor to close", [this] {
            return !recipients()->editGroupSheet() || !recipients()->editGroupSheet()->isVisible();
        });

        MainController *controller = m_app.mainController();
        controller->showPhotoPalette(true, false);
        // ~/Pictures holds the shared photos.
        waitFor("the photo palette's thumbnails", [this] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *palette = qobject_cast<PhotoGridPalette *>(w); palette && palette->isVisible())
                    return palette->thumbnailsLoaded()
                        && palette->grid()->model()->rowCount() == m_photos.size();
            return false;
        });
        shoot(QStringLiteral("photo-palette"));
        controller->showPhotoPalette(false, false);
        settle();
    }

    void uploading() {
        click(m_app.mainController()->shareButton());
        // The server holds the second photo: the progress stays at the first.
        const QString second = localizedFormat(
            QStringLiteral("[sharePreview]"), {QStringLiteral("2"), QString::number(m_photos.size())});
        waitFor("the upload", [this, &second] {
            const QAction *status = m_program.desktop().dock().dockMenuItem();
            return status && status->text() == second;
        });
        QMenu *menu = m_program.desktop().dock().dockMenu();
        QWidget *window = m_app.window();
        // Where a tray would open it: beside the window, not over it.
        menu->popup(window->mapToGlobal(QPoint(window->width() + 8, 40)));
        shoot(QStringLiteral("uploading"));
        menu->hide();
    }

    DesktopProgram &m_program;
    MacClientAppDelegate &m_app;
    QString m_out;
    QString m_suffix;
    QStringList m_photos;
};

} // namespace
} // namespace lf

int main(int argc, char **argv) {
    lf::DesktopProgram::prepareApplication();
    QApplication app(argc, argv);
    lf::DesktopProgram::nameApplication();
    // A caret that blinks would differ from run to run.
    QApplication::setCursorFlashTime(0);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes the Lanternfish window's main states as PNG."));
    parser.addHelpOption();
    const QCommandLineOption suffix(
        QStringLiteral("suffix"), QStringLiteral("Appended to each name, e.g. @2x."), QStringLiteral("S"));
    parser.addOption(suffix);
    parser.addPositionalArgument(QStringLiteral("outdir"), QStringLiteral("Where the PNG files go."));
    parser.addPositionalArgument(QStringLiteral("photos"), QStringLiteral("The photos to share."));
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "lanternfish-screenshots: give the output folder and the photos\n");
        return 2;
    }

    lf::DesktopProgram program;
    lf::Tour tour(program, args.first(), parser.value(suffix), args.mid(1));
    program.launch();
    // The tour runs inside the event loop, as the program's own work does: objects given up before
    // it started (deleteLater) go only once a loop runs.
    QTimer::singleShot(0, &app, [&tour] {
        int status = 0;
        try {
            tour.run();
        } catch (const std::exception &e) {
            std::fprintf(stderr, "lanternfish-screenshots: %s\n", e.what());
            status = 1;
        }
        // The upload the server holds would keep the program from ending: no clean-up past this point.
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(status);
    });
    return QApplication::exec();
}
