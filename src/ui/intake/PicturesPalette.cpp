#include "intake/PicturesPalette.h"

#include "intake/PhotoDropView.h"
#include "intake/ThumbnailCache.h"

#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "sending/ShareTaskManager.h"
#include "share/PhotoPrep.h"
#include "share/ShareTask.h"
#include "toolkit/Artwork.h"

#include <QDirIterator>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QPainter>
#include <QSlider>
#include <QStandardPaths>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace lf {

namespace {

constexpr int kPaletteWidth = 300;

// Tiles draw their photo centred in the cell with the name under it, and a check mark on the
// photos already in the share.
class TileDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(
        QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        painter->save();
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        const QRect cell = option.rect.adjusted(2, 2, -2, -2);
        if (option.state & QStyle::State_HasFocus || option.state & QStyle::State_MouseOver)
            painter->fillRect(cell, option.palette.color(QPalette::Highlight).lighter(170));
        const QRect picture = cell.adjusted(4, 4, -4, -4 - 16);
        const QImage image = index.data(Qt::DecorationRole).value<QImage>();
        if (!image.isNull()) {
            const QSize size = image.size().scaled(picture.size(), Qt::KeepAspectRatio);
            const QRect target(picture.center() - QPoint(size.width() / 2, size.height() / 2), size);
            painter->drawImage(target, image);
        } else {
            painter->fillRect(picture.adjusted(picture.width() / 6, picture.height() / 6,
                                  -picture.width() / 6, -picture.height() / 6),
                option.palette.color(QPalette::Midlight));
        }
        QFont small = option.font;
        small.setPointSizeF(std::max(7.0, small.pointSizeF() - 1));
        painter->setFont(small);
        painter->setPen(option.palette.color(QPalette::Text));
        const QString name = painter->fontMetrics().elidedText(
            index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, cell.width());
        painter->drawText(QRect(cell.left(), cell.bottom() - 16, cell.width(), 16), Qt::AlignCenter, name);
        const ShareTaskPtr task = ShareTask::singletonNA();
        if (task && task->hasThisPhoto(index.data(PhotoTileModel::kPathRole).toString())) {
            const QPixmap check = Artwork::pixmap(QStringLiteral("check"));
            const QSizeF size = check.deviceIndependentSize();
            painter->drawPixmap(
                QPointF(picture.right() - size.width(), picture.bottom() - size.height()), check);
        }
        painter->restore();
    }

    // The cell the slider chose.
    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override {
        const auto *view = qobject_cast<const QListView *>(parent());
        return view ? view->gridSize() : QSize(96, 112);
    }
};

} // namespace

QStringList PhotoTileModel::mimeTypes() const {
    return {QStringLiteral("text/uri-list")};
}

QMimeData *PhotoTileModel::mimeData(const QModelIndexList &indexes) const {
    auto *mime = new QMimeData;
    QList<QUrl> urls;
    for (const QModelIndex &index : indexes)
        urls.append(QUrl::fromLocalFile(index.data(kPathRole).toString()));
    mime->setUrls(urls);
    return mime;
}

// What the palette shares with its thumbnail thread, which may outlive it.
struct PicturesPalette::LoadState {
    std::atomic<bool> stop {false};
};

PicturesPalette::PicturesPalette(QWidget *window, const QString &folder)
    : QWidget(window, Qt::Tool)
    , m_window(window)
    , m_folder(folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) : folder)
    , m_model(new PhotoTileModel(this))
    , m_load(std::make_shared<LoadState>()) {
    build();
    if (m_window)
        m_window->installEventFilter(this);
    auto &center = NotificationCenter::defaultCenter();
    const auto redraw = [this](const Notification &) { m_grid->viewport()->update(); };
    center.addObserver(this, QLatin1String(kSelectedPhotosChangedNotification), redraw);
    center.addObserver(this, QLatin1String(kShareTaskChangedNotification), redraw);
    load();
}

PicturesPalette::~PicturesPalette() {
    m_load->stop = true;
}

void PicturesPalette::build() {
    setObjectName(QStringLiteral("PicturesPalette"));
    setWindowTitle(localizedString("[PicturesPalette]"));
    setAccessibleName(localizedString("[PicturesPalette]"));
    resize(kPaletteWidth, m_window ? m_window->height() : 520);
    setMinimumWidth(220);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(6);
    auto *title = new QLabel(this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setText(QFileInfo(m_folder).fileName());
    title->setToolTip(m_folder);
    title->setAccessibleName(localizedString("[PicturesFolder]"));
    column->addWidget(title);

    m_grid = new QListView(this);
    m_grid->setObjectName(QStringLiteral("photoGrid"));
    m_grid->setAccessibleName(localizedString("[PhotoGrid]"));
    m_grid->setViewMode(QListView::IconMode);
    m_grid->setResizeMode(QListView::Adjust);
    m_grid->setMovement(QListView::Static);
    m_grid->setUniformItemSizes(true);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setDragEnabled(true);
    m_grid->setDragDropMode(QAbstractItemView::DragOnly);
    m_grid->setDefaultDropAction(Qt::CopyAction);
    m_grid->setMouseTracking(true);
    m_grid->setItemDelegate(new TileDelegate(m_grid));
    m_grid->setModel(m_model);
    m_grid->installEventFilter(this);

    connect(
        m_grid, &QListView::clicked, this, [this](const QModelIndex &index) { activateRow(index.row()); });
    column->addWidget(m_grid, 1);

    auto *footer = new QHBoxLayout;
    m_countLabel = new QLabel(this);
    footer->addWidget(m_countLabel, 1);
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setAccessibleName(localizedString("[ThumbnailSize]"));
    m_slider->setToolTip(m_slider->accessibleName());
    m_slider->setRange(0, 100);
    m_slider->setFixedWidth(110);
    m_slider->setValue(int(std::lround(Prefs::floatPrefForKey(QLatin1String(kSliderPref), 0.5) * 100)));
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        Prefs::setFloatPref(value / 100.0, QLatin1String(kSliderPref));
        applyCellSize();
    });
    footer->addWidget(m_slider);
    column->addLayout(footer);
    applyCellSize();
}

