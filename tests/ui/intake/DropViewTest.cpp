#include "IntakeFixture.h"

#include "intake/WebImages.h"
#include "shell/MainController.h"
#include "shell/Scripting.h"
#include "toolkit/LFIconButton.h"
#include "toolkit/LFTheme.h"

#include "foundation/Clock.h"
#include "foundation/FileRules.h"
#include "foundation/Identity.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "sending/ShareTaskManager.h"
#include "support/ScriptedServer.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QDropEvent>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QUrl>

#include <sys/stat.h>

namespace lf::test {
namespace {

TEST_F(DropViewTest, DroppedFilesAreCopiedAndTheNewestShown) {
    const QString a = writePhoto(QStringLiteral("Pictures/a.jpg"));
    const QString b = writePhoto(QStringLiteral("Pictures/b.jpg"));
    const QString c = writePhoto(QStringLiteral("Trip/a.jpg"));
    const QString notes = home.filePath(QStringLiteral("notes.txt"));
    writeBytes(notes, "not a photo");
    const auto mime = filesMime({a, b, c, notes});

    ASSERT_TRUE(drag(*mime, false));
    ASSERT_TRUE(waitUntil([this] { return view->dragCountKnown(); }));
    EXPECT_EQ(view->emptyHintText(), QStringLiteral("Drop to add 3 photos"));
    log->clear();
    ASSERT_TRUE(drag(*mime));
    ASSERT_TRUE(settle());
    ASSERT_EQ(task()->photoCount(), 3);
    EXPECT_EQ(view->pageLabelText(), QStringLiteral("3 of 3"));
    EXPECT_EQ(view->currentPhotoIndex(), 2);
    EXPECT_EQ(log->count(QLatin1String(MainController::kCheckButton)), 1);
    EXPECT_TRUE(view->emptyStateView()->isHidden());

    // The folders below the first are kept, so photos of one name from two folders both fit.
    const QString home1 = QFileInfo(home.path()).fileName();
    const QStringList files = shareFiles();
    EXPECT_TRUE(files.contains(home1 + QStringLiteral("/Pictures/a.jpg"))) << files.join(' ').toStdString();
    EXPECT_TRUE(files.contains(home1 + QStringLiteral("/Trip/a.jpg"))) << files.join(' ').toStdString();
    EXPECT_EQ(task()->photoInfo(0).value(QLatin1String(kPhotoOpath)).toString(), a);

    // The same file again: a second copy with a random prefix.
    ASSERT_TRUE(drag(*filesMime({a})));
    ASSERT_TRUE(settle());
    ASSERT_EQ(task()->photoCount(), 4);
    const QString second
        = QFileInfo(task()->photoInfo(3).value(QLatin1String(kPhotoUrl)).toString()).fileName();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9]+_a\\.jpg$")).match(second).hasMatch())
        << second.toStdString();
}

TEST_F(DropViewTest, CaptionTextWinsAndCameraCaptionsAreDropped) {
    const QString own = writePhoto(QStringLiteral("own.jpg"), QStringLiteral("Harbour at dawn"));
    const QString camera = writePhoto(QStringLiteral("camera.jpg"), QStringLiteral("OLYMPUS DIGITAL CAMERA"));
    ASSERT_TRUE(drag(*filesMime({own, camera})));
    ASSERT_TRUE(settle());
    ASSERT_EQ(task()->photoCount(), 2);
    EXPECT_EQ(caption(0), QStringLiteral("Harbour at dawn"));
    EXPECT_FALSE(task()->photoInfo(1).contains(QLatin1String(kPhotoCaption)));

    // A tile dragged from a library brings its caption as "caption:" text.
    ASSERT_TRUE(drag(*filesMime({own}, QStringLiteral("caption:Sunset"))));
    ASSERT_TRUE(settle());
    EXPECT_EQ(caption(2), QStringLiteral("Sunset"));
    // Text alone is nothing to take.
    auto text = std::make_unique<QMimeData>();
    text->setText(QStringLiteral("caption:Only words"));
    EXPECT_FALSE(drag(*text));
}

TEST_F(DropViewTest, SignedOutDragsAreRefused) {
    app->doSignOut();
    const auto mime = filesMime({writePhoto(QStringLiteral("a.jpg"))});
    EXPECT_FALSE(drag(*mime));
    EXPECT_FALSE(view->dragHovering());
}

TEST_F(DropViewTest, DataUrlsAreTakenAndBadOnesRefused) {
    const QImage picture = quadrantImage(40, 30);
    for (const char *format : {"png", "jpeg"}) {
        const QString url = QStringLiteral("data:image/%1;base64,").arg(QLatin1String(format))
            + QString::fromLatin1(encoded(picture, format).toBase64());
        auto mime = std::make_unique<QMimeData>();
        mime->setUrls({QUrl(url)});
        mime->setText(url);
        ASSERT_TRUE(drag(*mime)) << format;
        ASSERT_TRUE(settle());
    }
    ASSERT_EQ(task()->photoCount(), 2);
    for (int i = 0; i < 2; ++i) {
        const QString file = task()->photoInfo(i).value(QLatin1String(kPhotoUrl)).toString();
        EXPECT_EQ(QFileInfo(file).path(), task()->path());
        EXPECT_EQ(QImage(file).size(), picture.size());
    }

    // Malformed, not an image, a script type, and too large: refused with a word, nothing kept.
    const QStringList bad {QStringLiteral("data:image/png;base64"),
        QStringLiteral("data:image/png;base64,@@@@"),
        QStringLiteral("data:image/png;base64,") + QString::fromLatin1(QByteArray("<html>").toBase64()),
        QStringLiteral("data:text/html;base64,") + QString::fromLatin1(encoded(picture, "png").toBase64()),
        QStringLiteral("data:image/../../x.png;base64,")
            + QString::fromLatin1(encoded(picture, "png").toBase64()),
        QStringLiteral("data:image/png;base64,") + QString(kMaxDataUrlBytes + 4, QLatin1Char('A'))};
    const QStringList before = shareFiles();
    for (const QString &url : bad) {
        alerts.clear();
        view->dropFileURL(url);
        ASSERT_TRUE(settle());
        EXPECT_EQ(alerts.size(), 1) << url.left(60).toStdString();
    }
    EXPECT_EQ(task()->photoCount(), 2);
    EXPECT_EQ(shareFiles(), before);
}

TEST_F(DropViewTest, RawImageDataBecomesAJpegOnWhite) {
    // Transparent on the left: JPEG has no transparency, and black would hide what was there.
    QImage clear(40, 30, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    for (int y = 0; y < 30; ++y)
        for (int x = 20; x < 40; ++x)
            clear.setPixelColor(x, y, Qt::red);
    auto png = std::make_unique<QMimeData>();
    png->setData(QStringLiteral("image/png"), encoded(clear, "png"));
    ASSERT_TRUE(drag(*png, false));
    EXPECT_EQ(view->emptyHintText(), QStringLiteral("Drop to add 1 photo"));
    ASSERT_TRUE(drag(*png));
    // Each drop has a thread of its own: the first is let finish so the order below is known.
    ASSERT_TRUE(settle());
    auto tiff = std::make_unique<QMimeData>();
    tiff->setData(QStringLiteral("image/tiff"), encoded(quadrantImage(40, 30), "tiff"));
    ASSERT_TRUE(drag(*tiff));
    ASSERT_TRUE(settle());
    ASSERT_EQ(task()->photoCount(), 2);
    const QImage first(task()->photoInfo(0).value(QLatin1String(kPhotoUrl)).toString(), "jpeg");
    ASSERT_FALSE(first.isNull());
    EXPECT_TRUE(near(first.pixelColor(5, 5), Qt::white));
    const QImage second(task()->photoInfo(1).value(QLatin1String(kPhotoUrl)).toString(), "jpeg");
    EXPECT_TRUE(near(second.pixelColor(2, 2), kTopLeft));
}

TEST_F(DropViewTest, WebImagesDownloadAndAFailureIsShown) {
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls({QUrl(server->baseUrl() + QStringLiteral("/icons/dated/sunset.png?size=2"))});
    ASSERT_TRUE(drag(*mime));
    ASSERT_TRUE(settle());
    ASSERT_EQ(task()->photoCount(), 1);
    const QString file = task()->photoInfo(0).value(QLatin1String(kPhotoUrl)).toString();
    EXPECT_EQ(QFileInfo(file).fileName(), QStringLiteral("sunset.png"));
    EXPECT_FALSE(QImage(file).isNull());
    EXPECT_TRUE(alerts.isEmpty());

    const QStringList before = shareFiles();
    view->dropFileURL(server->baseUrl() + QStringLiteral("/icons/dated/gone.jpg"));
    ASSERT_TRUE(settle());
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts.at(0).message, QStringLiteral("Error downloading"));
    EXPECT_TRUE(alerts.at(0).informativeText.contains(QStringLiteral("Not Found")))
        << alerts.at(0).informativeText.toStdString();
    EXPECT_EQ(task()->photoCount(), 1);
    EXPECT_EQ(shareFiles(), before) << "a failed download leaves no file";
}

TEST_F(DropViewTest, ADownloadThatNeverEndsIsGivenUp) {
    ScriptedServer slow;
    slow.enqueue(ScriptedReply::stall());
    ScopedFakeClock fake;
    const QStringList before = shareFiles();
    view->dropFileURL(slow.baseUrl() + QStringLiteral("/slow.jpg"));
    ASSERT_TRUE(slow.waitForRequests(1));
    fake.clock.advance(std::chrono::seconds(kDownloadTimeLimitSeconds + 1));
    ASSERT_TRUE(settle());
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts.at(0).message, QStringLiteral("Error downloading"));
    EXPECT_TRUE(alerts.at(0).informativeText.contains(QStringLiteral("timed out")))
        << alerts.at(0).informativeText.toStdString();
    EXPECT_EQ(task()->photoCount(), 0);
    EXPECT_EQ(shareFiles(), before);
    slow.release();
}

