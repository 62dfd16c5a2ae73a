#include "shell/SignInResults.h"

#include "shell/ShellAreas.h"
#include "shell/StandardAlert.h"

#include "api/APIResult.h"
#include "api/HttpTransport.h"
#include "foundation/Credentials.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Strings.h"
#include "sending/ShareTaskThread.h"
#include "session/SessionRecords.h"
#include "toolkit/ClockTimer.h"
#include "toolkit/LFAlert.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace lf {

SignInResults::SignInResults(QWidget *window, QObject *alertTarget, Hooks hooks, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_alertTarget(alertTarget)
    , m_hooks(std::move(hooks)) { }

SignInResults::~SignInResults() {
    NotificationCenter::defaultCenter().removeObserver(this);
}

void SignInResults::observeCredentials() {
    auto &center = NotificationCenter::defaultCenter();
    // Where the sign-in is kept is worth knowing, not worth interrupting for.
    center.addObserver(this, QLatin1String(kCredentialsNoticeNotification), [](const Notification &n) {
        NotificationCenter::defaultCenter().post(QLatin1String(kGrowlNotification), n.object);
    });
    // A keyring that failed leaves the user signed out: say why where they look.
    center.addObserver(this, QLatin1String(kCredentialsProblemNotification), [this](const Notification &n) {
        const QString text = n.object.toString();
        // At start the window is not up yet.
        QTimer::singleShot(0, this, [this, text] {
            delayedLFAlert({{QStringLiteral("error"), text},
                {QStringLiteral("view"), QVariant::fromValue<QObject *>(m_window.data())}});
        });
    });
}

void SignInResults::failed(const QVariantMap &result) {
    const int status = result.value(QLatin1String(RecordKey::Status)).toInt();
    const QString error = result.value(QLatin1String(RecordKey::Error)).toString();
    QString message;
    QString altAction;
    if (status == 403) {
        message = localizedFormat(QStringLiteral("[YouGotMail]"),
            {Prefs::prefForKey(QLatin1String(PrefKey::UserName), QString()).toString()});
    } else if (status == 500) {
        message = localizedString("[500]");
    } else if (status == -1012) {
        message = localizedString("[boguspassword]");
    } else if (status == NetError::NotConnected) {
        message = error;
        altAction = QStringLiteral("balloonQuit");
    } else if (status >= 400 && status <= 499 && !m_hooks.internal()) {
        message = APIResult::bodyMessage(result.value(QLatin1String(RecordKey::Body)));
        if (message.isEmpty())
            message = error;
    } else {
        networkAlert(error);
        return;
    }
    QPointer<QWidget> view = QApplication::focusWidget();
    delete m_delayedAlertTimer;
    auto *timer = new ClockTimer(this);
    m_delayedAlertTimer = timer;
    connect(timer, &ClockTimer::timeout, this, [this, timer, message, altAction, view] {
        timer->stop();
        timer->deleteLater();
        delayedLFAlert({{QStringLiteral("error"), message}, {QStringLiteral("altaction"), altAction},
            {QStringLiteral("view"), QVariant::fromValue<QObject *>(view.data())}});
    });
    timer->start(kDelayedAlertMs);
    m_hooks.endSheet();
    if (!m_hooks.fromPanel())
        m_hooks.askForSignIn();
}

void SignInResults::dropBalloon() {
    delete m_delayedAlertTimer;
    LFAlert::cleanupNoAction();
}

void SignInResults::delayedLFAlert(const QVariantMap &userInfo) {
    auto *view = qobject_cast<QWidget *>(userInfo.value(QStringLiteral("view")).value<QObject *>());
    LFAlert *alert = LFAlert::alertWithString(userInfo.value(QStringLiteral("error")).toString(), view);
    alert->setTarget(m_alertTarget);
    const QByteArray action = userInfo.value(QStringLiteral("altaction")).toString().toLatin1();
    if (!action.isEmpty())
        alert->setAction(action.constData());
}

void SignInResults::networkAlert(const QString &error) {
    m_hooks.gaveUp();
    QStringList buttons {localizedString("[Quit]")};
    if (m_hooks.internal())
        buttons.append(localizedString("[TryDifferentServer]"));
    // Escape only closes the alert: quitting takes the button.
    if (runStandardAlert({localizedString("[Network]"), error, buttons, m_window, StandardAlert::Dismissed})
        == StandardAlert::Default)
        m_hooks.quit();
}

} // namespace lf
