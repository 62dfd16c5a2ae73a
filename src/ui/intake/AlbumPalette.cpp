#include "intake/AlbumPalette.h"

#include "intake/PicturesPalette.h"

#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "shell/MacClientAppDelegate.h"

#include <QBoxLayout>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>

#include <cmath>

namespace lf {

namespace {

QString value(const QVariantMap &item, const char *key) {
    return item.value(QLatin1String(key)).toString();
}

} // namespace

AlbumPalette::AlbumPalette(QWidget *window)
    : PhotoGridPalette(window, localizedString("[AlbumPalette]"), localizedString("[AlbumPhotoGrid]"), 480) {
    setObjectName(QStringLiteral("AlbumPalette"));

    m_sources = new QListWidget(this);
    m_sources->setObjectName(QStringLiteral("sourceList"));
    m_sources->setAccessibleName(localizedString("[AlbumSources]"));
    m_sources->setFixedWidth(150);
    m_sources->setSelectionMode(QAbstractItemView::SingleSelection);
    paletteRow()->insertWidget(0, m_sources);

    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("searchField"));
    m_search->setAccessibleName(localizedString("[PLSearch]"));
    m_search->setPlaceholderText(m_search->accessibleName());
    m_search->setClearButtonEnabled(true);
    gridColumn()->insertWidget(0, m_search);
    setTabOrder(m_sources, m_search);
    setTabOrder(m_search, grid());
    setTabOrder(grid(), sizeSlider());
    applyCellSize();

    connect(m_sources, &QListWidget::currentRowChanged, this, [this] { showSource(); });
    connect(m_search, &QLineEdit::textChanged, this, [this] { applySearch(); });
    // The library's own program may have changed it while this one was in the background.
    NotificationCenter::defaultCenter().addObserver(this,
        QLatin1String(MacClientAppDelegate::kApplicationActivated),
        [this](const Notification &) { reloadIfChanged(); });
    load();
}

void AlbumPalette::load(const QString &dataFile) {
    if (m_loading)
        return;
    m_loading = true;
    if (!m_library)
        showTiles({}, localizedString("[PLLoading]"));
    const QPointer<AlbumPalette> self(this);
    // A large library takes a while to read; the window keeps answering meanwhile.
    Workers::instance().start(QStringLiteral("album data"), [self, dataFile] {
        auto library = std::make_shared<AlbumDataLibrary>();
        const bool read = dataFile.isEmpty() ? library->load() : library->read(QFileInfo(dataFile).path());
        runOnMainThread([self, library, read] {
            if (!self)
                return;
            self->m_loading = false;
            // A library that can no longer be read keeps showing what it showed.
            if (!read && self->m_library)
                return;
            self->m_library = library;
            self->fillSources();
        });
    });
}

void AlbumPalette::fillSources() {
    const QSignalBlocker quiet(m_sources);
    m_sources->clear();
    const auto add = [this](const QString &text, Kind kind, int index) {
        auto *row = new QListWidgetItem(text, m_sources);
        row->setData(kKindRole, int(kind));
        row->setData(kIndexRole, index);
    };
    const auto heading = [this](const QString &text) {
        auto *row = new QListWidgetItem(text, m_sources);
        QFont bold = row->font();
        bold.setBold(true);
        row->setFont(bold);
        row->setFlags(Qt::NoItemFlags);
    };
    add(localizedString("[AllPhotos]"), Kind::AllPhotos, -1);
    const auto group = [&](const char *title, const QList<AlbumDataLibrary::Group> &groups, Kind kind) {
        if (groups.isEmpty())
            return;
        heading(localizedString(title));
        for (int i = 0; i < groups.size(); ++i)
            add(groups.at(i).name, kind, i);
    };
    group("[Albums]", m_library->albums(), Kind::Album);
    group("[Rolls]", m_library->rolls(), Kind::Roll);
    m_sources->setCurrentRow(0);
    showSource();
}

void AlbumPalette::showSource() {
    const QListWidgetItem *row = m_sources->currentItem();
    // Headings choose nothing.
    if (!m_library || !row || !row->data(kKindRole).isValid())
        return;
    QStringList keys;
    {
        const int index = row->data(kIndexRole).toInt();
        switch (Kind(row->data(kKindRole).toInt())) {
        case Kind::AllPhotos:
            keys = m_library->allKeys();
            break;
        case Kind::Album:
            keys = m_library->albums().value(index).keys;
            break;
        case Kind::Roll:
            keys = m_library->rolls().value(index).keys;
            break;
        }
    }
    m_items = m_library->photoData(keys);
    applySearch();
}

void AlbumPalette::applySearch() {
    const auto show = [this](const QList<QVariantMap> &items) {
        QList<Tile> tiles;
        for (const QVariantMap &item : items) {
            QString caption = value(item, AlbumDataLibrary::kCaption);
            if (caption.isEmpty())
                caption = value(item, AlbumDataLibrary::kComment);
            if (caption.isEmpty())
                caption = value(item, AlbumDataLibrary::kFileNameKey);
            tiles.append({value(item, AlbumDataLibrary::kPath), value(item, AlbumDataLibrary::kFileNameKey),
                value(item, AlbumDataLibrary::kThumbPath), caption});
        }
        showTiles(tiles, localizedString("[PLEmpty]"));
    };
    const QString text = m_search->text();
    if (text.isEmpty()) {
        m_worker.cancel();
        m_searching = 0;
        show(m_items);
        return;
    }
    m_searching = 1;
    m_worker.start(m_items, text, [this, show](const QList<QVariantMap> &found) {
        m_searching = 0;
        show(found);
    });
}

int AlbumPalette::cellSize(double value) const {
    const double width = contentWidth() - 8.0;
    const double p = std::pow(value, 2.6);
    return int(width * p + (width - 16) / 5 * (1 - p));
}

void AlbumPalette::reloadIfChanged() {
    if (m_library && m_library->dirty())
        load(m_library->dataFilePath());
}

std::unique_ptr<PhotoPalette> makePhotoPalette(bool option, QWidget *window) {
    if (option && AlbumDataLibrary::available())
        return std::make_unique<AlbumPalette>(window);
    return std::make_unique<PicturesPalette>(window);
}

} // namespace lf
