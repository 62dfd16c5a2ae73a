#include "shell/SettingsVC.h"

#include "shell/MacClientAppDelegate.h"
#include "shell/SupportWC.h"

#include "foundation/Prefs.h"
#include "foundation/Strings.h"
#include "platform/LoginItems.h"
#include "session/Service.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace lf {

namespace {

QPointer<SettingsVC> s_current;

QCheckBox *checkBox(const char *key, bool checked, QWidget *parent) {
    auto *box = new QCheckBox(localizedString(QLatin1String(key)), parent);
    box->setAccessibleName(box->text());
    box->setChecked(checked);
    return box;
}

} // namespace

SettingsVC::SettingsVC(QWidget *window)
    : QDialog(window, Qt::Sheet) {
    setWindowModality(Qt::WindowModal);
    setObjectName(QStringLiteral("SettingsVC"));
    setWindowTitle(localizedString(QStringLiteral("[SettingsTitle]")));
    setAccessibleName(windowTitle());

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->setSpacing(12);

    auto *account = new QGroupBox(localizedString(QStringLiteral("[AccountGroup]")), this);
    auto *accountRow = new QHBoxLayout(account);
    // The session keeps the address after a sign-out; only a signed-in user is shown.
    const MacClientAppDelegate *app = MacClientAppDelegate::singleton();
    const QString user = app && app->authenticated() ? Service::currentService()->userName() : QString();
    m_user = new QLabel(user.isEmpty() ? localizedString(QStringLiteral("[NotSignedIn]"))
                                       : localizedFormat(QStringLiteral("[SignedInAs]"), {user}),
        account);
    m_user->setTextFormat(Qt::PlainText);
    m_user->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_disconnect = new QPushButton(localizedString(QStringLiteral("[Disconnect]")), account);
    m_disconnect->setAccessibleName(m_disconnect->text());
    m_disconnect->setAutoDefault(false);
    m_disconnect->setEnabled(!user.isEmpty());
    accountRow->addWidget(m_user, 1);
    accountRow->addWidget(m_disconnect);
    layout->addWidget(account);

    auto *general = new QGroupBox(localizedString(QStringLiteral("[GeneralGroup]")), this);
    auto *options = new QVBoxLayout(general);
    m_startAtLogin = checkBox(
        "[StartAtLogin]", Prefs::boolPrefForKey(QLatin1String(PrefKey::StartAtLogin), false), general);
    m_playSounds
        = checkBox("[PlaySounds]", Prefs::boolPrefForKey(QLatin1String(PrefKey::PlaySounds), true), general);
    m_uploadCrashLogs = checkBox("[UploadCrashLogs]",
        Prefs::boolPrefForKey(QLatin1String(PrefKey::CanUploadCrashLogs), false), general);
    for (QCheckBox *box : {m_startAtLogin, m_playSounds, m_uploadCrashLogs})
        options->addWidget(box);
    layout->addWidget(general);

    auto *buttons = new QDialogButtonBox(this);
    m_save = buttons->addButton(localizedString(QStringLiteral("[Save]")), QDialogButtonBox::AcceptRole);
    m_cancel = buttons->addButton(localizedString(QStringLiteral("[Cancel]")), QDialogButtonBox::RejectRole);
    m_save->setAccessibleName(m_save->text());
    m_cancel->setAccessibleName(m_cancel->text());
    // Return saves; Escape cancels.
    m_save->setDefault(true);
    layout->addWidget(buttons);

    connect(m_save, &QPushButton::clicked, this, &SettingsVC::save);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_disconnect, &QPushButton::clicked, this, &SettingsVC::disconnectUser);
    SupportWC::injectSupport(this, -5, -8);
    setMinimumWidth(420);
}

SettingsVC *SettingsVC::requestPreferences(QWidget *window) {
    // A sheet that has ended may wait for its deletion; a new one is asked for then.
    if (s_current && s_current->isVisible()) {
        s_current->raise();
        return s_current;
    }
    s_current = new SettingsVC(window);
    s_current->setAttribute(Qt::WA_DeleteOnClose);
    s_current->open();
    return s_current;
}

SettingsVC *SettingsVC::current() {
    return s_current;
}

void SettingsVC::save() {
    const bool startAtLogin = m_startAtLogin->isChecked();
    Prefs::setBoolPref(startAtLogin, QLatin1String(PrefKey::StartAtLogin));
    Prefs::setBoolPref(m_playSounds->isChecked(), QLatin1String(PrefKey::PlaySounds));
    Prefs::setBoolPref(m_uploadCrashLogs->isChecked(), QLatin1String(PrefKey::CanUploadCrashLogs));
    // A failure is logged there; the settings are stored either way and the sheet closes.
    LoginItems::sync(QCoreApplication::applicationFilePath(), startAtLogin);
    accept();
}

void SettingsVC::disconnectUser() {
    m_disconnecting = true;
    reject();
}

void SettingsVC::done(int result) {
    QDialog::done(result);
    if (!m_disconnecting)
        return;
    // After the sheet is gone: signing out ends every sheet on the main window.
    QTimer::singleShot(0, [] {
        if (MacClientAppDelegate *app = MacClientAppDelegate::singleton())
            app->doSignOut();
    });
}

} // namespace lf
