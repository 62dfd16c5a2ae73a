#include "IntakeFixture.h"

#include "shell/MainController.h"
#include "shell/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QUrl>

namespace lf::test {

void DropViewTest::SetUp() {
    ShellTest::SetUp();
    launch();
    // The start-up sign-in attempt comes first, or it would sign the test's session out again.
    ASSERT_TRUE(waitUntil([this] { return signInRequests == 1; }));
    signIn();
    view = PhotoDropView::install(app->mainController());
    app->mainController()->mainWindow()->resize(900, 700);
    app->mainController()->mainWindow()->show();
    ASSERT_TRUE(waitUntil([this] { return view->isVisible(); }));
}

QString DropViewTest::writePhoto(const QString &name, const std::optional<QString> &caption, int width) {
    const QString path = home.filePath(name);
    QDir().mkpath(QFileInfo(path).path());
    EXPECT_TRUE(writeBytes(path, encoded(quadrantImage(width, width * 3 / 4), "jpeg", 90)));
    if (caption) {
        EXPECT_TRUE(writeMeta(path, Meta {.caption = *caption}));
    }
    return path;
}

bool DropViewTest::drag(const QMimeData &mime, bool drop) {
    const QPoint at = view->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &enter);
    if (!enter.isAccepted())
        return false;
    if (drop) {
        QDropEvent event(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &event);
    }
    return true;
}

void DropViewTest::press(QWidget *widget, int key, const QString &text) {
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &down);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &up);
}

bool DropViewTest::settle() {
    return waitUntil([this] { return !view->busy(); });
}

std::unique_ptr<QMimeData> DropViewTest::filesMime(const QStringList &files, const QString &text) {
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString &file : files)
        urls.append(QUrl::fromLocalFile(file));
    mime->setUrls(urls);
    if (!text.isEmpty())
        mime->setText(text);
    return mime;
}

QString DropViewTest::caption(int index) const {
    return task()->photoInfo(index).value(QLatin1String(kPhotoCaption)).toString();
}

QStringList DropViewTest::shareFiles() const {
    QStringList files;
    const QDir folder(task()->path());
    QDirIterator it(folder.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(folder.relativeFilePath(it.next()));
    // The archive is the task's own, not a photo.
    files.removeAll(QLatin1String(kShareArchiveName));
    files.removeIf([](const QString &file) { return file.startsWith(QLatin1String("thumb")); });
    return files;
}

} // namespace lf::test
