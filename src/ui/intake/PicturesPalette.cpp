#include "intake/PicturesPalette.h"

#include "foundation/Strings.h"
#include "share/PhotoPrep.h"

#include <QBoxLayout>
#include <QDirIterator>
#include <QFileInfo>
#include <QLabel>
#include <QStandardPaths>

#include <algorithm>

namespace lf {

PicturesPalette::PicturesPalette(QWidget *window, const QString &folder)
    : PhotoGridPalette(window, localizedString("[PicturesPalette]"), localizedString("[PhotoGrid]"), 300)
    , m_folder(
          folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) : folder) {
    setObjectName(QStringLiteral("PicturesPalette"));
    auto *title = new QLabel(this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setText(QFileInfo(m_folder).fileName());
    title->setToolTip(m_folder);
    title->setAccessibleName(localizedString("[PicturesFolder]"));
    gridColumn()->insertWidget(0, title);
    load();
}

void PicturesPalette::load() {
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
    QList<Tile> tiles;
    // No caption: a photo from a folder keeps the one it carries, not its file name.
    for (const QFileInfo &info : std::as_const(files))
        tiles.append({info.filePath(), info.fileName(), {}, std::nullopt});
    showTiles(tiles);
}

} // namespace lf
