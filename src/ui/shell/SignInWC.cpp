#include "shell/SignInWC.h"

#include "shell/MacClientAppDelegate.h"
#include "shell/Scripting.h"
#include "shell/SocialSignInWC.h"
#include "shell/StandardAlert.h"
#include "shell/SupportWC.h"
#include "shell/ToSVC.h"

#include "api/APIResult.h"
#include "api/ServiceAPI.h"
#include "foundation/Clock.h"
#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Strings.h"
#include "foundation/TextRules.h"
#include "foundation/Workers.h"
#include "session/Service.h"
#include "session/SessionRecords.h"
#include "session/SignUp.h"
#include "session/SiteResources.h"
#include "toolkit/ClockTimer.h"
#include "toolkit/LFAlert.h"

#include <QDesktopServices>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace lf {

namespace {

QPointer<SignInWC> s_current;

const char *const kObserved[]
    = {ClientAction::Connect, kHostChangedNotification, MacClientAppDelegate::kAuthenticated,
        kScriptCommandNotification, ToSVC::kTosAccepted, kServiceIconsLoadedNotification};

constexpr int kSocialGap = 8;
constexpr int kFieldMinimumWidth = 240;

} // namespace

SignInWC::SignInWC(QWidget *window)
    : QDialog(window, Qt::Sheet) {
    setWindowModality(Qt::WindowModal);
    setObjectName(QStringLiteral("SignInWC"));
    setWindowTitle(localizedString(QStringLiteral("[SignInTitle]")));
    setAccessibleName(windowTitle());

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    auto *radios = new QHBoxLayout;
    for (const auto &[tag, key] :
        {std::pair {TagHaveAccount, "[HaveAccount]"}, {TagWantAccount, "[WantAccount]"}}) {
        auto *radio = new QRadioButton(localizedString(QLatin1String(key)), this);
        radio->setAccessibleName(radio->text());
        connect(radio, &QRadioButton::clicked, this, [this, tag = int(tag)] {
            LFAlert::cleanupNoAction();
            showPanel(tag);
        });
        m_controls.insert(tag, radio);
        radios->addWidget(radio);
    }
    layout->addLayout(radios);

    m_panels = new QStackedWidget(this);
    auto *signIn = new QWidget(m_panels);
    auto *signInForm = new QFormLayout(signIn);
    signInForm->addRow(
        localizedString(QStringLiteral("[EmailLabel]")), field(TagSignInEmail, "[EmailLabel]"));
    signInForm->addRow(localizedString(QStringLiteral("[PasswordLabel]")),
        field(TagSignInPassword, "[PasswordLabel]", true));
    auto *signInButtons = new QHBoxLayout;
    QPushButton *forgot = button(TagForgot, "[Forgot]");
    forgot->setFlat(true);
    forgot->setCursor(Qt::PointingHandCursor);
    signInButtons->addWidget(forgot);
    signInButtons->addStretch();
    signInButtons->addWidget(button(TagSignIn, "[Login]"));
    signInForm->addRow(signInButtons);
    m_panels->addWidget(signIn);

    auto *signUp = new QWidget(m_panels);
    auto *signUpForm = new QFormLayout(signUp);
    signUpForm->addRow(
        localizedString(QStringLiteral("[EmailLabel]")), field(TagSignUpEmail, "[EmailLabel]"));
    signUpForm->addRow(
        localizedString(QStringLiteral("[FirstNameLabel]")), field(TagFirstName, "[FirstNameLabel]"));
    signUpForm->addRow(
        localizedString(QStringLiteral("[LastNameLabel]")), field(TagLastName, "[LastNameLabel]"));
    signUpForm->addRow(localizedString(QStringLiteral("[PasswordLabel]")),
        field(TagSignUpPassword, "[PasswordLabel]", true));
    signUpForm->addRow(
        localizedString(QStringLiteral("[ConfirmLabel]")), field(TagConfirmation, "[ConfirmLabel]", true));
    auto *signUpButtons = new QHBoxLayout;
    signUpButtons->addStretch();
    QPushButton *signUpButton = button(TagSignUp, "[signup]");
    signUpButton->setMinimumWidth(220);
    signUpButtons->addWidget(signUpButton);
    signUpForm->addRow(signUpButtons);
    m_panels->addWidget(signUp);
    layout->addWidget(m_panels);

    // The sites a user can sign in with; filled once the anonymous root document arrived.
    m_social = new QWidget(this);
    auto *social = new QVBoxLayout(m_social);
    social->setContentsMargins(0, 0, 0, 0);
    social->setSpacing(kSocialGap);
    m_social->hide();
    layout->addWidget(m_social);

    auto *footer = new QHBoxLayout;
    m_host = new QLabel(this);
    m_host->setTextFormat(Qt::PlainText);
    m_host->setAccessibleName(localizedString(QStringLiteral("[HostLabel]")));
    m_activity = new QProgressBar(this);
    m_activity->setRange(0, 0);
    m_activity->setTextVisible(false);
    m_activity->setMaximumWidth(120);
    m_activity->setAccessibleName(localizedString(QStringLiteral("[ProgressTitle]")));
    m_activity->hide();
    footer->addWidget(m_host);
    footer->addStretch();
    footer->addWidget(m_activity);
    layout->addLayout(footer);

    connect(forgot, &QPushButton::clicked, this, &SignInWC::doForgot);
    connect(
        qobject_cast<QPushButton *>(control(TagSignIn)), &QPushButton::clicked, this, &SignInWC::doSignIn);
    connect(signUpButton, &QPushButton::clicked, this, &SignInWC::doSignUp);

    for (const char *name : kObserved)
        NotificationCenter::defaultCenter().addObserver(
            this, QLatin1String(name), [this](const Notification &n) { notification(n); });

    // The sheet blocks the menu bar; Quit must still work while it shows.
    auto *quit = new QShortcut(QKeySequence::Quit, this);
    connect(quit, &QShortcut::activated, this, [] {
        if (MacClientAppDelegate *app = MacClientAppDelegate::singleton())
            app->doQuit();
    });

    SupportWC::injectSupport(this, -5, -8);
    updateHost();
    loadServices();
    const QString user = Prefs::prefForKey(QLatin1String(PrefKey::UserName), QString()).toString();
    lineEdit(TagSignInEmail)->setText(user);
    updateButtons();
    showPanel(user.isEmpty() ? TagWantAccount : TagHaveAccount);
}

