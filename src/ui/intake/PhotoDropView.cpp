#include "intake/PhotoDropView.h"

#include "intake/AlbumPalette.h"
#include "intake/WebImages.h"
#include "shell/MacClientAppDelegate.h"
#include "shell/MainController.h"
#include "shell/Scripting.h"
#include "shell/StandardAlert.h"
#include "toolkit/Artwork.h"
#include "toolkit/LFAlert.h"
#include "toolkit/LFIconButton.h"
#include "toolkit/LFTheme.h"

#include "api/HttpTransport.h"
#include "foundation/Clock.h"
#include "foundation/FileRules.h"
#include "foundation/Identity.h"
#include "foundation/LogCategories.h"
#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "sending/ShareTaskManager.h"
#include "session/SessionRecords.h"
#include "share/PhotoIntake.h"
#include "share/PhotoPrep.h"
#include "share/ShareTask.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QSet>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <algorithm>
#include <chrono>
#include <mutex>

namespace lf {

// One drop or download, shared with its threads, which may outlive the view.
struct PhotoDropView::DropRun {
    std::atomic<bool> cancel {false};
    // The files it takes in (read on the main thread only).
    QSet<QString> sources;

    // The share-set folder new copies go to: the share being composed when they were begun.
    QString folder() const {
        std::lock_guard lock(mutex);
        return m_folder;
    }
    void setFolder(const QString &folder) {
        std::lock_guard lock(mutex);
        m_folder = folder;
    }

private:
    mutable std::mutex mutex;
    QString m_folder;
};

namespace {

constexpr int kFlowMs = 260;
// Space under the photos for the label and the caption.
constexpr int kControlsHeight = 64;
constexpr int kMargin = 14;

// The view takes the focus (arrow keys, Delete, paste): assistive technology must hear it is the
// shown photo, not an anonymous client area.
QAccessibleInterface *dropViewAccessible(const QString &className, QObject *object) {
    if (className == QLatin1String(PhotoDropView::staticMetaObject.className()) && object
        && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Graphic);
    return nullptr;
}

QStringList localFiles(const QMimeData *mime) {
    QStringList files;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile())
            files.append(url.toLocalFile());
    }
    return files;
}

// The first address that is not a local file: a web image or a "data:" URL.
QString firstWebUrl(const QMimeData *mime) {
    for (const QUrl &url : mime->urls()) {
        if (!url.isLocalFile() && !url.isEmpty())
            return url.toString(QUrl::FullyEncoded);
    }
    // Browsers put a "data:" image's whole text in the plain text as well; the URL list may drop it.
    const QString text = mime->text().trimmed();
    if (text.startsWith(QLatin1String("data:"), Qt::CaseInsensitive))
        return text;
    return {};
}

// A web address whose content is taken as a photo: a "data:" image, or a name of a photo type.
// Judged by the name alone: a link to a page is no photo, and nothing is fetched to find out.
bool isWebPhoto(const QString &url) {
    if (url.startsWith(QLatin1String("data:"), Qt::CaseInsensitive))
        return url.startsWith(QLatin1String("data:image/"), Qt::CaseInsensitive);
    return isPhotoExtension(lowerExtension(webImageFileName(url)));
}

// The photos a drag brings besides its files: a web photo, else its image data.
int webAndDataCount(const QMimeData *mime) {
    const QString web = firstWebUrl(mime);
    return (!web.isEmpty() && isWebPhoto(web)) || hasImageData(mime) ? 1 : 0;
}

// The files that a drop takes in as photos: regular files of a photo type whose header reads.
int photoFileCount(const QStringList &files) {
    return int(std::count_if(files.cbegin(), files.cend(),
        [](const QString &file) { return isPhotoCandidate(file) && photoFileProblem(file).isEmpty(); }));
}

// What identifies a drag's content: its addresses, and whether it has image data.
QStringList dragKey(const QMimeData *mime) {
    QStringList key;
    for (const QUrl &url : mime->urls())
        key.append(url.toString());
    key.append(hasImageData(mime) ? QStringLiteral("+image") : QStringLiteral("-image"));
    return key;
}

std::optional<QString> captionOf(const QMimeData *mime) {
    static const QLatin1String prefix("caption:");
    const QString text = mime->hasText() ? mime->text() : QString();
    if (text.startsWith(prefix))
        return text.mid(prefix.size());
    return std::nullopt;
}

bool signedIn() {
    const MacClientAppDelegate *app = MacClientAppDelegate::singleton();
    return app && app->authenticated();
}

// Waits for a promised file; false when it did not come in time or the drop was cancelled.
bool waitForFile(const QString &file, const std::atomic<bool> &cancel) {
    Clock &clock = Clock::instance();
    const qint64 start = clock.monotonicMs();
    while (!QFileInfo::exists(file)) {
        if (cancel || Workers::cancelled() || clock.monotonicMs() - start >= PhotoDropView::kPromiseTimeoutMs)
            return false;
        clock.sleep(std::chrono::milliseconds(100));
    }
    return true;
}

