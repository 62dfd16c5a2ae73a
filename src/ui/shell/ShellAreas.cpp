#include "shell/ShellAreas.h"

#include "foundation/LogCategories.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Strings.h"
#include "sending/ShareTaskManager.h"
#include "share/PhotoIntake.h"
#include "share/ShareTask.h"
#include "toolkit/LFTheme.h"

#include <QPainter>
#include <QPainterPath>

namespace lf {

namespace {

// The placeholders draw their own panel: a white sheet for the recipients, a dashed zone for photos.
void paintPanel(QWidget *area, const QString &text, bool dashed) {
    QPainter painter(area);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(area->rect()).adjusted(1, 1, -1, -1);
    QPainterPath path;
    path.addRoundedRect(box, dashed ? 10 : 0, dashed ? 10 : 0);
    painter.fillPath(path, dashed ? QColor(255, 255, 255, 90) : QColor(Qt::white));
    QPen pen(LFTheme::separatorColor(), dashed ? 2 : 1, dashed ? Qt::DashLine : Qt::SolidLine);
    painter.setPen(pen);
    painter.drawPath(path);
    QFont font = area->font();
    font.setPointSizeF(font.pointSizeF() + (dashed ? 3 : 0));
    painter.setFont(font);
    painter.setPen(area->palette().color(QPalette::PlaceholderText));
    painter.drawText(box.adjusted(12, 8, -12, -8), Qt::AlignCenter | Qt::TextWordWrap, text);
}

} // namespace

PlaceholderRecipientsArea::PlaceholderRecipientsArea(QWidget *parent)
    : QWidget(parent) {
    setAccessibleName(localizedString("[RecipientsArea]"));
    setMinimumHeight(120);
}

void PlaceholderRecipientsArea::paintEvent(QPaintEvent *) {
    paintPanel(this, localizedString("[RecipientsPlaceholder]"), false);
}

PlaceholderPhotoDropArea::PlaceholderPhotoDropArea(QWidget *parent)
    : QWidget(parent) {
    setAccessibleName(localizedString("[PhotoArea]"));
    setMinimumHeight(200);
}

void PlaceholderPhotoDropArea::dropFiles(const QStringList &paths) {
    m_handedIn.append(paths);
    const ShareTaskPtr task = ShareTask::singleton();
    bool taken = false;
    for (const QString &path : paths) {
        QString problem;
        if (const std::optional<PhotoInfo> info = takeDroppedPhoto(path, task->path(), &problem)) {
            task->pushPhoto(*info);
            taken = true;
        } else {
            qCInfo(lfUi) << "not taken:" << problem;
        }
    }
    if (taken) {
        update();
        NotificationCenter::defaultCenter().post(QString::fromLatin1(kShareTaskChangedNotification));
    }
}

void PlaceholderPhotoDropArea::paintEvent(QPaintEvent *) {
    const qsizetype count = ShareTask::singleton()->photoInfos().size();
    paintPanel(this,
        count == 0 ? localizedString("[PhotosPlaceholder]")
                   : localizedFormat("[PhotosInShare]", {QString::number(count)}),
        true);
}

} // namespace lf
