#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>

class QWidget;

namespace lf {

class MainController;

// What the desktop hands to the program: files opened with it and lanternfish: URLs. Files go
// to the main window, or wait for the next sign-in when nobody is signed in. Outside input: a
// URL never shows more than one alert, however many arrive. Main thread only.
class OpenRequests : public QObject {
    Q_OBJECT
public:
    static constexpr const char *kUrlScheme = "lanternfish://";

    struct Hooks {
        // Shows and raises the main window.
        std::function<void()> showWindow;
        // True when dropped files may go to the window now (signed in, no update running).
        std::function<bool()> canDropNow;
    };

    OpenRequests(QWidget *window, MainController *controller, Hooks hooks, QObject *parent = nullptr);

    // Files and lanternfish: URLs, routed as the desktop's "Open" and URL handler route them.
    void open(const QStringList &urlsOrPaths);
    // Files opened with the program: shows the window, then safeDropFiles.
    void openFiles(const QStringList &paths);
    void getUrl(const QString &url);
    // To the window now, or parked until the next sign-in.
    void safeDropFiles(const QStringList &paths);
    // The Open… menu item: a file dialog for images.
    void doOpen();
    // Shows the open dialog and returns the chosen files (default: QFileDialog for images).
    void setFileChooser(std::function<QStringList()> chooser) { m_fileChooser = std::move(chooser); }

private:
    // One balloon for the URLs handed in that named no file, shown once the batch is in.
    void reportUnsharablePath(const QString &path);

    QPointer<QWidget> m_window;
    MainController *m_controller;
    Hooks m_hooks;
    std::function<QStringList()> m_fileChooser;
    QStringList m_unsharablePaths;
};

} // namespace lf
