#pragma once

#include <QDialog>
#include <QHash>
#include <QVariantMap>

#include <atomic>
#include <memory>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace lf {

class APIResult;
class ClockTimer;
struct Notification;

// The sheet over the main window through which a user signs in with e-mail and password, or
// asks for a new account. It closes itself once the sign-in succeeded.
class SignInWC : public QDialog {
    Q_OBJECT
public:
    // The controls by tag.
    enum Tag {
        TagHaveAccount = 2001,
        TagWantAccount = 2002,
        TagSignInEmail = 3000,
        TagSignInPassword = 3001,
        TagSignIn = 3002,
        TagForgot = 3003,
        TagSignUpEmail = 4000,
        TagFirstName = 4001,
        TagLastName = 4002,
        TagSignUpPassword = 4003,
        TagConfirmation = 4004,
        TagSignUp = 4005,
    };
    // Buttons of the social sign-in sites: kSocialTagBase + the site's index.
    static constexpr int kSocialTagBase = 1000;
    static constexpr int kSignInDelayMs = 100;
    // How often and how long a sign-up waits for the terms document before giving up.
    static constexpr int kTermsPollMs = 500;
    static constexpr int kTermsWaitMs = 30000;

    explicit SignInWC(QWidget *window);
    ~SignInWC() override;

    // Shows the sheet on `window`, or raises the one already shown; it deletes itself when it ends.
    static SignInWC *requestWC(QWidget *window);
    // The sheet on screen, if any.
    static SignInWC *current();

    QWidget *control(int tag) const { return m_controls.value(tag); }
    // The panel on show: TagHaveAccount (sign in) or TagWantAccount (sign up).
    int panel() const;
    void showPanel(int tag);
    // Re-evaluates the buttons of both panels from the fields.
    void updateButtons();

    void doSignIn();
    void doSignUp();
    void doForgot();
    // Sends the sign-up with the fields of the sign-up panel; the answer arrives on the main thread.
    void completeRegistration();
    // Waiting for the terms document before they can be shown.
    bool waitingForTerms() const { return m_termsTimer != nullptr; }
    // The sign-in sites offered, as the anonymous root document lists them.
    QVariantList services() const { return m_services; }

private:
    QLineEdit *field(int tag, const QString &nameKey, bool password = false);
    QPushButton *button(int tag, const QString &titleKey);
    void notification(const Notification &n);
    void scriptCommand(const QVariantMap &userInfo);
    void registrationDone(const APIResult &result, const QString &email, const QString &password);
    void setBusy(bool busy);
    void updateHost();
    QLineEdit *lineEdit(int tag) const;
    void loadServices();
    void reloadSocialButtons();
    void pollTerms();
    void showTerms();
    void termsUnavailable();

    QHash<int, QWidget *> m_controls;
    QStackedWidget *m_panels = nullptr;
    QLabel *m_host = nullptr;
    QProgressBar *m_activity = nullptr;
    bool m_goingAway = false;
    bool m_scriptedSignUp = false;
    bool m_registering = false;
    QVariantList m_services;
    QWidget *m_social = nullptr;
    ClockTimer *m_termsTimer = nullptr;
    qint64 m_termsWaitStartMs = 0;
    std::shared_ptr<std::atomic<bool>> m_termsFetchDone;
};

} // namespace lf