SignInWC::~SignInWC() {
    NotificationCenter::defaultCenter().removeObserver(this);
}

SignInWC *SignInWC::requestWC(QWidget *window) {
    if (s_current && s_current->isVisible()) {
        s_current->raise();
        return s_current;
    }
    // A sheet dismissed a moment ago is on its way out: a new one takes its place.
    s_current = new SignInWC(window);
    s_current->setAttribute(Qt::WA_DeleteOnClose);
    s_current->open();
    return s_current;
}

SignInWC *SignInWC::current() {
    return s_current;
}

QLineEdit *SignInWC::field(int tag, const QString &nameKey, bool password) {
    auto *edit = new QLineEdit(this);
    // Room for a whole everyday address, so its start does not scroll out of sight.
    edit->setMinimumWidth(kFieldMinimumWidth);
    edit->setAccessibleName(localizedString(nameKey).remove(QLatin1Char(':')));
    if (password)
        edit->setEchoMode(QLineEdit::Password);
    connect(edit, &QLineEdit::textEdited, this, [this] {
        LFAlert::cleanupNoAction();
        updateButtons();
    });
    m_controls.insert(tag, edit);
    return edit;
}

QPushButton *SignInWC::button(int tag, const QString &titleKey) {
    auto *push = new QPushButton(localizedString(titleKey), this);
    push->setAccessibleName(push->text());
    m_controls.insert(tag, push);
    return push;
}

QLineEdit *SignInWC::lineEdit(int tag) const {
    return qobject_cast<QLineEdit *>(control(tag));
}

int SignInWC::panel() const {
    return m_panels->currentIndex() == 0 ? TagHaveAccount : TagWantAccount;
}