TEST_F(DropViewTest, LabelCaptionAndDeletingDownToTheEmptyState) {
    EXPECT_FALSE(view->emptyStateView()->isHidden());
    EXPECT_FALSE(view->pageLabelVisible());
    ASSERT_TRUE(drag(*filesMime({writePhoto(QStringLiteral("a.jpg")), writePhoto(QStringLiteral("b.jpg")),
        writePhoto(QStringLiteral("c.jpg"))})));
    ASSERT_TRUE(settle());
    ASSERT_EQ(task()->photoCount(), 3);

    // Moving by keys and buttons stops at the ends.
    view->setFocus();
    press(view, Qt::Key_Left);
    EXPECT_EQ(view->pageLabelText(), QStringLiteral("2 of 3"));
    view->previousButton()->click();
    view->previousButton()->click();
    EXPECT_EQ(view->pageLabelText(), QStringLiteral("1 of 3"));
    EXPECT_FALSE(view->previousButton()->isEnabled());
    press(view, Qt::Key_Right);
    press(view, Qt::Key_Right);
    EXPECT_FALSE(view->nextButton()->isEnabled());

    // A typed caption is kept to 255 characters.
    QLineEdit *field = view->captionField();
    EXPECT_FALSE(field->isReadOnly());
    field->setFocus();
    field->clear();
    for (int i = 0; i < 300; ++i)
        press(field, Qt::Key_W, QStringLiteral("w"));
    EXPECT_EQ(caption(2).size(), PhotoDropView::kMaxCaptionLength);

    // Deleting the last photo shows the one before it.
    view->setFocus();
    press(view, Qt::Key_Delete);
    EXPECT_EQ(view->pageLabelText(), QStringLiteral("2 of 2"));
    view->deleteClicked();
    view->deleteClicked();
    EXPECT_EQ(task()->photoCount(), 0);
    EXPECT_FALSE(view->emptyStateView()->isHidden());
    EXPECT_FALSE(view->pageLabelVisible());
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_TRUE(field->isReadOnly());
}

