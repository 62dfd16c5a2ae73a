#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QProgressBar;

namespace lf {

// A sheet over the main window with a line of text and a spinner, for work the user waits on
// (signing in, loading the contacts).
class ProgressSheet : public QDialog {
    Q_OBJECT
public:
    explicit ProgressSheet(QWidget *window);

    // Shows the sheet with `text`; `ended` runs once when it closes.
    void begin(const QString &text, std::function<void()> ended = {});
    void setText(const QString &text);
    QString text() const;
    // Closes the sheet if it is up.
    void end();
    bool isUp() const { return isVisible(); }
    // While `held` answers true, Escape leaves the sheet up (an update being installed).
    void setHeld(std::function<bool()> held) { m_held = std::move(held); }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void finish();

    QLabel *m_text = nullptr;
    QProgressBar *m_spinner = nullptr;
    std::function<void()> m_ended;
    std::function<bool()> m_held;
};

} // namespace lf
