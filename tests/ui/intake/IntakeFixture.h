#pragma once

#include "../shell/ShellFixture.h"

#include "intake/PhotoDropView.h"
#include "share/ShareTask.h"
#include "support/TestImages.h"

#include <QMimeData>

namespace lf::test {

// A signed-in main window whose photo place holds the real drop view.
class DropViewTest : public ShellTest {
protected:
    void SetUp() override;

    // A JPEG of the quadrant picture in the home folder, with an embedded caption when given.
    QString writePhoto(
        const QString &name, const std::optional<QString> &caption = std::nullopt, int width = 64);
    // Drags `mime` over the view and drops it, as the desktop does; whether the drag was accepted.
    bool drag(const QMimeData &mime, bool drop = true);
    // Waits until every drop and download under way has ended.
    bool settle();
    // A key pressed on `widget`, with the text it types.
    static void press(QWidget *widget, int key, const QString &text = {});
    static std::unique_ptr<QMimeData> filesMime(const QStringList &files, const QString &text = {});
    ShareTaskPtr task() const { return ShareTask::singleton(); }
    QString caption(int index) const;
    // Every file under the share-set folder, relative to it.
    QStringList shareFiles() const;

    PhotoDropView *view = nullptr;
};

} // namespace lf::test
