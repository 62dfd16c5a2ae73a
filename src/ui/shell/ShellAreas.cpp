#include "shell/ShellAreas.h"

#include "foundation/Strings.h"

#include <QLabel>
#include <QVBoxLayout>

namespace lf {

namespace {

void addCaption(QWidget *area, const char *key) {
    auto *layout = new QVBoxLayout(area);
    auto *label = new QLabel(localizedString(QLatin1String(key)), area);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setEnabled(false);
    layout->addWidget(label);
}

} // namespace

PlaceholderRecipientsArea::PlaceholderRecipientsArea(QWidget *parent)
    : QWidget(parent) {
    setAccessibleName(localizedString(QStringLiteral("[RecipientsArea]")));
    addCaption(this, "[RecipientsPlaceholder]");
    setMinimumHeight(120);
}

PlaceholderPhotoDropArea::PlaceholderPhotoDropArea(QWidget *parent)
    : QWidget(parent) {
    setAccessibleName(localizedString(QStringLiteral("[PhotoArea]")));
    addCaption(this, "[PhotosPlaceholder]");
    setMinimumHeight(200);
}

} // namespace lf