// The photo of one item, or nothing when it is not a photo or its copy failed. A copy made for
// it is listed in `copies`.
TakenPhoto takeItem(const PhotoDropView::DropItem &item, const QString &folder) {
    TakenPhoto taken;
    if (item.file.isEmpty()) {
        taken.problem = QStringLiteral("an item without a file");
    } else if (taken.problem = regularFileProblem(item.file); !taken.problem.isEmpty()) {
        // Nothing more is read from a FIFO or a device.
    } else if (!supportedFile(item.file)) {
        taken.problem = QStringLiteral("%1 is not a photo").arg(item.file);
    } else if (item.copy) {
        taken.info = takeDroppedPhoto(item.file, folder, &taken.problem);
    } else if (taken.problem = photoFileProblem(item.file); taken.problem.isEmpty()) {
        taken.info = makeDroppedPhoto(item.file, item.file);
        if (thumbImage(*taken.info).isNull()) {
            taken.problem = QStringLiteral("%1 cannot be decoded").arg(item.file);
            taken.info.reset();
        } else if (isInsideFolder(item.file, folder)) {
            // Written beside it, as a copy's is, so a large drop holds no pictures.
            taken.info->value(QLatin1String(kPhotoThumb)).value<PhotoThumb>().fileNameIn(folder);
        }
    }
    if (taken.info && item.caption)
        taken.info->insert(QLatin1String(kPhotoCaption), *item.caption);
    return taken;
}

} // namespace

PhotoDropView::PhotoDropView(QWidget *parent)
    : QWidget(parent)
    , m_dropAllowed(signedIn) {
    static const bool accessible = [] {
        QAccessible::installFactory(dropViewAccessible);
        return true;
    }();
    Q_UNUSED(accessible)
    allowLargePhotos();
    build();
    observe();
    updatePhotos();
    maintainEmptyState();
}

PhotoDropView::~PhotoDropView() {
    // Running drops stop at their next photo and remove what they did not hand over.
    for (const std::shared_ptr<DropRun> &run : std::as_const(m_runs))
        run->cancel = true;
}

PhotoDropView *PhotoDropView::install(MainController *controller) {
    auto *view = new PhotoDropView;
    controller->setPhotoDropArea(view);
    controller->setPaletteFactory(makePhotoPalette);
    return view;
}

void PhotoDropView::build() {
    setObjectName(QStringLiteral("PhotoDropView"));
    setAccessibleName(localizedString("[PhotoArea]"));
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(360, 260);

    const auto arrow = [this](const QString &glyph, const char *name, int tag) {
        auto *button = new QToolButton(this);
        button->setText(glyph);
        QFont large = button->font();
        large.setPointSize(26);
        button->setFont(large);
        button->setAutoRaise(true);
        button->setAccessibleName(localizedString(QLatin1String(name)));
        button->setToolTip(button->accessibleName());
        button->setProperty("tag", tag);
        button->setFixedSize(34, 56);
        button->setFocusPolicy(Qt::TabFocus);
        button->setStyleSheet(
            QStringLiteral("QToolButton { color: rgba(255,255,255,220); border: none; border-radius: 6px; }"
                           "QToolButton:hover, QToolButton:focus { background: rgba(255,255,255,40); }"
                           "QToolButton:disabled { color: rgba(255,255,255,50); }"));
        return button;
    };
    m_previousButton = arrow(QStringLiteral("\u2039"), "[PreviousPhoto]", kPreviousTag);
    m_nextButton = arrow(QStringLiteral("\u203A"), "[NextPhoto]", kNextTag);
    connect(m_previousButton, &QToolButton::clicked, this, &PhotoDropView::moveLeft);
    connect(m_nextButton, &QToolButton::clicked, this, &PhotoDropView::moveRight);

    m_deleteButton
        = new LFIconButton(QStringLiteral("deleteBadge"), QStringLiteral("deleteBadgePressed"), this);
    m_deleteButton->setAccessibleName(localizedString("[DeletePhoto]"));
    m_deleteButton->setToolTip(m_deleteButton->accessibleName());
    m_deleteButton->hide();
    connect(m_deleteButton, &LFIconButton::clicked, this, &PhotoDropView::deleteClicked);

    m_photoLibButton
        = new LFIconButton(QStringLiteral("iconPhotoPanel"), QStringLiteral("iconPhotoPanelPressed"), this);
    m_photoLibButton->setAccessibleName(localizedString("[PhotoLibraryButton]"));
    m_photoLibButton->setToolTip(m_photoLibButton->accessibleName());
    m_photoLibButton->setFocusPolicy(Qt::TabFocus);
    connect(m_photoLibButton, &LFIconButton::clicked, this, [] {
        const MainController *controller = MainController::singleton();
        const bool open = controller && controller->photoPaletteOpen();
        // Alt, the desktop's Option key, asks for the photo library instead of the Pictures folder.
        const bool altHeld = QApplication::keyboardModifiers() & Qt::AltModifier;
        NotificationCenter::defaultCenter().post(QLatin1String(MainController::kShowPhotoPalette), {},
            {{QStringLiteral("show"), !open}, {QStringLiteral("option"), altHeld}});
    });

    m_pageLabel = new QLabel(this);
    m_pageLabel->setObjectName(QStringLiteral("pageLabel"));
    m_pageLabel->setAlignment(Qt::AlignCenter);
    QFont bold = font();
    bold.setBold(true);
    bold.setPointSize(12);
    m_pageLabel->setFont(bold);
    m_pageLabel->setStyleSheet(QStringLiteral("color: %1;").arg(LFTheme::buttonTextColor().name()));
    m_pageLabel->setTextFormat(Qt::PlainText);

    m_captionField = new QLineEdit(this);
    m_captionField->setObjectName(QStringLiteral("captionField"));
    m_captionField->setAccessibleName(localizedString("[CaptionName]"));
    m_captionField->setPlaceholderText(localizedString("[TypeCaption]"));
    m_captionField->setMaxLength(kMaxCaptionLength);
    m_captionField->setAlignment(Qt::AlignCenter);
    m_captionField->setFrame(false);
    m_captionField->setStyleSheet(QStringLiteral(
        "QLineEdit { background: rgba(255,255,255,36); color: white; border-radius: 5px; padding: 4px 8px; }"
        "QLineEdit:focus { background: rgba(255,255,255,50); }"
        "QLineEdit:!focus { selection-background-color: transparent; selection-color: white; }"
        "QLineEdit[readOnly=\"true\"] { background: transparent; }"));
    connect(m_captionField, &QLineEdit::textEdited, this, &PhotoDropView::captionEdited);

    m_progress = new QProgressBar(this);
    m_progress->setAccessibleName(localizedString("[PhotoProgress]"));
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->setFixedSize(90, 6);
    m_progress->hide();
    m_progressText = new QLabel(this);
    m_progressText->setStyleSheet(QStringLiteral("color: rgba(255,255,255,200);"));
    m_progressText->hide();

    // The empty state: the graphic and a word on what to do.
    m_emptyState = new QWidget(this);
    m_emptyState->setObjectName(QStringLiteral("emptyState"));
    m_emptyState->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *emptyLayout = new QVBoxLayout(m_emptyState);
    emptyLayout->setContentsMargins(0, 0, 0, 0);
    auto *graphic = new QLabel(m_emptyState);
    graphic->setPixmap(Artwork::pixmap(QStringLiteral("1xUX_photos_graphic")));
    graphic->setAlignment(Qt::AlignCenter);
    auto *hint = new QLabel(localizedString("[1xUXDrop~]"), m_emptyState);
    m_emptyHint = hint;
    hint->setObjectName(QStringLiteral("emptyHint"));
    hint->setAccessibleName(hint->text());
    hint->setWordWrap(true);
    hint->setAlignment(Qt::AlignCenter);
    QFont hintFont = font();
    hintFont.setPointSizeF(hintFont.pointSizeF() + 2);
    hint->setFont(hintFont);
    hint->setStyleSheet(QStringLiteral("color: rgba(255,255,255,215);"));
    emptyLayout->addWidget(graphic);
    emptyLayout->addWidget(hint);

    // The controls an empty share hides are styled now, not when the first photo of a drop shows
    // them and the window would wait for the style sheets.
    for (QWidget *control : {static_cast<QWidget *>(m_previousButton), static_cast<QWidget *>(m_nextButton),
             static_cast<QWidget *>(m_pageLabel), static_cast<QWidget *>(m_captionField),
             static_cast<QWidget *>(m_progress)})
        control->ensurePolished();

    m_flow = new QVariantAnimation(this);
    m_flow->setDuration(kFlowMs);
    m_flow->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_flow, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_flowOffset = value.toReal();
        update();
    });
}

