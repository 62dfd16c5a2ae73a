#pragma once

#include <QMainWindow>

namespace lf {

// The main window: the theme's background gradient behind everything and the logo in the header.
// It tells its owner when its frame changed and when the user asked to close it.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);

    // The strip at the top that holds the logo and the sender line.
    QWidget *header() const { return m_header; }
    // The area below the header where the controller lays out its parts.
    QWidget *body() const { return m_body; }

signals:
    void frameChanged();
    void closeRequested();

protected:
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *m_header = nullptr;
    QWidget *m_body = nullptr;
};

} // namespace lf
