#include "shell/QuitGuard.h"

#include "shell/StandardAlert.h"

#include "foundation/Strings.h"
#include "sending/ShareTaskManager.h"

#include <QCoreApplication>
#include <QDialog>
#include <QWidget>

namespace lf {

QuitGuard::QuitGuard(QWidget *window, std::function<const ShareTaskManager *()> manager)
    : m_window(window)
    , m_manager(std::move(manager)) { }

bool QuitGuard::sharing() const {
    const ShareTaskManager *manager = m_manager();
    return manager && manager->isWorking();
}

QString QuitGuard::quitQuestionText() const {
    const ShareTaskManager &manager = *m_manager();
    if (manager.setCount() < 2) {
        return localizedFormat(QStringLiteral("[quitWith1]"),
            {QString::number(manager.currentShare() + 1), QString::number(manager.countShare()),
                localizedString(manager.isFullSize() ? "[fullsized]" : "[preview]")});
    }
    return localizedFormat(QStringLiteral("[quitWithMany]"), {QString::number(manager.setCount())});
}

bool QuitGuard::mayQuit() const {
    if (!sharing())
        return true;
    // Escape keeps sharing.
    return runStandardAlert({localizedString("[BUSY]"), quitQuestionText(),
               {localizedString("[ContinueButton]"), localizedString("[Quit]")}, m_window,
               StandardAlert::Default})
        == StandardAlert::Alternate;
}

bool QuitGuard::maySignOut() const {
    if (!sharing())
        return true;
    // Escape stays signed in.
    return runStandardAlert({localizedString("[BUSY]"), localizedString("[signoutBusy]"),
               {localizedString("[ContinueButton]"), localizedString("[SignOut]")}, m_window,
               StandardAlert::Default})
        == StandardAlert::Alternate;
}

void QuitGuard::closeSheets(QWidget *window) {
    if (!window)
        return;
    for (QDialog *sheet : window->findChildren<QDialog *>()) {
        if (sheet->isVisible())
            sheet->reject();
    }
}

void QuitGuard::quit() {
    closeSheets(m_window);
    terminate();
}

void QuitGuard::terminate() {
    if (mayQuit())
        endProgram();
}

void QuitGuard::endProgram() {
    if (m_terminator)
        m_terminator();
    else
        // quit() would first ask every window to close, and closing the main window asks the
        // question above again: a user who chose Quit could never leave while sharing.
        QCoreApplication::exit(0);
}

} // namespace lf