void PhotoDropView::observe() {
    auto &center = NotificationCenter::defaultCenter();
    const auto refresh = [this](const Notification &) {
        const ShareTaskPtr task = ShareTask::singletonNA();
        const int count = task ? task->photoCount() : 0;
        maintainEmptyState();
        jumpToImage(std::max(0, std::min(count - 1, m_currentIndex)), true);
    };
    center.addObserver(this, QLatin1String(kShareTaskChangedNotification), refresh);
    center.addObserver(this, QLatin1String(ClientAction::SendBundle), refresh);
    // Cancel empties the share being composed: the drops feeding it stop. A drop that starts
    // afterwards is not touched.
    center.addObserver(this, QLatin1String(MainController::kShareCancelled), [this](const Notification &) {
        if (m_runs.isEmpty())
            return;
        for (const std::shared_ptr<DropRun> &run : std::as_const(m_runs))
            run->cancel = true;
        HttpTransport::shared().wakeTransfers();
    });
    center.addObserver(
        this, QLatin1String(MainController::kPhotoPaletteChanged), [this](const Notification &n) {
            m_paletteOpen = n.object.toBool();
            maintainEmptyState();
        });
    center.addObserver(
        this, QLatin1String(MacClientAppDelegate::kApplicationActivated), [this](const Notification &) {
            m_within = rect().contains(mapFromGlobal(QCursor::pos()));
            placeDeleteButton();
        });
    center.addObserver(this, QLatin1String(kCaptionChangedNotification),
        [this](const Notification &) { updateCaptionText(); });
    center.addObserver(this, QLatin1String(kPhotoLibraryClick),
        [this](const Notification &n) { photoLibraryClick(n.object.toMap()); });
    center.addObserver(this, QLatin1String(kPhotoAddedNotification), [this](const Notification &n) {
        const QVariantMap info = n.object.toMap();
        const QString url = info.value(QStringLiteral("url")).toString();
        const QString path = QUrl(url).isLocalFile() ? QUrl(url).toLocalFile() : posixFlavor(url);
        // An empty caption is none given: the photo keeps its own.
        const QString caption = info.value(QStringLiteral("caption")).toString();
        dropFiles({path}, caption.isEmpty() ? std::nullopt : std::optional<QString>(caption));
    });
    center.addObserver(this, QLatin1String(kPhotoDeletedNotification), [this](const Notification &n) {
        const ShareTaskPtr task = ShareTask::singletonNA();
        if (!task)
            return;
        const QString url = n.object.toMap().value(QLatin1String(kPhotoUrl)).toString();
        const QList<PhotoInfo> photos = task->photoInfos();
        for (int i = 0; i < photos.size(); ++i) {
            if (photos.at(i).value(QLatin1String(kPhotoUrl)).toString() == url) {
                task->deletePhoto(i);
                deleteDone();
                return;
            }
        }
    });
}

// ---- taking photos in ----

void PhotoDropView::dropFiles(const QStringList &paths) {
    dropFiles(paths, std::nullopt);
}