TEST_F(DropViewTest, CancelMidDropLeavesNoCopies) {
    const QString first = writePhoto(QStringLiteral("big/p0.jpg"), std::nullopt, 2400);
    QStringList files {first};
    for (int i = 1; i < 50; ++i) {
        files.append(home.filePath(QStringLiteral("big/p%1.jpg").arg(i)));
        ASSERT_TRUE(QFile::copy(first, files.last()));
    }
    view->dropFiles(files);
    ASSERT_TRUE(waitUntil([this] { return task()->photoCount() >= 1; }));
    app->mainController()->buttonClick(MainController::kCancelTag);
    ASSERT_TRUE(settle());
    Workers::instance().waitForAll(10000);
    EXPECT_EQ(task()->photoCount(), 0);
    EXPECT_TRUE(shareFiles().isEmpty()) << shareFiles().join(' ').toStdString();
    EXPECT_FALSE(view->emptyStateView()->isHidden());

    // The next drop is not cancelled by the last one's cancel.
    view->dropFiles({first});
    ASSERT_TRUE(settle());
    EXPECT_EQ(task()->photoCount(), 1);
}

TEST_F(DropViewTest, APromisedFileThatNeverComesIsGivenUp) {
    ScopedFakeClock fake;
    const QString photo = writePhoto(QStringLiteral("here.jpg"));
    view->dropItems({{home.filePath(QStringLiteral("never.jpg")), std::nullopt, false, true},
        {photo, std::nullopt, true, false}});
    ASSERT_TRUE(settle());
    EXPECT_EQ(task()->photoCount(), 1);
    EXPECT_GE(fake.clock.slept().count(), PhotoDropView::kPromiseTimeoutMs);
}

