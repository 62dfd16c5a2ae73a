#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace lf {

// A standard alert: a message, an informative text and up to three buttons (default, alternate,
// other). The answer is the index of the chosen button, or -1 when the alert was dismissed.
struct StandardAlert {
    enum Button { Dismissed = -1, Default = 0, Alternate = 1, Other = 2 };

    QString message;
    QString informativeText;
    QStringList buttons;
    // The window it belongs to, if any.
    QWidget *parent = nullptr;
    // The answer Escape gives: always the one that changes nothing. Unset: the alternate button
    // when there is one (Cancel, Later, Maintain), else the default.
    std::optional<int> escape = std::nullopt;
    // The window title; empty gives the program's name, so no alert is an untitled window.
    QString title = {};
};

// Shows alerts and waits for the answer. The program uses a modal QMessageBox; tests install a
// function that answers at once.
using AlertRunner = std::function<int(const StandardAlert &)>;

// Runs `alert` with the installed runner.
int runStandardAlert(const StandardAlert &alert);
// Installs a runner; an empty function restores the message box.
void setAlertRunner(AlertRunner runner);
// The message box itself; Escape gives the alert's `escape` answer.
int runMessageBox(const StandardAlert &alert);

} // namespace lf