void PhotoDropView::dropFiles(const QStringList &paths, const std::optional<QString> &caption) {
    QList<DropItem> items;
    for (const QString &path : paths)
        items.append({path, caption, true, false});
    dropItems(items);
}

void PhotoDropView::dropItems(const QList<DropItem> &items, int promised, int offered) {
    const auto run = std::make_shared<DropRun>();
    run->setFolder(ShareTask::singleton()->path());
    m_runs.append(run);
    for (const DropItem &item : items)
        run->sources.insert(item.file);
    if (promised < 0)
        promised = int(items.size());
    offered = std::max({offered, promised, int(items.size())});
    beginWork();
    const QPointer<PhotoDropView> self(this);
    const bool started = Workers::instance().start(QStringLiteral("photo drop"), [=] {
        const auto stopped = [run] { return run->cancel || Workers::cancelled(); };
        int arrived = 0;
        takeInOrder(
            int(items.size()),
            [&](int i) {
                const DropItem &item = items.at(i);
                if (item.promised && !waitForFile(item.file, run->cancel))
                    return TakenPhoto {
                        std::nullopt, QStringLiteral("the promised file %1 did not arrive").arg(item.file)};
                return takeItem(item, run->folder());
            },
            [&](int i, TakenPhoto &&taken) {
                if (!taken.info) {
                    qCInfo(lfUi) << "not taken:" << taken.problem;
                    return;
                }
                PhotoInfo info = std::move(*taken.info);
                const QString source = items.at(i).copy ? items.at(i).file : QString();
                // Handed over on the main thread, where Share and Cancel happen: the photo goes
                // into the share being composed at that moment, or nowhere.
                for (int attempt = 0; attempt < 3 && !stopped(); ++attempt) {
                    const QString url = info.value(QLatin1String(kPhotoUrl)).toString();
                    QString composing;
                    bool pushed = false;
                    runOnMainThreadAndWait([&] {
                        if (!self || run->cancel)
                            return;
                        const ShareTaskPtr task = ShareTask::singleton();
                        composing = task->path();
                        if (!composing.isEmpty() && isInsideFolder(url, composing)) {
                            task->pushPhoto(info);
                            pushed = true;
                            self->photoArrived();
                        }
                    });
                    if (pushed) {
                        ++arrived;
                        return;
                    }
                    // Share handed the share this copy was made for to the sender: it moves to
                    // the new one, and so do the copies still to come.
                    if (composing.isEmpty() || !moveDroppedPhoto(info, run->folder(), composing, source))
                        break;
                    run->setFolder(composing);
                }
                removeDroppedPhotoFiles(info, sandboxFolder());
            },
            stopped);
        runOnMainThread([self, run, arrived, promised, offered] {
            if (self)
                self->dropDone(run, arrived, promised, offered);
        });
    });
    if (!started)
        dropDone(run, 0, 0, 0);
}

void PhotoDropView::photoArrived() {
    updateLabelText();
    maintainEmptyState();
    update();
}

void PhotoDropView::dropDone(const std::shared_ptr<DropRun> &run, int arrived, int promised, int offered) {
    endWork();
    m_runs.removeAll(run);
    auto &center = NotificationCenter::defaultCenter();
    if (run->cancel) {
        // Cancel emptied the share itself; nothing of this drop reached it afterwards.
        center.post(QLatin1String(kShareTaskChangedNotification));
        emit dropFinished();
        return;
    }
    const ShareTaskPtr task = ShareTask::singleton();
    m_currentIndex = std::max(0, task->photoCount() - 1);
    center.post(QLatin1String(kShareTaskChangedNotification));
    if (isVisible())
        setFocus(Qt::OtherFocusReason);
    updateCaptionText();
    m_within = underMouse();
    placeDeleteButton();
    center.post(QLatin1String(MainController::kCheckButton));
    // What the drag promised and did not bring is said, once for the whole drop.
    if (arrived < promised)
        LFAlert::alertWithString(localizedFormat(QStringLiteral("[SomeWerePhotos]"),
                                     {QString::number(arrived), QString::number(offered)}),
            this);
    emit dropFinished();
}

void PhotoDropView::dropFileURL(const QString &url) {
    const ShareTaskPtr task = ShareTask::singleton();
    const QString folder = task->path();
    if (url.startsWith(QLatin1String("data:"), Qt::CaseInsensitive)) {
        QString problem;
        const QString file = writeDataUrlImage(url, folder, &problem);
        if (file.isEmpty()) {
            refuseImage(problem);
            return;
        }
        qCInfo(lfUi) << "sharing from embedded web image:" << file;
        dropItems({{file, std::nullopt, false, false}});
        return;
    }
    const QUrl parsed(url);
    if (parsed.scheme() != QLatin1String("http") && parsed.scheme() != QLatin1String("https")) {
        qCInfo(lfUi) << "not a web image:" << parsed.scheme();
        return;
    }
    startDownload(url);
}

