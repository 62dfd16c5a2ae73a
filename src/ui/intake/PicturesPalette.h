#pragma once

#include "intake/PhotoGridPalette.h"

namespace lf {

// The default photo palette: the user's Pictures folder as a thumbnail grid. Thumbnails come from
// and go to the desktop's shared thumbnail cache.
class PicturesPalette : public PhotoGridPalette {
    Q_OBJECT
public:
    // Most photos listed; a Pictures folder holding more shows the newest.
    static constexpr int kMaxPhotos = 5000;

    explicit PicturesPalette(QWidget *window, const QString &folder = {});

    QString folder() const { return m_folder; }
    // Whether the folder has been walked and its photos are listed.
    bool loaded() const { return m_loaded; }

private:
    void load();

    QString m_folder;
    bool m_loaded = false;
};

} // namespace lf