int PicturesPalette::cellSize(double value) const {
    // Room for a scroll bar is kept either way, so that one appearing does not resize the cells.
    const int inside = m_grid->width() - 2 * m_grid->frameWidth()
        - m_grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_grid);
    const double width = std::max(80, inside) - 32.0;
    const double p = value * value;
    return int(width / 5 * (1 - p) + width * p);
}

void PicturesPalette::applyCellSize() {
    const int edge = std::max(48, cellSize(m_slider->value() / 100.0));
    m_grid->setGridSize(QSize(edge, edge + 16));
    m_grid->setIconSize(QSize(edge, edge));
}

void PicturesPalette::load() {
    m_load->stop = true;
    m_load = std::make_shared<LoadState>();
    m_model->clear();
    // The listing is quick next to the thumbnails, and keeps the grid's order stable.
    QList<QFileInfo> files;
    QDirIterator it(m_folder, QDir::Files | QDir::Readable, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (supportedFile(info.filePath()) && !info.fileName().startsWith(QLatin1Char('.')))
            files.append(info);
    }
    std::sort(files.begin(), files.end(),
        [](const QFileInfo &a, const QFileInfo &b) { return a.lastModified() > b.lastModified(); });
    if (files.size() > kMaxPhotos)
        files.resize(kMaxPhotos);
    QStringList paths;
    for (const QFileInfo &info : std::as_const(files)) {
        auto *item = new QStandardItem(info.fileName());
        item->setData(info.filePath(), PhotoTileModel::kPathRole);
        item->setToolTip(info.filePath());
        item->setEditable(false);
        item->setDragEnabled(true);
        m_model->appendRow(item);
        paths.append(info.filePath());
    }
    m_countLabel->setText(localizedFormat(QStringLiteral("[nImages]"),
        {QString::number(paths.size()), paths.size() == 1 ? QString() : QStringLiteral("s")}));
    m_pending = int(paths.size());
    if (paths.isEmpty())
        return;
    const std::shared_ptr<LoadState> state = m_load;
    const QPointer<PicturesPalette> self(this);
    Workers::instance().start(QStringLiteral("pictures thumbnails"), [state, self, paths] {
        for (int row = 0; row < paths.size(); ++row) {
            if (state->stop || Workers::cancelled())
                return;
            const QImage image = ThumbnailCache::thumbnail(paths.at(row), ThumbnailCache::Size::Large);
            runOnMainThread([self, state, row, image] {
                if (!self || state->stop)
                    return;
                if (QStandardItem *item = self->m_model->item(row))
                    item->setData(image, Qt::DecorationRole);
                --self->m_pending;
            });
        }
    });
}

QImage PicturesPalette::thumbnailAt(int row) const {
    const QStandardItem *item = m_model->item(row);
    return item ? item->data(Qt::DecorationRole).value<QImage>() : QImage();
}

void PicturesPalette::activateRow(int row) {
    const QStandardItem *item = m_model->item(row);
    if (!item)
        return;
    // No caption: a photo from a folder keeps the one it carries, not its file name.
    NotificationCenter::defaultCenter().post(QLatin1String(PhotoDropView::kPhotoLibraryClick),
        QVariantMap {{QStringLiteral("url"), item->data(PhotoTileModel::kPathRole).toString()}});
    m_grid->clearSelection();
}

void PicturesPalette::open() {
    follow();
    show();
    raise();
}

void PicturesPalette::close() {
    hide();
}

void PicturesPalette::follow() {
    if (!m_window)
        return;
    const QRect frame = m_window->frameGeometry();
    setGeometry(frame.right() + 1, m_window->geometry().top(), width(), m_window->geometry().height());
}

bool PicturesPalette::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_window && (event->type() == QEvent::Move || event->type() == QEvent::Resize)
        && isVisible())
        follow();
    // The cells follow the grid's own width, known only once it is laid out.
    if (watched == m_grid && event->type() == QEvent::Resize)
        applyCellSize();
    if (watched == m_grid && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)
            && m_grid->currentIndex().isValid()) {
            activateRow(m_grid->currentIndex().row());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace lf