void PhotoDropView::startDownload(const QString &url) {
    const QString folder = ShareTask::singleton()->path();
    QString name = webImageFileName(url);
    if (name.isEmpty() || !supportedFile(name))
        name = QStringLiteral("image.jpg");
    if (!makePrivateFolder(folder))
        return;
    const QString file = QDir(folder).filePath(uniqueFileNameAtPath(name, folder));
    // Keep the name taken while the download runs, so a second drop picks another.
    QFile placeholder(file);
    if (!placeholder.open(QIODevice::WriteOnly)) {
        refuseImage(placeholder.errorString());
        return;
    }
    placeholder.close();
    qCInfo(lfUi) << "sharing from web image:" << url << "to" << folder;
    beginWork();
    m_progressText->setText(localizedFormat(QStringLiteral("[Downloading*]"), {name}));
    m_progressText->show();
    placeControls();
    const auto run = std::make_shared<DropRun>();
    m_runs.append(run);
    const QPointer<PhotoDropView> self(this);
    const bool started = Workers::instance().start(QStringLiteral("web image"), [=] {
        qint64 shown = 0;
        const DownloadOutcome outcome = downloadImage(
            url, file, [run] { return run->cancel || Workers::cancelled(); },
            [&shown, self, name](qint64 received) {
                // A word to the window every quarter megabyte is plenty.
                if (received - shown < 256 * 1024)
                    return;
                shown = received;
                runOnMainThread([self, name, received] {
                    if (self)
                        self->m_progressText->setText(localizedFormat(QStringLiteral("[Downloading*]"),
                            {QStringLiteral("%1 (%2)").arg(name, QLocale().formattedDataSize(received))}));
                });
            });
        runOnMainThread([self, run, outcome, file] {
            if (!self) {
                QFile::remove(file);
                return;
            }
            self->endWork();
            self->m_runs.removeAll(run);
            self->m_progressText->hide();
            if (run->cancel) {
                QFile::remove(file);
            } else if (outcome.ok) {
                self->dropItems({{file, std::nullopt, false, false}});
            } else {
                runStandardAlert({localizedString("[ErrorDownloading]"),
                    localizedFormat(QStringLiteral("[ErrorDownloadingText]"), {outcome.description}),
                    {localizedString("[OK]")}, self->window()});
            }
        });
    });
    if (!started) {
        endWork();
        m_runs.removeAll(run);
        QFile::remove(file);
    }
}

void PhotoDropView::refuseImage(const QString &why) {
    qCInfo(lfUi) << "image refused:" << why;
    runStandardAlert({localizedString("[BadDroppedImage]"), why, {localizedString("[OK]")}, window()});
}

void PhotoDropView::dropRawData(const QImage &image) {
    QString problem;
    const QString file = writeRawImage(image, ShareTask::singleton()->path(), &problem);
    if (file.isEmpty()) {
        refuseImage(problem);
        return;
    }
    dropItems({{file, std::nullopt, false, false}});
}

void PhotoDropView::paste() {
    if (const QMimeData *mime = QGuiApplication::clipboard()->mimeData())
        takeMimeData(mime);
}

bool PhotoDropView::takeMimeData(const QMimeData *mime) {
    const std::optional<QString> caption = captionOf(mime);
    const QStringList files = localFiles(mime);
    const int others = webAndDataCount(mime);
    const int promised = m_dragCount >= 0 && m_dragKey == dragKey(mime) ? m_dragCount : quickDragCount(mime);
    const int offered = int(files.size()) + others;
    // Files are judged on the worker (a FIFO among them must not hold the window); they win
    // unless none is named as a photo and the drag has a web image or image data besides.
    const bool photoNamed = std::any_of(files.cbegin(), files.cend(),
        [](const QString &file) { return isPhotoExtension(lowerExtension(file)); });
    if (!files.isEmpty() && (photoNamed || others == 0)) {
        QList<DropItem> items;
        for (const QString &file : files)
            items.append({file, caption, true, false});
        dropItems(items, promised, offered);
        return true;
    }
    const QString web = firstWebUrl(mime);
    if (!web.isEmpty() && isWebPhoto(web)) {
        dropFileURL(web);
        return true;
    }
    if (hasImageData(mime)) {
        dropRawData(imageFromMimeData(mime));
        return true;
    }
    return false;
}

int PhotoDropView::dragCount(const QMimeData *mime) {
    return photoFileCount(localFiles(mime)) + webAndDataCount(mime);
}

int PhotoDropView::quickDragCount(const QMimeData *mime) {
    const QStringList files = localFiles(mime);
    const auto photos = std::count_if(files.cbegin(), files.cend(),
        [](const QString &file) { return isPhotoExtension(lowerExtension(file)); });
    return int(photos) + webAndDataCount(mime);
}

bool PhotoDropView::dragSupported(const QMimeData *mime) {
    if (!m_dropAllowed || !m_dropAllowed())
        return false;
    const QStringList key = dragKey(mime);
    if (key != m_dragKey) {
        // A new drag: its files are checked on a worker, never here on every pointer move.
        m_dragKey = key;
        m_dragCount = -1;
        const QStringList files = localFiles(mime);
        const int others = webAndDataCount(mime);
        const QPointer<PhotoDropView> self(this);
        Workers::instance().start(QStringLiteral("drag check"), [self, files, others, key] {
            const int count = photoFileCount(files) + others;
            runOnMainThread([self, key, count] {
                if (self && self->m_dragKey == key)
                    self->dragCounted(count);
            });
        });
    }
    if (m_dragCount == 0)
        return false;
    const int count = m_dragCount > 0 ? m_dragCount : quickDragCount(mime);
    // A file of no photo name may still hold one: the drag stays welcome until the check says.
    if (count == 0 && localFiles(mime).isEmpty())
        return false;
    showDragLabel(count);
    return true;
}

void PhotoDropView::dragCounted(int count) {
    m_dragCount = count;
    if (!m_dragHovering)
        return;
    if (count == 0)
        endDragHover();
    else
        showDragLabel(count);
}

