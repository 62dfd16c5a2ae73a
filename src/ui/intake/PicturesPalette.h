#pragma once

#include "shell/MainController.h"

#include <QPointer>
#include <QStandardItemModel>
#include <QWidget>

#include <memory>

class QLabel;
class QListView;
class QSlider;

namespace lf {

// The photos of a folder as tiles: a click adds the photo to the share or takes it out again, a
// drag carries its file, and photos already in the share carry a check mark.
class PhotoTileModel : public QStandardItemModel {
    Q_OBJECT
public:
    static constexpr int kPathRole = Qt::UserRole + 1;
    using QStandardItemModel::QStandardItemModel;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
};

// The default photo palette: a panel docked beside the main window with the user's Pictures
// folder as a thumbnail grid and a size slider. Thumbnails come from and go to the desktop's
// shared thumbnail cache, and are made on a worker thread.
class PicturesPalette : public QWidget, public PhotoPalette {
    Q_OBJECT
public:
    // Most photos listed; a Pictures folder holding more shows the newest.
    static constexpr int kMaxPhotos = 5000;
    static constexpr const char *kSliderPref = "SliderPref";

    explicit PicturesPalette(QWidget *window, const QString &folder = {});
    ~PicturesPalette() override;

    void open() override;
    void close() override;
    bool isOpen() const override { return isVisible(); }

    QString folder() const { return m_folder; }
    int photoCount() const { return m_model->rowCount(); }
    // Whether every listed photo has its thumbnail.
    bool thumbnailsLoaded() const { return m_pending == 0; }
    QImage thumbnailAt(int row) const;
    QListView *grid() const { return m_grid; }
    QSlider *sizeSlider() const { return m_slider; }
    // The tile's cell edge for a slider value between 0 and 1.
    int cellSize(double value) const;
    // Posts the click of the tile in `row`.
    void activateRow(int row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct LoadState;
    void build();
    void load();
    void follow();
    void applyCellSize();

    QPointer<QWidget> m_window;
    QString m_folder;
    QLabel *m_countLabel = nullptr;
    QListView *m_grid = nullptr;
    QSlider *m_slider = nullptr;
    PhotoTileModel *m_model = nullptr;
    std::shared_ptr<LoadState> m_load;
    int m_pending = 0;
};

} // namespace lf