TEST_F(DropViewTest, ScriptingAddsDeletesAndRecaptions) {
    auto &center = NotificationCenter::defaultCenter();
    const QString photo = writePhoto(QStringLiteral("scripted.jpg"), QStringLiteral("Own caption"));
    center.post(QLatin1String(kPhotoAddedNotification),
        QVariantMap {{QStringLiteral("url"), QUrl::fromLocalFile(photo).toString()},
            {QStringLiteral("caption"), QStringLiteral("From a script")}});
    ASSERT_TRUE(settle());
    center.post(QLatin1String(kPhotoAddedNotification), QVariantMap {{QStringLiteral("url"), photo}});
    ASSERT_TRUE(settle());
    ASSERT_EQ(task()->photoCount(), 2);
    EXPECT_EQ(caption(0), QStringLiteral("From a script"));
    EXPECT_EQ(caption(1), QStringLiteral("Own caption"));

    task()->setPhotoValue(1, QLatin1String(kPhotoCaption), QStringLiteral("Renamed"));
    center.post(QLatin1String(kCaptionChangedNotification));
    EXPECT_EQ(view->captionField()->text(), QStringLiteral("Renamed"));

    center.post(QLatin1String(kPhotoDeletedNotification), QVariant(task()->photoInfo(0)));
    ASSERT_EQ(task()->photoCount(), 1);
    EXPECT_EQ(caption(0), QStringLiteral("Renamed"));

    // A library click on a photo already in the share takes it out again.
    center.post(
        QLatin1String(PhotoDropView::kPhotoLibraryClick), QVariantMap {{QStringLiteral("url"), photo}});
    ASSERT_TRUE(settle());
    EXPECT_EQ(task()->photoCount(), 0);
}