void PhotoDropView::showDragLabel(int count) {
    if (count <= 0)
        return;
    const QString text = count == 1
        ? localizedString("[DragFile]")
        : localizedFormat(QStringLiteral("[DragFiles]"), {QString::number(count)});
    // On an empty share the label takes the hint's place instead of being drawn over it.
    const ShareTaskPtr task = ShareTask::singletonNA();
    if (!task || !task->hasPhotos()) {
        m_emptyHint->setText(text);
        m_pageLabel->hide();
        maintainEmptyState();
    } else {
        m_pageLabel->setText(text);
        m_pageLabel->show();
    }
}

void PhotoDropView::dragEnterEvent(QDragEnterEvent *event) {
    if (!dragSupported(event->mimeData()))
        return event->ignore();
    event->setDropAction(Qt::CopyAction);
    event->accept();
    m_dragHovering = true;
    update();
}

void PhotoDropView::dragMoveEvent(QDragMoveEvent *event) {
    if (!dragSupported(event->mimeData())) {
        endDragHover();
        return event->ignore();
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void PhotoDropView::dragLeaveEvent(QDragLeaveEvent *) {
    endDragHover();
    // The files may change before they are dragged here again.
    m_dragKey.clear();
    m_dragCount = -1;
}

void PhotoDropView::dropEvent(QDropEvent *event) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
    endDragHover();
    if (m_dropAllowed && m_dropAllowed())
        takeMimeData(event->mimeData());
    m_dragKey.clear();
    m_dragCount = -1;
}

void PhotoDropView::endDragHover() {
    m_dragHovering = false;
    m_emptyHint->setText(localizedString("[1xUXDrop~]"));
    updateLabelText();
    maintainEmptyState();
    update();
}

void PhotoDropView::beginWork() {
    if (m_busy++ == 0) {
        m_progress->show();
        placeControls();
    }
}

void PhotoDropView::endWork() {
    if (m_busy > 0 && --m_busy == 0)
        m_progress->hide();
}

void PhotoDropView::photoLibraryClick(const QVariantMap &info) {
    const QString path = info.value(QStringLiteral("url")).toString();
    const QVariant caption = info.value(QStringLiteral("caption"));
    const ShareTaskPtr task = ShareTask::singleton();
    const bool onItsWay = std::any_of(m_runs.cbegin(), m_runs.cend(),
        [&path](const std::shared_ptr<DropRun> &run) { return run->sources.contains(path); });
    if (task->hasThisPhoto(path)) {
        task->deleteThisPhoto(path);
        deleteDone();
    } else if (onItsWay) {
        // A second click while the first one's photo is still coming adds it no second time.
        qCInfo(lfUi) << "already on its way:" << path;
    } else if (!path.isEmpty()) {
        dropFiles({path}, caption.isValid() ? std::optional<QString>(caption.toString()) : std::nullopt);
    }
}

// ---- showing the photos ----

void PhotoDropView::jumpToImage(int index, bool setup) {
    const ShareTaskPtr task = ShareTask::singletonNA();
    const int count = task ? task->photoCount() : 0;
    m_previousButton->setEnabled(count > 0 && index > 0);
    m_nextButton->setEnabled(count > 0 && index < count - 1);
    const int step = index - m_currentIndex;
    m_currentIndex = count == 0 ? index : std::clamp(index, 0, count - 1);
    if (count > 0 && !setup && (step == 1 || step == -1)) {
        // The photo that was in the centre starts one place to the side and everything slides.
        m_flow->stop();
        m_flow->setStartValue(qreal(step));
        m_flow->setEndValue(0.0);
        m_flow->start();
    } else if (setup) {
        m_flow->stop();
        m_flowOffset = 0;
    }
    // Thumbnails of photos gone from the task are let go.
    if (task) {
        QSet<QString> urls;
        for (const PhotoInfo &info : task->photoInfos())
            urls.insert(info.value(QLatin1String(kPhotoUrl)).toString());
        m_thumbs.removeIf([&urls](const auto &it) { return !urls.contains(it.key()); });
    }
    placeDeleteButton();
    updateLabelText();
    updateCaptionText();
    update();
}

void PhotoDropView::moveLeft() {
    if (m_previousButton->isEnabled())
        jumpToImage(m_currentIndex - 1, false);
}

void PhotoDropView::moveRight() {
    if (m_nextButton->isEnabled())
        jumpToImage(m_currentIndex + 1, false);
}

void PhotoDropView::updateLabelText() {
    if (m_dragHovering)
        return;
    const ShareTaskPtr task = ShareTask::singletonNA();
    const int count = task ? task->photoCount() : 0;
    m_pageLabel->setText(localizedFormat(
        QStringLiteral("[iofn]"), {QString::number(count ? m_currentIndex + 1 : 0), QString::number(count)}));
    m_pageLabel->setVisible(count > 0);
    m_previousButton->setVisible(count > 0);
    m_nextButton->setVisible(count > 0);
    m_previousButton->setEnabled(count > 0 && m_currentIndex > 0);
    m_nextButton->setEnabled(count > 0 && m_currentIndex < count - 1);
}

QString PhotoDropView::pageLabelText() const {
    return m_pageLabel->text();
}

QString PhotoDropView::emptyHintText() const {
    return m_emptyHint->text();
}

bool PhotoDropView::pageLabelVisible() const {
    return !m_pageLabel->isHidden();
}

void PhotoDropView::updateCaptionText() {
    const ShareTaskPtr task = ShareTask::singletonNA();
    const bool hasPhotos = task && m_currentIndex < task->photoCount();
    QString text;
    if (hasPhotos) {
        const QVariant caption = task->photoInfo(m_currentIndex).value(QLatin1String(kPhotoCaption));
        if (caption.isValid() && caption.typeId() != QMetaType::QString)
            qCInfo(lfUi) << QStringLiteral("the caption was of class %1, %2")
                                .arg(caption.typeName(), caption.toString());
        else
            text = caption.toString();
    }
    m_settingCaption = true;
    m_captionField->setText(text);
    m_settingCaption = false;
    m_captionField->setReadOnly(!hasPhotos);
    // An empty share has nothing to caption: no invitation to type.
    m_captionField->setPlaceholderText(hasPhotos ? localizedString("[TypeCaption]") : QString());
    m_captionField->setFocusPolicy(hasPhotos ? Qt::StrongFocus : Qt::NoFocus);
    // Selected to be typed over, but only where the typing goes: a selection drawn in a field
    // without the focus reads as something chosen.
    if (!text.isEmpty() && (m_captionField->hasFocus() || window()->focusWidget() == m_captionField))
        m_captionField->selectAll();
    else
        m_captionField->deselect();
}

void PhotoDropView::captionEdited(const QString &text) {
    const ShareTaskPtr task = ShareTask::singletonNA();
    if (m_settingCaption || !task || m_currentIndex >= task->photoCount())
        return;
    task->setPhotoValue(m_currentIndex, QLatin1String(kPhotoCaption), text.left(kMaxCaptionLength));
}

void PhotoDropView::deleteClicked() {
    const ShareTaskPtr task = ShareTask::singletonNA();
    if (!task || !task->hasPhotos())
        return;
    task->deletePhoto(m_currentIndex);
    deleteDone();
}

void PhotoDropView::deleteDone() {
    const ShareTaskPtr task = ShareTask::singletonNA();
    const int count = task ? task->photoCount() : 0;
    if (m_currentIndex >= count)
        m_currentIndex = std::max(0, count - 1);
    updateLabelText();
    NotificationCenter::defaultCenter().post(QLatin1String(kShareTaskChangedNotification));
    placeDeleteButton();
    maintainEmptyState();
}

void PhotoDropView::maintainEmptyState() {
    const ShareTaskPtr task = ShareTask::singletonNA();
    const bool empty = !task || !task->hasPhotos();
    m_emptyState->setVisible(empty);
    if (empty) {
        const QSize hint = m_emptyState->sizeHint().boundedTo(QSize(width() - 2 * kMargin, height()));
        const QRectF area = flowArea();
        // At 40 % of the height, but never cut off at the top in a short window.
        const qreal top = std::max<qreal>(kMargin, area.top() + area.height() * 0.4 - hint.height() / 2.0);
        m_emptyState->setGeometry(
            int(area.center().x() - hint.width() / 2.0), int(top), hint.width(), hint.height());
    }
}

void PhotoDropView::placeDeleteButton() {
    const ShareTaskPtr task = ShareTask::singletonNA();
    if (!m_within || !task || !task->hasPhotos()) {
        m_deleteButton->hide();
        return;
    }
    const QRectF photo = photoRect(0, thumbFor(m_currentIndex).size());
    const QSize size = m_deleteButton->sizeHint();
    m_deleteButton->setGeometry(int(photo.right() - size.width() / 2.0),
        int(photo.top() - size.height() / 2.0), size.width(), size.height());
    m_deleteButton->show();
    m_deleteButton->raise();
}

void PhotoDropView::placeControls() {
    const QRectF area = flowArea();
    const int middle = int(area.center().y());
    m_previousButton->move(kMargin / 2, middle - m_previousButton->height() / 2);
    m_nextButton->move(width() - kMargin / 2 - m_nextButton->width(), middle - m_nextButton->height() / 2);
    const int labelTop = int(area.bottom()) + 4;
    m_pageLabel->setGeometry(kMargin, labelTop, width() - 2 * kMargin, 20);
    const int captionWidth = std::min(width() - 2 * kMargin - 80, 520);
    m_captionField->setGeometry((width() - captionWidth) / 2, labelTop + 24, captionWidth, 28);
    const QSize lib = m_photoLibButton->sizeHint();
    m_photoLibButton->setGeometry(
        kMargin / 2, height() - lib.height() - kMargin / 2, lib.width(), lib.height());
    m_progress->move(width() - kMargin - m_progress->width(), kMargin);
    m_progressText->adjustSize();
    m_progressText->move(
        m_progress->x() - m_progressText->width() - 8, kMargin - m_progressText->height() / 2 + 3);
}

void PhotoDropView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    placeControls();
    placeDeleteButton();
    maintainEmptyState();
}

