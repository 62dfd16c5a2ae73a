#pragma once

#include <QPointer>
#include <QString>

#include <functional>

class QWidget;

namespace lf {

class ShareTaskManager;

// The questions before quitting and signing out while shares upload, and the program's one way
// out. Escape on either question keeps things as they are. Main thread only.
class QuitGuard {
public:
    // `manager` is read at each question: it exists only once launching has made it.
    QuitGuard(QWidget *window, std::function<const ShareTaskManager *()> manager);

    bool sharing() const;
    // The "[BUSY]" question before quitting; true when the program may end now.
    bool mayQuit() const;
    // The informative text of that question.
    QString quitQuestionText() const;
    // Asks (while sharing) before signing out; true means go on.
    bool maySignOut() const;
    // Closes the window's open sheets, asks, and ends the program when allowed.
    void quit();
    // Asks, and ends the program when allowed.
    void terminate();
    // Leaves without a question: Quit once answered, the session ending (SIGTERM) and the
    // updater's restart. The process is gone soon after whatever a worker is stuck in.
    void endProgram();
    // How endProgram leaves (default: QCoreApplication::exit); the program bounds the wait for its
    // workers here, tests record it instead.
    void setTerminator(std::function<void()> terminator) { m_terminator = std::move(terminator); }

    // Rejects every visible sheet of `window`: a question or a quit must not leave one behind.
    static void closeSheets(QWidget *window);

private:
    QPointer<QWidget> m_window;
    std::function<const ShareTaskManager *()> m_manager;
    std::function<void()> m_terminator;
};

} // namespace lf
