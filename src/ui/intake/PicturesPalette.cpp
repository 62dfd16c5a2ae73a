#include "intake/PicturesPalette.h"

#include "foundation/MainThread.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "share/PhotoIntake.h"
#include "share/PhotoPrep.h"

#include <QBoxLayout>
#include <QDirIterator>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
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
    showTiles({}, localizedString("[PicturesLoading]"));
    const QPointer<PicturesPalette> self(this);
    // A large Pictures folder, or one on a slow disk, takes a while to walk: not on the window's
    // thread.
    Workers::instance().start(QStringLiteral("pictures folder"), [self, folder = m_folder] {
        QList<QFileInfo> files;
        QDirIterator it(folder, QDir::Files | QDir::Readable, QDirIterator::Subdirectories);
        while (it.hasNext() && !Workers::cancelled()) {
            const QFileInfo info(it.next());
            if (!info.fileName().startsWith(QLatin1Char('.')) && isPhotoCandidate(info.filePath()))
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
        runOnMainThread([self, tiles] {
            if (self) {
                self->showTiles(tiles);
                self->m_loaded = true;
            }
        });
    });
}

} // namespace lf