QRectF PhotoDropView::flowArea() const {
    return QRectF(
        kMargin + 32, kMargin + 6, width() - 2 * (kMargin + 32), height() - 2 * kMargin - kControlsHeight);
}

QRectF PhotoDropView::photoRect(qreal offset, const QSizeF &imageSize) const {
    const QRectF area = flowArea();
    const QSizeF image = imageSize.isEmpty() ? QSizeF(4, 3) : imageSize;
    // The centre photo fills most of the height; its neighbours are smaller and further out.
    const qreal distance = std::min(std::abs(offset), 2.0);
    const qreal scale = 1.0 - 0.42 * std::min(distance, 1.0) - 0.2 * std::max(distance - 1.0, 0.0);
    const QSizeF box(area.width() * 0.56, area.height() * 0.94);
    const QSizeF size = image.scaled(box * scale, Qt::KeepAspectRatio);
    const qreal reach = area.width() * 0.36;
    const qreal x = area.center().x()
        + (offset < 0 ? -1 : 1) * reach * (std::min(distance, 1.0) + 0.4 * std::max(distance - 1.0, 0.0));
    return QRectF(x - size.width() / 2, area.center().y() - size.height() / 2, size.width(), size.height());
}

QImage PhotoDropView::thumbFor(int index) const {
    const ShareTaskPtr task = ShareTask::singletonNA();
    if (!task || index < 0 || index >= task->photoCount())
        return {};
    const PhotoInfo info = task->photoInfo(index);
    const QString url = info.value(QLatin1String(kPhotoUrl)).toString();
    auto it = m_thumbs.constFind(url);
    if (it != m_thumbs.constEnd())
        return *it;
    const QImage image = thumbImage(info);
    m_thumbs.insert(url, image);
    return image;
}