void SignInWC::showPanel(int tag) {
    const bool signIn = tag == TagHaveAccount;
    qobject_cast<QRadioButton *>(control(TagHaveAccount))->setChecked(signIn);
    qobject_cast<QRadioButton *>(control(TagWantAccount))->setChecked(!signIn);
    m_panels->setCurrentIndex(signIn ? 0 : 1);
    // The sheet fits the panel on show: the short sign-in panel would otherwise keep the height of
    // the sign-up one, with a gap under its buttons.
    for (int i = 0; i < m_panels->count(); ++i) {
        const bool shown = i == m_panels->currentIndex();
        m_panels->widget(i)->setSizePolicy(
            QSizePolicy::Preferred, shown ? QSizePolicy::Preferred : QSizePolicy::Ignored);
    }
    m_panels->adjustSize();
    adjustSize();
    // Return presses the button of the panel on show, and only while it is enabled.
    qobject_cast<QPushButton *>(control(TagSignIn))->setDefault(signIn);
    qobject_cast<QPushButton *>(control(TagSignUp))->setDefault(!signIn);
    lineEdit(signIn ? TagSignInEmail : TagSignUpEmail)->setFocus();
}

void SignInWC::updateButtons() {
    const QString signInPassword = lineEdit(TagSignInPassword)->text();
    control(TagSignIn)->setEnabled(validEmail(lineEdit(TagSignInEmail)->text()) && signInPassword.size() > 3);

    const bool emailOk = validEmail(lineEdit(TagSignUpEmail)->text());
    const QString password = lineEdit(TagSignUpPassword)->text();
    const QString confirmation = lineEdit(TagConfirmation)->text();
    const bool shortPassword = password.size() < kMinimumPasswordLength;
    QString title;
    if (!password.isEmpty() && shortPassword)
        title = QStringLiteral("[pw<4]");
    else if (!confirmation.isEmpty() && (shortPassword || confirmation != password))
        title = QStringLiteral("[pwnomatch]");
    else if (emailOk)
        title = QStringLiteral("[signup]");
    else
        title = QStringLiteral("[femail]");
    auto *signUp = qobject_cast<QPushButton *>(control(TagSignUp));
    signUp->setText(localizedString(title));
    signUp->setAccessibleName(signUp->text());
    signUp->setEnabled(
        !m_registering && !m_termsTimer && emailOk && !shortPassword && confirmation == password);
}

void SignInWC::setBusy(bool busy) {
    m_activity->setVisible(busy);
}

void SignInWC::updateHost() {
    const MacClientAppDelegate *app = MacClientAppDelegate::singleton();
    m_host->setText(ServiceAPI::currentHost());
    m_host->setVisible(app && app->isInternal());
}

void SignInWC::loadServices() {
    const std::shared_ptr<Service> service = Service::currentService();
    QPointer<SignInWC> self(this);
    Workers::instance().start(QStringLiteral("sign-in sites"), [service, self] {
        const APIResult root = service->unauthRoot();
        const QVariantList services = root.isError()
            ? QVariantList()
            : root.value(kAuthenticationKey).toMap().value(QStringLiteral("services")).toList();
        runOnMainThread([self, services] {
            if (!self)
                return;
            self->m_services = services;
            self->reloadSocialButtons();
        });
    });
}

void SignInWC::reloadSocialButtons() {
    for (QWidget *old : m_social->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        m_controls.remove(old->property("tag").toInt());
        delete old;
    }
    m_social->setVisible(!m_services.isEmpty());
    if (m_services.isEmpty())
        return;
    auto *or_ = new QLabel(localizedString(QStringLiteral("[OrSignInWith]")), m_social);
    or_->setAlignment(Qt::AlignCenter);
    m_social->layout()->addWidget(or_);
    for (int i = 0; i < m_services.size(); ++i) {
        const QVariantMap site = m_services.at(i).toMap();
        const QString shown = site.value(QStringLiteral("display_name")).toString();
        const QImage icon = Service::iconForServiceConnect(site.value(QStringLiteral("name")).toString());
        auto *button = new QPushButton(m_social);
        button->setAutoDefault(false);
        if (!icon.isNull()) {
            button->setIcon(QPixmap::fromImage(icon));
            button->setIconSize(icon.size().boundedTo(QSize(24, 24)));
        }
        button->setText(localizedFormat(QStringLiteral("[SignInWith]"), {shown}));
        button->setAccessibleName(button->text());
        button->setProperty("tag", kSocialTagBase + i);
        m_controls.insert(kSocialTagBase + i, button);
        connect(button, &QPushButton::clicked, this, [this, site] {
            LFAlert::cleanupNoAction();
            SocialSignInWC::requestWC(site, parentWidget());
        });
        m_social->layout()->addWidget(button);
    }
}

