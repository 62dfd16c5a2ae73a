#pragma once

#include "shell/MainController.h"

#include <QPointer>
#include <QStandardItemModel>
#include <QWidget>

#include <memory>
#include <optional>

class QBoxLayout;
class QLabel;
class QListView;
class QSlider;

namespace lf {

// The photos of a palette as tiles: a click adds the photo to the share or takes it out again, a
// drag carries its file, and photos already in the share carry a check mark.
class PhotoTileModel : public QStandardItemModel {
    Q_OBJECT
public:
    static constexpr int kPathRole = Qt::UserRole + 1;
    // The caption a click hands on; tiles without one let the photo keep its own.
    static constexpr int kCaptionRole = Qt::UserRole + 2;
    using QStandardItemModel::QStandardItemModel;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
};

// What the palettes share: a panel docked beside the main window with a thumbnail grid, a count
// and a size slider. Thumbnails are made on a worker thread.
class PhotoGridPalette : public QWidget, public PhotoPalette {
    Q_OBJECT
public:
    static constexpr const char *kSliderPref = "SliderPref";

    struct Tile {
        QString path;
        QString name;
        // A thumbnail file of the photo's own library, tried before the desktop's cache.
        QString thumbPath;
        std::optional<QString> caption;
    };

    ~PhotoGridPalette() override;

    void open() override;
    void close() override;
    bool isOpen() const override { return isVisible(); }

    int photoCount() const { return m_model->rowCount(); }
    // Whether every shown photo has its thumbnail.
    bool thumbnailsLoaded() const { return m_pending == 0; }
    QImage thumbnailAt(int row) const;
    QString pathAt(int row) const;
    QListView *grid() const { return m_grid; }
    QSlider *sizeSlider() const { return m_slider; }
    QLabel *countLabel() const { return m_countLabel; }
    // The tile's cell edge for a slider value between 0 and 1.
    virtual int cellSize(double value) const;
    // Posts the click of the tile in `row`.
    void activateRow(int row);

protected:
    PhotoGridPalette(QWidget *window, const QString &name, const QString &gridName, int width);
    bool eventFilter(QObject *watched, QEvent *event) override;
    // The grid's width for cells.
    int contentWidth() const;
    // Sizes the cells from the slider.
    void applyCellSize();

    // The grid's column (grid, then count and slider), for a subclass to add to; and the row it
    // sits in.
    QBoxLayout *gridColumn() const { return m_column; }
    QBoxLayout *paletteRow() const { return m_row; }
    // Replaces the grid's tiles; `empty` is shown over an empty grid.
    void showTiles(const QList<Tile> &tiles, const QString &empty = {});

private:
    struct LoadState;
    void follow();

    QPointer<QWidget> m_window;
    QBoxLayout *m_row = nullptr;
    QBoxLayout *m_column = nullptr;
    QLabel *m_countLabel = nullptr;
    QLabel *m_emptyLabel = nullptr;
    QListView *m_grid = nullptr;
    QSlider *m_slider = nullptr;
    PhotoTileModel *m_model = nullptr;
    std::shared_ptr<LoadState> m_load;
    int m_pending = 0;
};

} // namespace lf
