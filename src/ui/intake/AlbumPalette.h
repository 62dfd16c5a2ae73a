#pragma once

#include "intake/AlbumData.h"
#include "intake/PhotoGridPalette.h"

#include <memory>

class QLineEdit;
class QListWidget;

namespace lf {

// The photo palette over an album-data library: its albums and rolls on the left, the photos of
// the chosen one in the grid, and a search of their captions, comments and keywords.
class AlbumPalette : public PhotoGridPalette {
    Q_OBJECT
public:
    // Source list rows: what a row shows, and its index among the albums or rolls.
    static constexpr int kKindRole = Qt::UserRole + 1;
    static constexpr int kIndexRole = Qt::UserRole + 2;
    enum class Kind { AllPhotos, Album, Roll };

    // The library is read on a worker; the grid says so meanwhile.
    explicit AlbumPalette(QWidget *window);

    // Whether the library has been read (or found unreadable) and is shown.
    bool loaded() const { return m_library != nullptr; }
    QListWidget *sourceList() const { return m_sources; }
    QLineEdit *searchField() const { return m_search; }
    // Whether the grid shows the outcome of the search text as it is now.
    bool searchSettled() const { return m_searching == 0; }
    // The library browser's own sizing: small steps at the small end, where most slider use is.
    int cellSize(double value) const override;

private:
    void fillSources();
    void showSource();
    void applySearch();
    // Reads the library on a worker: the one found, or the file `dataFile` again.
    void load(const QString &dataFile = {});
    void reloadIfChanged();

    std::shared_ptr<const AlbumDataLibrary> m_library;
    bool m_loading = false;
    QListWidget *m_sources = nullptr;
    QLineEdit *m_search = nullptr;
    QList<QVariantMap> m_items;
    AlbumSearch m_worker;
    int m_searching = 0;
};

// The palette the main window shows: with `option`, the album palette when a folder holds an
// album-data library; the Pictures palette otherwise.
std::unique_ptr<PhotoPalette> makePhotoPalette(bool option, QWidget *window);

} // namespace lf
