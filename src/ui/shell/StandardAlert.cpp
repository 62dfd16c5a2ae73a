#include "shell/StandardAlert.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace lf {

namespace {

// Closes the box on Escape without choosing any button.
class EscapeDismisses : public QObject {
public:
    explicit EscapeDismisses(QMessageBox *box)
        : m_box(box) {
        if (m_box)
            m_box->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == m_box && event->type() == QEvent::KeyPress
            && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape
            && static_cast<QKeyEvent *>(event)->modifiers() == Qt::NoModifier) {
            m_box->done(QDialog::Rejected);
            return true;
        }
        if (watched == m_box && event->type() == QEvent::Close && event->spontaneous()) {
            m_box->done(QDialog::Rejected);
            return true;
        }
        return false;
    }

private:
    QMessageBox *m_box;
};

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
    box.setWindowTitle(alert.title.isEmpty() ? QGuiApplication::applicationDisplayName() : alert.title);
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
    if (!buttons.isEmpty())
        box.setDefaultButton(buttons.first());
    const int escape
        = alert.escape.value_or(buttons.size() > 1 ? StandardAlert::Alternate : StandardAlert::Default);
    if (escape >= 0 && escape < buttons.size())
        box.setEscapeButton(buttons.at(escape));
    // The box would otherwise press its only button on Escape (or its close box).
    EscapeDismisses dismiss(escape == StandardAlert::Dismissed ? &box : nullptr);
    box.exec();
    return int(buttons.indexOf(qobject_cast<QPushButton *>(box.clickedButton())));
}

} // namespace lf
