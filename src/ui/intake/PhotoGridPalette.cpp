#include "intake/PhotoGridPalette.h"

#include "intake/PhotoDropView.h"
#include "intake/ThumbnailCache.h"

#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "sending/ShareTaskManager.h"
#include "share/ShareTask.h"
#include "toolkit/Artwork.h"

#include <QEvent>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
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
    // A tile's caption travels with it, as a click would hand it on.
    if (indexes.size() == 1) {
        const QVariant caption = indexes.first().data(kCaptionRole);
        if (caption.isValid())
            mime->setText(QStringLiteral("caption:") + caption.toString());
    }
    return mime;
}

// What the palette shares with its thumbnail thread, which may outlive it.
struct PhotoGridPalette::LoadState {
    std::atomic<bool> stop {false};
};

PhotoGridPalette::PhotoGridPalette(QWidget *window, const QString &name, const QString &gridName, int width)
    : QWidget(window, Qt::Tool)
    , m_window(window)
    , m_model(new PhotoTileModel(this))
    , m_load(std::make_shared<LoadState>()) {
    setWindowTitle(name);
    setAccessibleName(name);
    resize(width, m_window ? m_window->height() : 520);
    setMinimumWidth(220);

    m_row = new QHBoxLayout(this);
    m_row->setContentsMargins(8, 8, 8, 8);
    m_row->setSpacing(8);
    m_column = new QVBoxLayout;
    m_column->setSpacing(6);
    m_row->addLayout(m_column, 1);

    m_grid = new QListView(this);
    m_grid->setObjectName(QStringLiteral("photoGrid"));
    m_grid->setAccessibleName(gridName);
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
    m_column->addWidget(m_grid, 1);

    m_emptyLabel = new QLabel(m_grid->viewport());
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_emptyLabel->setWordWrap(true);
    m_emptyLabel->setForegroundRole(QPalette::PlaceholderText);
    m_emptyLabel->hide();

    auto *footer = new QHBoxLayout;
    m_countLabel = new QLabel(this);
    m_countLabel->setObjectName(QStringLiteral("countLabel"));
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
    m_column->addLayout(footer);
    applyCellSize();

    if (m_window)
        m_window->installEventFilter(this);
    auto &center = NotificationCenter::defaultCenter();
    const auto redraw = [this](const Notification &) { m_grid->viewport()->update(); };
    center.addObserver(this, QLatin1String(kSelectedPhotosChangedNotification), redraw);
    center.addObserver(this, QLatin1String(kShareTaskChangedNotification), redraw);
}

PhotoGridPalette::~PhotoGridPalette() {
    m_load->stop = true;
}

int PhotoGridPalette::contentWidth() const {
    // Room for a scroll bar is kept either way, so that one appearing does not resize the cells.
    const int inside = m_grid->width() - 2 * m_grid->frameWidth()
        - m_grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_grid);
    return std::max(80, inside);
}

int PhotoGridPalette::cellSize(double value) const {
    const double width = contentWidth() - 32.0;
    const double p = value * value;
    return int(width / 5 * (1 - p) + width * p);
}

void PhotoGridPalette::applyCellSize() {
    const int edge = std::max(48, cellSize(m_slider->value() / 100.0));
    m_grid->setGridSize(QSize(edge, edge + 16));
    m_grid->setIconSize(QSize(edge, edge));
}

void PhotoGridPalette::showTiles(const QList<Tile> &tiles, const QString &empty) {
    m_load->stop = true;
    m_load = std::make_shared<LoadState>();
    m_model->clear();
    for (const Tile &tile : tiles) {
        auto *item = new QStandardItem(tile.name);
        item->setData(tile.path, PhotoTileModel::kPathRole);
        if (tile.caption)
            item->setData(*tile.caption, PhotoTileModel::kCaptionRole);
        item->setToolTip(tile.caption.value_or(tile.path));
        item->setEditable(false);
        item->setDragEnabled(true);
        m_model->appendRow(item);
    }
    m_countLabel->setText(localizedFormat(QStringLiteral("[nImages]"),
        {QString::number(tiles.size()), tiles.size() == 1 ? QString() : QStringLiteral("s")}));
    m_emptyLabel->setText(empty);
    m_emptyLabel->setVisible(tiles.isEmpty() && !empty.isEmpty());
    m_emptyLabel->setGeometry(m_grid->viewport()->rect());
    m_pending = int(tiles.size());
    if (tiles.isEmpty())
        return;
    const std::shared_ptr<LoadState> state = m_load;
    const QPointer<PhotoGridPalette> self(this);
    Workers::instance().start(QStringLiteral("palette thumbnails"), [state, self, tiles] {
        for (int row = 0; row < tiles.size(); ++row) {
            if (state->stop || Workers::cancelled())
                return;
            const Tile &tile = tiles.at(row);
            QImage image;
            if (!tile.thumbPath.isEmpty())
                image = QImageReader(tile.thumbPath).read();
            if (image.isNull())
                image = ThumbnailCache::thumbnail(tile.path, ThumbnailCache::Size::Large);
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

QImage PhotoGridPalette::thumbnailAt(int row) const {
    const QStandardItem *item = m_model->item(row);
    return item ? item->data(Qt::DecorationRole).value<QImage>() : QImage();
}

QString PhotoGridPalette::pathAt(int row) const {
    const QStandardItem *item = m_model->item(row);
    return item ? item->data(PhotoTileModel::kPathRole).toString() : QString();
}

void PhotoGridPalette::activateRow(int row) {
    const QStandardItem *item = m_model->item(row);
    if (!item)
        return;
    QVariantMap info {{QStringLiteral("url"), item->data(PhotoTileModel::kPathRole).toString()}};
    const QVariant caption = item->data(PhotoTileModel::kCaptionRole);
    if (caption.isValid())
        info.insert(QStringLiteral("caption"), caption.toString());
    NotificationCenter::defaultCenter().post(QLatin1String(PhotoDropView::kPhotoLibraryClick), info);
    m_grid->clearSelection();
}

void PhotoGridPalette::open() {
    follow();
    show();
    raise();
}

void PhotoGridPalette::close() {
    hide();
}

void PhotoGridPalette::follow() {
    if (!m_window)
        return;
    const QRect frame = m_window->frameGeometry();
    setGeometry(frame.right() + 1, m_window->geometry().top(), width(), m_window->geometry().height());
}

bool PhotoGridPalette::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_window && (event->type() == QEvent::Move || event->type() == QEvent::Resize)
        && isVisible())
        follow();
    // The cells follow the grid's own width, known only once it is laid out.
    if (watched == m_grid && event->type() == QEvent::Resize) {
        applyCellSize();
        m_emptyLabel->setGeometry(m_grid->viewport()->rect());
    }
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