void SignInWC::doSignIn() {
    if (!control(TagSignIn)->isEnabled())
        return;
    LFAlert::cleanupNoAction();
    const QString email = lineEdit(TagSignInEmail)->text().trimmed();
    const QString password = lineEdit(TagSignInPassword)->text();
    // Stored before the attempt, so that the next sheet offers it even when this one fails.
    Prefs::setPref(email, QLatin1String(PrefKey::UserName));
    setBusy(true);
    auto *timer = new ClockTimer(this);
    connect(timer, &ClockTimer::timeout, this, [timer, email, password] {
        timer->stop();
        timer->deleteLater();
        if (MacClientAppDelegate *app = MacClientAppDelegate::singleton()) {
            // A failure then shows its balloon over this sheet instead of asking for another.
            app->setAuthenticatingFromPanel(true);
            app->authenticate(email, password, {});
        }
    });
    timer->start(kSignInDelayMs);
}

void SignInWC::doForgot() {
    LFAlert::cleanupNoAction();
    const ServiceAPI::HostEntry server = ServiceAPI::currentServer();
    QDesktopServices::openUrl(
        QUrl(QStringLiteral("http://%1:%2/password_resets/new").arg(server.host, server.port)));
}

void SignInWC::doSignUp() {
    if (!control(TagSignUp)->isEnabled())
        return;
    LFAlert::cleanupNoAction();
    const std::shared_ptr<Service> service = Service::currentService();
    const QString terms = service->tosFile();
    if (!terms.isEmpty() && QFile::exists(terms)) {
        showTerms();
        return;
    }
    // The terms come with the update check; ask for them unless a download already runs, and
    // wait a bounded time, with the window alive, instead of polling for ever.
    m_termsFetchDone = std::make_shared<std::atomic<bool>>(service->tosDownloading());
    if (!service->tosDownloading()) {
        Workers::instance().start(QStringLiteral("terms"), [service, done = m_termsFetchDone] {
            service->checkForUpdate();
            *done = true;
        });
    }
    setBusy(true);
    m_termsWaitStartMs = Clock::instance().monotonicMs();
    m_termsTimer = new ClockTimer(this);
    connect(m_termsTimer, &ClockTimer::timeout, this, &SignInWC::pollTerms);
    m_termsTimer->start(kTermsPollMs);
    updateButtons();
}

void SignInWC::pollTerms() {
    const std::shared_ptr<Service> service = Service::currentService();
    const QString terms = service->tosFile();
    const bool ready = !terms.isEmpty() && QFile::exists(terms);
    const bool gaveUp = (*m_termsFetchDone && !service->tosDownloading())
        || Clock::instance().monotonicMs() - m_termsWaitStartMs >= kTermsWaitMs;
    if (!ready && !gaveUp)
        return;
    m_termsTimer->stop();
    m_termsTimer->deleteLater();
    m_termsTimer = nullptr;
    setBusy(false);
    updateButtons();
    if (ready)
        showTerms();
    else
        termsUnavailable();
}

void SignInWC::showTerms() {
    if (!ToSVC::requestToS(Service::currentService()->tosFile(), parentWidget()))
        termsUnavailable();
}

void SignInWC::termsUnavailable() {
    runStandardAlert({localizedString(QStringLiteral("[signup]")),
        localizedString(QStringLiteral("[NoTerms]")), {localizedString(QStringLiteral("[OK]"))}, this});
}

