#include "shell/StandardAlert.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace lf {

namespace {

AlertRunner &installedRunner() {
    static AlertRunner runner;
    return runner;
}

} // namespace

int runStandardAlert(const StandardAlert &alert) {
    const AlertRunner &runner = installedRunner();
    return runner ? runner(alert) : runMessageBox(alert);
}

void setAlertRunner(AlertRunner runner) {
    installedRunner() = std::move(runner);
}

int runMessageBox(const StandardAlert &alert) {
    QMessageBox box(alert.parent);
    box.setIcon(QMessageBox::Warning);
    box.setText(alert.message);
    box.setInformativeText(alert.informativeText);
    // Server, URL and file text goes in here: as markup it could load files or show links.
    box.setTextFormat(Qt::PlainText);
    if (auto *informative = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
    box.setAccessibleName(alert.message);
    QList<QPushButton *> buttons;
    static constexpr QMessageBox::ButtonRole kRoles[]
        = {QMessageBox::AcceptRole, QMessageBox::RejectRole, QMessageBox::DestructiveRole};
    for (qsizetype i = 0; i < alert.buttons.size() && i < 3; ++i) {
        QPushButton *button = box.addButton(alert.buttons.at(i), kRoles[i]);
        button->setAccessibleName(alert.buttons.at(i));
        buttons.append(button);
    }
    if (!buttons.isEmpty()) {
        box.setDefaultButton(buttons.first());
        box.setEscapeButton(buttons.size() > 1 ? buttons.at(1) : buttons.first());
    }
    box.exec();
    return int(buttons.indexOf(qobject_cast<QPushButton *>(box.clickedButton())));
}

} // namespace lf
