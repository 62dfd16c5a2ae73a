#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

namespace lf {

// The settings sheet over the main window: start at login, sounds, crash-log upload, and
// Disconnect (sign out). Save stores and syncs the autostart entry; Cancel changes nothing.
class SettingsVC : public QDialog {
    Q_OBJECT
public:
    explicit SettingsVC(QWidget *window);

    // Shows the sheet on `window`, or raises the one on show; it deletes itself when it ends.
    static SettingsVC *requestPreferences(QWidget *window);
    static SettingsVC *current();

    QCheckBox *startAtLoginBox() const { return m_startAtLogin; }
    QCheckBox *playSoundsBox() const { return m_playSounds; }
    QCheckBox *uploadCrashLogsBox() const { return m_uploadCrashLogs; }
    QPushButton *saveButton() const { return m_save; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *disconnectButton() const { return m_disconnect; }
    bool disconnecting() const { return m_disconnecting; }

    void save();
    void disconnectUser();

protected:
    void done(int result) override;

private:
    QCheckBox *m_startAtLogin = nullptr;
    QCheckBox *m_playSounds = nullptr;
    QCheckBox *m_uploadCrashLogs = nullptr;
    QLabel *m_user = nullptr;
    QPushButton *m_disconnect = nullptr;
    QPushButton *m_save = nullptr;
    QPushButton *m_cancel = nullptr;
    bool m_disconnecting = false;
};

} // namespace lf
