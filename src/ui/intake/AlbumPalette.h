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

    // `library` has been read.
    AlbumPalette(QWidget *window, std::unique_ptr<AlbumDataLibrary> library);

    const AlbumDataLibrary &library() const { return *m_library; }
    QListWidget *sourceList() const { return m_sources; }
    QLineEdit *searchField() const { return m_search; }
    // Whether the grid shows the outcome of the search text as it is now.
    bool searchSettled() const { return m_searching == 0; }

private:
    void fillSources();
    void showSource();
    void applySearch();
    void reloadIfChanged();

    std::unique_ptr<AlbumDataLibrary> m_library;
    QListWidget *m_sources = nullptr;
    QLineEdit *m_search = nullptr;
    QList<QVariantMap> m_items;
    AlbumSearch m_worker;
    int m_searching = 0;
};

// The palette the main window shows: with `option`, the album palette when an album-data library
// can be read; the Pictures palette otherwise.
std::unique_ptr<PhotoPalette> makePhotoPalette(bool option, QWidget *window);

} // namespace lf
