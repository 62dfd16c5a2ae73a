#pragma once

#include <QObject>
#include <QPointer>
#include <QVariantMap>

#include <functional>

class QWidget;

namespace lf {

class ClockTimer;

// Tells the user how a sign-in failed: by its status, a balloon over the field in use (shown a
// moment later, once the sheet is down) or a standard alert with Quit. Also says where the
// sign-in is kept and what went wrong with the keyring. Main thread only.
class SignInResults : public QObject {
    Q_OBJECT
public:
    static constexpr int kDelayedAlertMs = 200;

    struct Hooks {
        // True for staff accounts: their 4xx answers get the standard alert, not a balloon.
        std::function<bool()> internal;
        // The sign-in came from the sign-in sheet itself, which stays up.
        std::function<bool()> fromPanel;
        // Takes down the progress sheet.
        std::function<void()> endSheet;
        // Offers the sign-in sheet again.
        std::function<void()> askForSignIn;
        // The standard alert is about to be shown: whatever waits for the sign-in is over.
        std::function<void()> gaveUp;
        // Quit was chosen on the standard alert.
        std::function<void()> quit;
    };

    // `alertTarget` receives the balloons' actions ("balloonQuit").
    SignInResults(QWidget *window, QObject *alertTarget, Hooks hooks, QObject *parent = nullptr);
    ~SignInResults() override;

    // Listens for the keyring's notices; from then on they reach the user.
    void observeCredentials();
    // A failed "connect" result (not the one of an address still unconfirmed).
    void failed(const QVariantMap &result);
    // An earlier failure's balloon, shown or about to be, no longer holds.
    void dropBalloon();

private:
    void delayedLFAlert(const QVariantMap &userInfo);
    void networkAlert(const QString &error);

    QPointer<QWidget> m_window;
    QPointer<QObject> m_alertTarget;
    Hooks m_hooks;
    QPointer<ClockTimer> m_delayedAlertTimer;
};

} // namespace lf