void SignInWC::completeRegistration() {
    const QString email = lineEdit(TagSignUpEmail)->text().trimmed();
    const QVariantMap fields = registrationFields(email, lineEdit(TagFirstName)->text(),
        lineEdit(TagLastName)->text(), lineEdit(TagSignUpPassword)->text());
    m_registering = true;
    updateButtons();
    setBusy(true);
    const std::shared_ptr<Service> service = Service::currentService();
    QPointer<SignInWC> self(this);
    const QString password = lineEdit(TagSignUpPassword)->text();
    Workers::instance().start(QStringLiteral("registration"), [service, fields, email, password, self] {
        const APIResult result = service->registration(fields);
        runOnMainThread([self, result, email, password] {
            if (self)
                self->registrationDone(result, email, password);
        });
    });
}

void SignInWC::registrationDone(const APIResult &result, const QString &email, const QString &password) {
    m_registering = false;
    setBusy(false);
    updateButtons();
    if (!result.isError() || (result.httpStatus() >= 200 && result.httpStatus() <= 299)) {
        if (!m_scriptedSignUp)
            runStandardAlert({localizedString(QStringLiteral("[confirmation]")),
                localizedFormat(QStringLiteral("[YouGotMail]"), {email}),
                {localizedString(QStringLiteral("[OK]"))}, this});
        // Coming back to the program after confirming the address signs in with this password.
        Prefs::setPref(email, QLatin1String(PrefKey::UserName));
        if (MacClientAppDelegate *app = MacClientAppDelegate::singleton()) {
            app->setRegistrationPW(password);
            app->setWaitingForMail(true);
        }
        lineEdit(TagSignInEmail)->setText(email);
        showPanel(TagHaveAccount);
        lineEdit(TagSignInPassword)->clear();
        updateButtons();
        lineEdit(TagSignInPassword)->setFocus();
        return;
    }
    runStandardAlert({localizedString(QStringLiteral("[network error]")), registrationErrorText(result),
        {localizedString(QStringLiteral("[OK]"))}, this});
    lineEdit(TagSignUpPassword)->setFocus();
    lineEdit(TagSignUpPassword)->selectAll();
}

void SignInWC::notification(const Notification &n) {
    if (!isVisible())
        return;
    if (n.name == QLatin1String(ClientAction::Connect)) {
        m_goingAway = true;
        setBusy(false);
        if (n.object.toString() == QLatin1String("success"))
            accept();
        else
            updateButtons();
    } else if (n.name == QLatin1String(MacClientAppDelegate::kAuthenticated)) {
        accept();
    } else if (n.name == QLatin1String(kHostChangedNotification)) {
        updateHost();
        loadServices();
    } else if (n.name == QLatin1String(ToSVC::kTosAccepted)) {
        QTimer::singleShot(kSignInDelayMs, this, [this] {
            if (!m_registering)
                completeRegistration();
        });
    } else if (n.name == QLatin1String(kServiceIconsLoadedNotification)) {
        if (!m_goingAway)
            reloadSocialButtons();
    } else if (n.name == QLatin1String(kScriptCommandNotification)) {
        scriptCommand(n.userInfo);
    }
}

void SignInWC::scriptCommand(const QVariantMap &userInfo) {
    const QString command = userInfo.value(QStringLiteral("command")).toString();
    const QVariantMap fields = userInfo.value(QStringLiteral("parameter")).toMap();
    const QString email = fields.value(QStringLiteral("email")).toString();
    const QString password = fields.value(QStringLiteral("password")).toString();
    if (command == QLatin1String(ScriptCommand::SignIn)) {
        // Signing in is the application's part when the script commits; here only the fields fill.
        showPanel(TagHaveAccount);
        lineEdit(TagSignInEmail)->setText(email);
        lineEdit(TagSignInPassword)->setText(password);
        updateButtons();
    } else if (command == QLatin1String(ScriptCommand::SignUp)) {
        showPanel(TagWantAccount);
        lineEdit(TagFirstName)->setText(fields.value(QStringLiteral("first")).toString());
        lineEdit(TagLastName)->setText(fields.value(QStringLiteral("last")).toString());
        lineEdit(TagSignUpEmail)->setText(email);
        lineEdit(TagSignUpPassword)->setText(password);
        lineEdit(TagConfirmation)->setText(password);
        updateButtons();
        m_scriptedSignUp = true;
        const QVariant committing = fields.value(QStringLiteral("committing"));
        if (!committing.isValid() || committing.toBool())
            completeRegistration();
    }
}

} // namespace lf
