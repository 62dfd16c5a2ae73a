#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

namespace lf {

class MainWindow;

// Brings the main window up (restored to where the user left it, never minimised) and keeps its
// frame once the user moved it. Main thread only.
class WindowPresenter : public QObject {
    Q_OBJECT
public:
    // `reshown` runs whenever a window that had been shown before comes back.
    WindowPresenter(MainWindow *window, std::function<void()> reshown, QObject *parent = nullptr);

    void show();
    // Stores the frame, once it is the user's (at the end of the program).
    void storeFrame();

private:
    void frameChanged();

    QPointer<MainWindow> m_window;
    std::function<void()> m_reshown;
    // From the first showing on, the frame is worth keeping.
    bool m_adjusted = false;
    int m_showCount = 0;
};

} // namespace lf
