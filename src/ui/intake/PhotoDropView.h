#pragma once

#include "shell/ShellAreas.h"

#include <QHash>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QMimeData;
class QProgressBar;
class QToolButton;
class QVariantAnimation;

namespace lf {

class LFIconButton;
class MainController;

// The photos of the current share, one at a time with its neighbours at the sides, and the place
// where new photos come in: dropped or pasted files, web images, "data:" URLs and image data.
// Files are copied into the share-set folder and turned into photos on a worker thread, so the
// window keeps answering while hundreds of large photos arrive.
class PhotoDropView : public QWidget, public PhotoDropArea {
    Q_OBJECT
public:
    static constexpr int kPreviousTag = 2000;
    static constexpr int kNextTag = 2001;
    static constexpr int kMaxCaptionLength = 255;
    // Posted by the photo libraries when a photo is clicked: {"url": path, "caption"}.
    static constexpr const char *kPhotoLibraryClick = "photoLibraryClick";
    // A promised file that has not appeared after this long is given up.
    static constexpr int kPromiseTimeoutMs = 30000;

    // One thing to take in: a file, its caption (none: the photo's own), whether it is copied
    // into the share-set folder or already lies there, and whether it may still be on its way.
    struct DropItem {
        QString file;
        std::optional<QString> caption;
        bool copy = true;
        bool promised = false;
    };

    explicit PhotoDropView(QWidget *parent = nullptr);
    ~PhotoDropView() override;

    // Puts a drop view in the main window's photo place and the Pictures browser behind its
    // palette button.
    static PhotoDropView *install(MainController *controller);

    QWidget *widget() override { return this; }
    void dropFiles(const QStringList &paths) override;
    void dropFileURL(const QString &url) override;
    void updatePhotos() override { jumpToImage(0, true); }
    void updateLabelText() override;
    void updateCaptionText() override;

    void dropFiles(const QStringList &paths, const std::optional<QString> &caption);
    // Takes the items in on every core, each photo into the share being composed when it is
    // ready (after Share, the new one). `promised`: the photos the drag said it brings (-1: one
    // per item); `offered`: the items it carried. Fewer arriving than promised is told in a
    // balloon.
    void dropItems(const QList<DropItem> &items, int promised = -1, int offered = -1);
    // Takes in what a drop or the clipboard holds; false when it held nothing usable.
    bool takeMimeData(const QMimeData *mime);
    void dropRawData(const QImage &image);
    void paste();
    void jumpToImage(int index, bool setup);
    void moveLeft();
    void moveRight();
    void deleteClicked();

    // Photos a drag would bring: 0 refuses it. Reads the files' headers: not for the main thread.
    static int dragCount(const QMimeData *mime);
    // The same from the names alone, at once; a file of an unknown type may still be a photo.
    static int quickDragCount(const QMimeData *mime);
    // Whether the count of the drag over the view is known (it is worked out on a worker).
    bool dragCountKnown() const { return m_dragCount >= 0; }
    // Whether drops are taken now; by default, while the user is signed in.
    void setDropAllowed(std::function<bool()> allowed) { m_dropAllowed = std::move(allowed); }

    int currentPhotoIndex() const { return m_currentIndex; }
    QString pageLabelText() const;
    // The empty share's hint, which shows a drag's count while one is over it.
    QString emptyHintText() const;
    bool pageLabelVisible() const;
    bool dragHovering() const { return m_dragHovering; }
    // Drops or downloads still under way.
    bool busy() const { return m_busy > 0; }
    QLineEdit *captionField() const { return m_captionField; }
    QToolButton *previousButton() const { return m_previousButton; }
    QToolButton *nextButton() const { return m_nextButton; }
    LFIconButton *deleteButton() const { return m_deleteButton; }
    QWidget *emptyStateView() const { return m_emptyState; }

signals:
    // A drop finished: photos were added, or a cancelled drop was cleared away.
    void dropFinished();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    struct DropRun;

    void build();
    void observe();
    bool dragSupported(const QMimeData *mime);
    void showDragLabel(int count);
    void dragCounted(int count);
    void photoArrived();
    void dropDone(const std::shared_ptr<DropRun> &run, int arrived, int promised, int offered);
    void endDragHover();
    void beginWork();
    void endWork();
    void deleteDone();
    void maintainEmptyState();
    void placeDeleteButton();
    void placeControls();
    void captionEdited(const QString &text);
    void photoLibraryClick(const QVariantMap &info);
    void startDownload(const QString &url);
    void refuseImage(const QString &why);
    // Where the photo `offset` places from the shown one is drawn; offset 0 is the centre.
    QRectF photoRect(qreal offset, const QSizeF &imageSize) const;
    QRectF flowArea() const;
    QImage thumbFor(int index) const;

    QToolButton *m_previousButton = nullptr;
    QToolButton *m_nextButton = nullptr;
    LFIconButton *m_deleteButton = nullptr;
    LFIconButton *m_photoLibButton = nullptr;
    QLabel *m_pageLabel = nullptr;
    QLineEdit *m_captionField = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_progressText = nullptr;
    QWidget *m_emptyState = nullptr;
    QLabel *m_emptyHint = nullptr;
    QVariantAnimation *m_flow = nullptr;
    // Drops and downloads under way; Cancel stops these, not the ones after it.
    QList<std::shared_ptr<DropRun>> m_runs;
    // The drag over the view: what it carries, and its photo count once known (-1 before).
    QStringList m_dragKey;
    int m_dragCount = -1;
    std::function<bool()> m_dropAllowed;
    mutable QHash<QString, QImage> m_thumbs;
    int m_currentIndex = 0;
    // The animation's start: the photo that was in the centre, -1 or +1 places away.
    qreal m_flowOffset = 0;
    int m_busy = 0;
    int m_wheelDelta = 0;
    bool m_dragHovering = false;
    bool m_within = false;
    bool m_paletteOpen = false;
    bool m_settingCaption = false;
};

} // namespace lf