TEST_F(DropViewTest, ShareDuringASlowDropPutsEveryPhotoInExactlyOneShare) {
    // The first upload hangs, so the share handed over keeps its folder while this looks.
    fault("POST", QStringLiteral("/api/photo"), QJsonArray {QJsonObject {{"stall", true}}});
    const QString first = writePhoto(QStringLiteral("slow/p00.jpg"), std::nullopt, 1600);
    QStringList files {first};
    for (int i = 1; i < 24; ++i) {
        files.append(home.filePath(QStringLiteral("slow/p%1.jpg").arg(i, 2, 10, QLatin1Char('0'))));
        ASSERT_TRUE(QFile::copy(first, files.last()));
    }
    const ShareTaskPtr sent = task();
    sent->recipients()->append(QStringLiteral("ada@example.com"));
    view->dropFiles(files);
    ASSERT_TRUE(waitUntil([&] { return sent->photoCount() >= 1; }));
    app->mainController()->doShareButton();
    const int atShare = sent->photoCount();
    ASSERT_NE(task(), sent);
    ASSERT_TRUE(settle());

    // What Share took is what the share holds; the rest went into the share composed next.
    EXPECT_EQ(sent->photoCount(), atShare);
    EXPECT_EQ(sent->photoCount() + task()->photoCount(), files.size());
    QSet<QString> kept;
    for (const ShareTaskPtr &share : {sent, task()}) {
        for (const PhotoInfo &info : share->photoInfos()) {
            const QString file = info.value(QLatin1String(kPhotoUrl)).toString();
            EXPECT_TRUE(isInsideFolder(file, share->path())) << file.toStdString();
            EXPECT_TRUE(QFileInfo::exists(file)) << file.toStdString();
            kept.insert(QFileInfo(file).canonicalFilePath());
        }
    }
    // No copy lies about outside the two shares.
    QDirIterator it(sandboxFolder(), {QStringLiteral("*.jpg")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = QFileInfo(it.next()).canonicalFilePath();
        if (!QFileInfo(file).fileName().startsWith(QLatin1String("thumb-"))) {
            EXPECT_TRUE(kept.contains(file)) << "orphan " << file.toStdString();
        }
    }
    app->cancelAllShareTasks();
    devCall("POST", QStringLiteral("/__dev/reset"));
}

TEST_F(DropViewTest, CancelWithNoDropLeavesTheNextWebImageAlone) {
    app->mainController()->buttonClick(MainController::kCancelTag);
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls({QUrl(server->baseUrl() + QStringLiteral("/icons/dated/sunset.png"))});
    ASSERT_TRUE(drag(*mime));
    ASSERT_TRUE(settle());
    EXPECT_EQ(task()->photoCount(), 1);
    EXPECT_TRUE(alerts.isEmpty());
}

TEST_F(DropViewTest, TheDragCountIsWhatArrivesAndAShortfallIsTold) {
    // Eight items: three photos, and five that only look like photos or are none.
    QStringList files;
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        files.append(writePhoto(QLatin1String(name)));
    files.append(home.filePath(QStringLiteral("notes.txt")));
    writeBytes(files.last(), "words");
    files.append(home.filePath(QStringLiteral("text.jpg")));
    writeBytes(files.last(), "words named as a photo");
    files.append(home.filePath(QStringLiteral("png.jpg")));
    writeBytes(files.last(), encoded(quadrantImage(40, 30), "png"));
    files.append(home.filePath(QStringLiteral("pipe.jpg")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(files.last()).constData(), 0600), 0); // must never block
    files.append(home.filePath(QStringLiteral("folder.jpg")));
    QDir().mkpath(files.last());
    const auto mime = filesMime(files);
    ASSERT_TRUE(drag(*mime, false));
    ASSERT_TRUE(waitUntil([this] { return view->dragCountKnown(); }));
    // On an empty share the count takes the hint's place, not a label drawn over it.
    EXPECT_FALSE(view->pageLabelVisible());
    EXPECT_EQ(view->emptyHintText(), QStringLiteral("Drop to add 3 photos"));
    const auto dropHere = [this](const QMimeData &data) {
        QDropEvent event(view->rect().center(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &event);
    };
    dropHere(*mime);
    ASSERT_TRUE(settle());
    EXPECT_EQ(task()->photoCount(), 3);
    EXPECT_EQ(balloonText(), QString()) << "the promise was kept";
    EXPECT_EQ(view->emptyHintText(), localizedString("[1xUXDrop~]"));

    // A photo whose header reads but whose picture is cut short is promised and does not come.
    const QByteArray jpeg = encoded(quadrantImage(300, 200), "jpeg");
    const QString cut = home.filePath(QStringLiteral("cut.jpg"));
    writeBytes(cut, jpeg.left(jpeg.size() / 2));
    const auto two = filesMime({files.at(0), cut});
    ASSERT_TRUE(drag(*two, false));
    ASSERT_TRUE(waitUntil([this] { return view->dragCountKnown(); }));
    EXPECT_EQ(view->pageLabelText(), QStringLiteral("Drop to add 2 photos"));
    dropHere(*two);
    ASSERT_TRUE(settle());
    EXPECT_EQ(task()->photoCount(), 4);
    EXPECT_EQ(balloonText(), QStringLiteral("1 of 2 items were photos"));

    // A link to a page promises no photo.
    auto page = std::make_unique<QMimeData>();
    page->setUrls({QUrl(QStringLiteral("https://example.org/gallery/index.html"))});
    EXPECT_FALSE(drag(*page, false));
}

TEST_F(DropViewTest, AScanOfFiftyFourMegapixelsIsTakenIn) {
    // A 600-dpi scan: more than the image reader's default allows.
    QImage scan(9000, 6000, QImage::Format_RGB32);
    scan.fill(QColor(200, 180, 120));
    const QString file = home.filePath(QStringLiteral("scan.png"));
    {
        QImageWriter writer(file, "png");
        writer.setCompression(1);
        ASSERT_TRUE(writer.write(scan));
    }
    scan = QImage();
    view->dropFiles({file});
    ASSERT_TRUE(settle());
    ASSERT_EQ(task()->photoCount(), 1);
    EXPECT_FALSE(thumbImage(task()->photoInfo(0)).isNull());
    EXPECT_EQ(balloonText(), QString());
}

TEST_F(DropViewTest, AnEmptyScriptedCaptionKeepsThePhotosOwn) {
    const QString photo = writePhoto(QStringLiteral("own.jpg"), QStringLiteral("Harbour at dawn"));
    NotificationCenter::defaultCenter().post(QLatin1String(kPhotoAddedNotification),
        QVariantMap {{QStringLiteral("url"), photo}, {QStringLiteral("caption"), QString()}});
    ASSERT_TRUE(settle());
    ASSERT_EQ(task()->photoCount(), 1);
    EXPECT_EQ(caption(0), QStringLiteral("Harbour at dawn"));
}

TEST_F(DropViewTest, TheCaptionIsSelectedOnlyWhereTheTypingGoes) {
    ASSERT_TRUE(drag(*filesMime({writePhoto(QStringLiteral("own.jpg"), QStringLiteral("Harbour"))})));
    ASSERT_TRUE(settle());
    QLineEdit *field = view->captionField();
    EXPECT_EQ(field->text(), QStringLiteral("Harbour"));
    EXPECT_FALSE(field->hasSelectedText()) << "the view has the focus, not the field";
    field->setFocus(Qt::TabFocusReason);
    view->updateCaptionText();
    EXPECT_EQ(field->selectedText(), QStringLiteral("Harbour"));
}

TEST_F(DropViewTest, TheAreaIsPaintedInTheThemesColours) {
    const QImage shot = view->grab().toImage();
    const QColor top = shot.pixelColor(view->width() / 2, 4);
    EXPECT_TRUE(near(top, LFTheme::navBarColor())) << top.name().toStdString();
}

} // namespace
} // namespace lf::test