void PhotoDropView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath panel;
    panel.addRoundedRect(box, 10, 10);
    // The theme's dark bar colour, darkening downwards: the photos stand out on it.
    const QColor top = LFTheme::navBarColor();
    painter.fillPath(panel,
        LFGradient {top, colorByDarkening(colorByDarkening(top))}.linear(box.topLeft(), box.bottomLeft()));
    if (m_dragHovering) {
        painter.setPen(QPen(LFTheme::hilightColor(), 3));
        painter.drawPath(panel);
    }

    const ShareTaskPtr task = ShareTask::singletonNA();
    const int count = task ? task->photoCount() : 0;
    if (count == 0)
        return;
    // Far photos first, so that nearer ones cover them; the centre last.
    QList<qreal> order;
    for (int i = m_currentIndex - 2; i <= m_currentIndex + 2; ++i) {
        if (i >= 0 && i < count)
            order.append(i - m_currentIndex + m_flowOffset);
    }
    std::sort(order.begin(), order.end(), [](qreal a, qreal b) { return std::abs(a) > std::abs(b); });
    for (const qreal offset : std::as_const(order)) {
        if (std::abs(offset) >= 1.999)
            continue;
        const int index = m_currentIndex + int(std::lround(offset - m_flowOffset));
        const QImage image = thumbFor(index);
        const QRectF target = photoRect(offset, image.size());
        painter.save();
        // Side photos turn towards the centre.
        QTransform turn;
        turn.translate(target.center().x(), target.center().y());
        turn.rotate(-32 * std::clamp(offset, -1.0, 1.0), Qt::YAxis);
        turn.translate(-target.center().x(), -target.center().y());
        painter.setTransform(turn);
        const qreal distance = std::abs(offset);
        painter.setOpacity(std::clamp(
            1.0 - 0.35 * std::min(distance, 1.0) - 0.65 * std::max(distance - 1.0, 0.0), 0.0, 1.0));
        for (int ring = 6; ring > 0; ring -= 2) {
            QPainterPath shadow;
            shadow.addRoundedRect(target.adjusted(-ring, -ring + 4, ring, ring + 4), ring + 2, ring + 2);
            painter.fillPath(shadow, QColor(0, 0, 0, 22));
        }
        if (image.isNull())
            painter.fillRect(target, LFTheme::tableHoverColor());
        else
            painter.drawImage(target, image);
        painter.restore();
    }
}

// ---- input ----

void PhotoDropView::keyPressEvent(QKeyEvent *event) {
    if (event->matches(QKeySequence::Paste)) {
        paste();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Left:
        moveLeft();
        return;
    case Qt::Key_Right:
        moveRight();
        return;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        deleteClicked();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void PhotoDropView::mousePressEvent(QMouseEvent *event) {
    setFocus(Qt::MouseFocusReason);
    const QPointF at = event->position();
    const QRectF area = flowArea();
    if (area.contains(at)) {
        const QRectF centre = photoRect(0, thumbFor(m_currentIndex).size());
        if (at.x() < centre.left())
            moveLeft();
        else if (at.x() > centre.right())
            moveRight();
    }
    QWidget::mousePressEvent(event);
}

void PhotoDropView::wheelEvent(QWheelEvent *event) {
    // A sideways swipe on a touchpad arrives as horizontal scrolling.
    const int dx = event->angleDelta().x();
    if (dx == 0)
        return QWidget::wheelEvent(event);
    m_wheelDelta += dx;
    if (std::abs(m_wheelDelta) >= 120) {
        if (m_wheelDelta > 0)
            moveLeft();
        else
            moveRight();
        m_wheelDelta = 0;
    }
    event->accept();
}

void PhotoDropView::enterEvent(QEnterEvent *event) {
    m_within = true;
    placeDeleteButton();
    QWidget::enterEvent(event);
}

void PhotoDropView::leaveEvent(QEvent *event) {
    m_within = false;
    placeDeleteButton();
    QWidget::leaveEvent(event);
}

void PhotoDropView::contextMenuEvent(QContextMenuEvent *event) {
    QMenu menu(this);
    QAction *pasteAction
        = menu.addAction(QIcon::fromTheme(QStringLiteral("edit-paste")), localizedString("[PasteMenu]"));
    pasteAction->setShortcut(QKeySequence::Paste);
    const QMimeData *clip = QGuiApplication::clipboard()->mimeData();
    // Judged by the names: the menu opens on the main thread, which reads no file.
    pasteAction->setEnabled(clip && (quickDragCount(clip) > 0 || !localFiles(clip).isEmpty()));
    QAction *remove
        = menu.addAction(QIcon::fromTheme(QStringLiteral("edit-delete")), localizedString("[DeletePhoto]"));
    const ShareTaskPtr task = ShareTask::singletonNA();
    remove->setEnabled(task && task->hasPhotos());
    QAction *chosen = menu.exec(event->globalPos());
    if (chosen == pasteAction)
        paste();
    else if (chosen == remove)
        deleteClicked();
}

} // namespace lf
