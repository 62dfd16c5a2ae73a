#include "shell/MainController.h"

#include "recipients/MRUTableController.h"
#include "shell/MacClientAppDelegate.h"
#include "shell/MainWindow.h"
#include "shell/WelcomeWindow.h"

#include "api/ServiceAPI.h"
#include "contacts/AddressBookUtil.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Strings.h"
#include "foundation/TextRules.h"
#include "foundation/Workers.h"
#include "sending/ShareTaskManager.h"
#include "session/Service.h"
#include "share/ShareTask.h"
#include "toolkit/Artwork.h"
#include "toolkit/LFTheme.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace lf {

namespace {

MainController *g_controller = nullptr;

constexpr int kRecipientBarHeight = 36;
// The link label's distance from the right edge of the recipients bar.
constexpr int kLinkInset = 16;

// The recipients bar: the theme's toolbar gradient.
class ToolbarStrip : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.fillRect(rect(), LFTheme::toolbarGradient().linear(QPointF(0, 0), QPointF(0, height())));
        painter.setPen(LFTheme::separatorColor());
        painter.drawLine(rect().bottomLeft(), rect().bottomRight());
    }
};

// A push button that also answers Return and Enter, as the window's main action should.
class ActionButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent *event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            animateClick();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

// Whether a handed-in string is a web address rather than a file, and the address.
std::optional<QString> webAddress(const QString &item) {
    if (item.startsWith(QLatin1String("/http/"))) {
        QString url = item;
        url.replace(QLatin1Char(':'), QLatin1Char('/'));
        url.replace(QLatin1String("/http/"), QLatin1String("http:"));
        return url;
    }
    if (item.startsWith(QLatin1String("http")) || item.startsWith(QLatin1String("data:")))
        return item;
    return std::nullopt;
}

} // namespace

MainController::MainController(MainWindow *window, QObject *parent)
    : QObject(parent)
    , m_window(window) {
    g_controller = this;
    build();
    auto &center = NotificationCenter::defaultCenter();
    for (const char *name : {kUserChanged, kShareTaskChangedNotification, kCheckButton, kSitesChanged,
             kUpdateExternalNotification, ClientAction::Connect, kShowPhotoPalette, kTogglePhotoPalette,
             kScriptNotification, kScriptCommand}) {
        center.addObserver(this, QLatin1String(name), [this](const Notification &n) { notification(n); });
    }
}

MainController::~MainController() {
    NotificationCenter::defaultCenter().removeObserver(this);
    if (g_controller == this)
        g_controller = nullptr;
    delete m_welcome;
}

MainWindow *MainController::mainWindow() const {
    return m_window;
}

WelcomeWindow *MainController::welcomeWindow() const {
    return m_welcome;
}

MainController *MainController::singleton() {
    return g_controller;
}

void MainController::build() {
    MainWindow *window = m_window;
    m_fromLabel = new QLabel(localizedString("[From]"), window->header());
    m_fromLabel->setObjectName(QStringLiteral("fromLabel"));
    // The name comes from the server.
    m_fromLabel->setTextFormat(Qt::PlainText);
    QFont small = m_fromLabel->font();
    small.setPointSizeF(qMax(small.pointSizeF() - 1, 9.0));
    m_fromLabel->setFont(small);
    QPalette fromPalette = m_fromLabel->palette();
    fromPalette.setColor(QPalette::WindowText, LFTheme::userTextColor());
    m_fromLabel->setPalette(fromPalette);
    window->header()->layout()->addWidget(m_fromLabel);
    // Signed out, the way back to the sheet (Escape or its close box dismisses it).
    m_signInButton = new QPushButton(localizedString("[SignInButton]"), window->header());
    m_signInButton->setObjectName(QStringLiteral("signInButton"));
    m_signInButton->setAccessibleName(m_signInButton->text().remove(QLatin1Char('&')));
    m_signInButton->setAutoDefault(false);
    connect(m_signInButton, &QPushButton::clicked, this, [] {
        if (MacClientAppDelegate *app = MacClientAppDelegate::singleton())
            app->signInNeeded();
    });
    window->header()->layout()->addWidget(m_signInButton);

    auto *column = new QVBoxLayout(window->body());
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);

    // The recipients: a bar with the contacts-linking menu above the area.
    auto *recipientsBox = new QWidget(window->body());
    auto *recipientsColumn = new QVBoxLayout(recipientsBox);
    recipientsColumn->setContentsMargins(0, 0, 0, 0);
    recipientsColumn->setSpacing(0);
    m_recipientBar = new ToolbarStrip(recipientsBox);
    m_recipientBar->setFixedHeight(kRecipientBarHeight);
    auto *barRow = new QHBoxLayout(m_recipientBar);
    barRow->setContentsMargins(8, 0, kLinkInset, 0);
    auto *toLabel = new QLabel(localizedString("[To]"), m_recipientBar);
    barRow->addWidget(toLabel);
    barRow->addStretch();
    m_linkButton = new QToolButton(m_recipientBar);
    m_linkButton->setObjectName(QStringLiteral("linkContacts"));
    m_linkButton->setText(localizedString("[LinkContacts]"));
    m_linkButton->setToolTip(localizedString("[linkContactsTip]"));
    m_linkButton->setAccessibleName(localizedString("[LinkContacts]"));
    m_linkButton->setAutoRaise(true);
    m_linkButton->setPopupMode(QToolButton::InstantPopup);
    m_linkButton->setCursor(Qt::PointingHandCursor);
    m_linkButton->setStyleSheet(
        QStringLiteral("QToolButton { color: %1; border: none; }"
                       "QToolButton:pressed { color: %2; }"
                       "QToolButton:disabled { color: %3; }")
            .arg(LFTheme::primaryColor().name(), QColor(Qt::blue).name(), QColor(Qt::gray).name()));
    m_linkMenu = new QMenu(m_linkButton);
    m_linkMenu->setAccessibleName(localizedString("[LinkContacts]"));
    connect(m_linkMenu, &QMenu::triggered, this, &MainController::contactMenuClicked);
    m_linkButton->setMenu(m_linkMenu);
    barRow->addWidget(m_linkButton);
    recipientsColumn->addWidget(m_recipientBar);
    m_recipientsPlace = new QWidget(recipientsBox);
    m_recipientsPlace->setLayout(new QVBoxLayout);
    m_recipientsPlace->layout()->setContentsMargins(0, 0, 0, 0);
    recipientsColumn->addWidget(m_recipientsPlace, 1);
    column->addWidget(recipientsBox, 2);

    m_photosPlace = new QWidget(window->body());
    m_photosPlace->setLayout(new QVBoxLayout);
    m_photosPlace->layout()->setContentsMargins(0, 0, 0, 0);
    column->addWidget(m_photosPlace, 3);

    m_noteField = new QPlainTextEdit(window->body());
    m_noteField->setObjectName(QStringLiteral("noteField"));
    m_noteField->setPlaceholderText(localizedString("[TypeNote]"));
    m_noteField->setAccessibleName(localizedString("[NoteName]"));
    m_noteField->setTabChangesFocus(true);
    m_noteField->setFixedHeight(64);
    connect(m_noteField, &QPlainTextEdit::textChanged, this, &MainController::noteChanged);
    column->addWidget(m_noteField);

    auto *buttons = new QHBoxLayout;
    // The window clears for the next share at once; this says how the last one is getting on.
    m_sendingStatus = new QLabel(window->body());
    m_sendingStatus->setObjectName(QStringLiteral("sendingStatus"));
    m_sendingStatus->setAccessibleName(localizedString("[SendingName]"));
    m_sendingProgress = new QProgressBar(window->body());
    m_sendingProgress->setRange(0, 100);
    m_sendingProgress->setTextVisible(false);
    m_sendingProgress->setFixedSize(90, 8);
    m_sendingProgress->setAccessibleName(localizedString("[SendingName]"));
    buttons->addWidget(m_sendingProgress);
    buttons->addWidget(m_sendingStatus);
    showSendingStatus(QString(), 0.0);
    buttons->addStretch();
    m_cancelButton = new ActionButton(
        Artwork::icon(QStringLiteral("icon_cancel")), localizedString("[Cancel]"), window->body());
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setAccessibleName(localizedString("[Cancel]"));
    m_cancelButton->setProperty("tag", kCancelTag);
    m_shareButton = new ActionButton(
        Artwork::icon(QStringLiteral("lantern_tag")), localizedString("[Share]"), window->body());
    m_shareButton->setObjectName(QStringLiteral("shareButton"));
    m_shareButton->setAccessibleName(localizedString("[Share]"));
    m_shareButton->setProperty("tag", kShareTag);
    m_shareButton->setDefault(true);
    // Return belongs to the address and note fields; this shares from anywhere in the window.
    m_shareButton->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    m_shareTip = localizedFormat(
        QStringLiteral("[ShareTip]"), {m_shareButton->shortcut().toString(QKeySequence::NativeText)});
    m_shareButton->setToolTip(m_shareTip);
    m_shareButton->setEnabled(false);
    m_shareButton->setMinimumWidth(110);
    // A click on the disabled button says what is missing; a disabled widget gets no click, but
    // its event filter still sees it.
    m_shareButton->installEventFilter(this);
    for (QPushButton *button : {m_cancelButton, m_shareButton}) {
        connect(button, &QPushButton::clicked, this,
            [this, button] { buttonClick(button->property("tag").toInt()); });
        buttons->addWidget(button);
    }
    column->addLayout(buttons);

    setRecipientsArea(new MRUTableController(this, m_recipientsPlace));
    setPhotoDropArea(new PlaceholderPhotoDropArea(m_photosPlace));
    showFromLine();
    checkShareButtonStatus();

    // Escape in the window is Cancel. The shortcut belongs to the window, so it is not seen while a
    // sheet or a pop-up has the keyboard; a field that uses Escape itself claims it first.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, [this] {
        if (!QApplication::activePopupWidget() && !QApplication::activeModalWidget())
            doCancelButton();
    });
}

void MainController::setRecipientsArea(RecipientsArea *area) {
    if (m_recipients && m_recipients->widget() != area->widget())
        m_recipients->widget()->deleteLater();
    m_recipients = area;
    m_recipientsPlace->layout()->addWidget(area->widget());
    updateTabOrder();
}

bool MainController::signedIn() const {
    const MacClientAppDelegate *app = MacClientAppDelegate::singleton();
    return app && app->authenticated();
}

void MainController::linkSite(const QString &name, const QString &title) {
    if (m_siteLinker)
        m_siteLinker(name, false, title);
}

void MainController::showError(const APIResult &result, const QString &header) {
    if (MacClientAppDelegate *app = MacClientAppDelegate::singleton())
        app->checkNetError(result, header);
}

void MainController::setPhotoDropArea(PhotoDropArea *area) {
    if (m_drop && m_drop->widget() != area->widget())
        m_drop->widget()->deleteLater();
    m_drop = area;
    m_photosPlace->layout()->addWidget(area->widget());
    updateTabOrder();
}

void MainController::showSendingStatus(const QString &status, double done) {
    m_sending = status;
    m_sendingProgress->setValue(qRound(qBound(0.0, done, 1.0) * 100));
    m_sendingProgress->setVisible(!status.isEmpty());
    showStatusLine();
}

void MainController::showStatusLine() {
    // A share on its way says how it is getting on; otherwise the line says what Share waits for.
    const QString text = m_sending.isEmpty() ? m_missing : m_sending;
    m_sendingStatus->setText(text);
    m_sendingStatus->setVisible(!text.isEmpty());
}

QString MainController::missingForShare() const {
    const MacClientAppDelegate *app = MacClientAppDelegate::singleton();
    if (!app || !app->authenticated())
        return localizedString("[nosignin]");
    const ShareTaskPtr task = ShareTask::singletonNA();
    if (!task || !task->hasPhotos())
        return localizedString("[nophotos]");
    if (!task->hasRecipients())
        return localizedString("[nopeople]");
    return {};
}

void MainController::updateTabOrder() {
    if (!m_recipients || !m_drop)
        return;
    QWidget::setTabOrder(m_linkButton, m_recipients->widget());
    QWidget::setTabOrder(m_recipients->widget(), m_drop->widget());
    QWidget::setTabOrder(m_drop->widget(), m_noteField);
    QWidget::setTabOrder(m_noteField, m_cancelButton);
    QWidget::setTabOrder(m_cancelButton, m_shareButton);
}

bool MainController::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_shareButton && !m_shareButton->isEnabled() && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        disabledButtonClick(kShareTag);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void MainController::notification(const Notification &n) {
    const QByteArray name = n.name.toUtf8();
    if (name == kUserChanged) {
        showFromLine();
        checkShareButtonStatus();
    } else if (name == kShareTaskChangedNotification) {
        const ShareTaskPtr task = ShareTask::singletonNA();
        const QString message = task ? task->message() : QString();
        if (m_noteField->toPlainText() != message) {
            m_settingNote = true;
            m_noteField->setPlainText(message);
            m_settingNote = false;
        }
        if (!task || !task->hasPhotos())
            m_drop->updatePhotos();
        checkShareButtonStatus();
    } else if (name == kCheckButton) {
        checkShareButtonStatus();
    } else if (name == kSitesChanged) {
        appActivate();
    } else if (name == kUpdateExternalNotification) {
        updateMenu();
    } else if (name == ClientAction::Connect) {
        firstConnection(n.object);
    } else if (name == kShowPhotoPalette) {
        showPhotoPalette(n.userInfo.value(QStringLiteral("show")).toBool(),
            n.userInfo.value(QStringLiteral("option")).toBool());
    } else if (name == kTogglePhotoPalette) {
        showPhotoPalette(!photoPaletteOpen(), false);
    } else if (name == kScriptNotification) {
        scriptNotification(n.userInfo);
    } else if (name == kScriptCommand) {
        scriptCommand(n.userInfo);
    }
}

void MainController::showFromLine() {
    // The session keeps the stored name after a sign-out; the line shows only who is signed in.
    const MacClientAppDelegate *app = MacClientAppDelegate::singleton();
    const bool signedIn = app && app->authenticated();
    const QString user = signedIn ? Service::currentService()->userName() : QString();
    m_fromLabel->setText(localizedFormat(QStringLiteral("[From*]"), {user}));
    // A screen reader reads the name, not the label's text: it has to say who is signed in.
    m_fromLabel->setAccessibleName(
        signedIn ? localizedFormat(QStringLiteral("[FromName*]"), {user}) : localizedString("[FromName]"));
    m_signInButton->setVisible(!signedIn);
    // Addresses become server contacts and sites get linked as they are chosen: not for an
    // account that signed out.
    m_recipientsPlace->setEnabled(signedIn);
    m_linkButton->setEnabled(signedIn);
}

void MainController::buttonClick(int tag) {
    if (tag == kShareTag)
        doShareButton();
    else if (tag == kCancelTag)
        doCancelButton();
}

void MainController::checkShareButtonStatus() {
    // Signed out, nothing may be sent: a token left in memory belongs to the account that left.
    m_missing = missingForShare();
    m_shareButton->setEnabled(m_missing.isEmpty());
    // A disabled button takes no keyboard focus, so its sheet is out of a keyboard user's reach:
    // the tooltip and the status line say what is missing instead.
    m_shareButton->setToolTip(m_missing.isEmpty() ? m_shareTip : m_missing);
    m_shareButton->setAccessibleDescription(m_missing);
    showStatusLine();
}

void MainController::doShareButton() {
    checkShareButtonStatus();
    if (!m_shareButton->isEnabled())
        return;
    const QString note = m_noteField->toPlainText();
    m_recipients->syncTableToRecipients(true);
    ShareTask::singleton()->setMessage(note);
    if (MacClientAppDelegate *app = MacClientAppDelegate::singleton())
        app->sendBundle();
}

void MainController::doCancelButton() {
    auto &center = NotificationCenter::defaultCenter();
    center.post(QLatin1String(kShareCancelled));
    ShareTask::singleton()->clearTask();
    center.post(QLatin1String(kShareTaskChangedNotification));
    center.post(QLatin1String(kShareTaskLoadedNotification));
}

void MainController::disabledButtonClick(int tag) {
    if (tag != kShareTag)
        return;
    MacClientAppDelegate *app = MacClientAppDelegate::singleton();
    if (app && !app->authenticated()) {
        // What is missing is a sign-in.
        app->signInNeeded();
        return;
    }
    const ShareTaskPtr task = ShareTask::singletonNA();
    const bool hasPhotos = task && task->hasPhotos();
    if (m_sharingSheet)
        m_sharingSheet->close();
    auto *sheet = new QMessageBox(QMessageBox::Information, localizedString("[Sharing]"),
        localizedString("[Sharing]"), QMessageBox::Ok, m_window, Qt::Sheet);
    sheet->setObjectName(QStringLiteral("SharingSheet"));
    sheet->setInformativeText(localizedString(hasPhotos ? "[nopeople]" : "[nophotos]"));
    sheet->button(QMessageBox::Ok)->setText(localizedString("[OK]"));
    sheet->button(QMessageBox::Ok)->setAccessibleName(localizedString("[OK]"));
    sheet->setEscapeButton(QMessageBox::Ok);
    sheet->setAccessibleName(localizedString("[Sharing]"));
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_sharingSheet = sheet;
    sheet->open();
}

void MainController::noteChanged() {
    if (!m_settingNote)
        ShareTask::singleton()->setMessage(m_noteField->toPlainText());
}

void MainController::dropFiles(const QStringList &items) {
    QStringList files;
    QStringList addresses;
    for (const QString &item : items) {
        if (const std::optional<QString> url = webAddress(item))
            addresses.append(*url);
        else
            files.append(item);
    }
    if (!files.isEmpty())
        m_drop->dropFiles(files);
    for (const QString &url : addresses)
        m_drop->dropFileURL(url);
}

void MainController::dropFileURL(const QString &url) {
    m_drop->dropFileURL(url);
}

QList<QVariantMap> MainController::linkableSites() const {
    QList<QVariantMap> out;
    const QVariantList services
        = Service::currentService()->consumers().toMap().value(QLatin1String(SiteKey::Services)).toList();
    for (const QVariant &item : services) {
        const QVariantMap site = item.toMap();
        const QVariantMap capabilities = site.value(QLatin1String(SiteKey::Capabilities)).toMap();
        if (capabilities.value(QLatin1String(SiteKey::AddressSource)).toInt() == 1)
            out.append(site);
    }
    return out;
}

void MainController::updateMenu() {
    m_linkMenu->clear();
    QAction *book = m_linkMenu->addAction(localizedString("[AppleAB]"));
    book->setCheckable(true);
    book->setChecked(true);
    book->setEnabled(false);
    for (const QVariantMap &site : linkableSites()) {
        QAction *item = m_linkMenu->addAction(
            capitalizedWords(site.value(QLatin1String(SiteKey::DisplayName)).toString()));
        item->setCheckable(true);
        item->setChecked(site.value(QLatin1String(SiteKey::Connected)).toBool());
    }
}

void MainController::contactMenuClicked(QAction *item) {
    // Menus may add accelerator marks to titles; the site is found by the title as shown.
    const QString title = item->text().remove(QLatin1Char('&'));
    for (const QVariantMap &site : linkableSites()) {
        if (capitalizedWords(site.value(QLatin1String(SiteKey::DisplayName)).toString()) != title)
            continue;
        const QString name = site.value(QLatin1String(SiteKey::Name)).toString();
        if (!site.value(QLatin1String(SiteKey::Connected)).toBool()) {
            if (m_siteLinker)
                m_siteLinker(name, true, title);
        } else {
            Workers::instance().start(QStringLiteral("unlinkConsumer"), [name] {
                const std::shared_ptr<Service> service = Service::currentService();
                service->unlinkConsumer(name);
                service->getConsumers();
                NotificationCenter::defaultCenter().postNotificationMainThread(
                    QLatin1String(kUpdateExternalNotification));
            });
        }
        return;
    }
}

void MainController::signOut() {
    ShareTask::singleton()->clearTask();
    m_drop->updateLabelText();
    m_drop->updateCaptionText();
    m_drop->updatePhotos();
    m_recipients->signOut();
    m_settingNote = true;
    m_noteField->clear();
    m_settingNote = false;
    showPhotoPalette(false, false);
    checkShareButtonStatus();
}

void MainController::appActivate() {
    QPointer<MainController> self(this);
    Workers::instance().start(QStringLiteral("appActivate"), [self] {
        const std::shared_ptr<Service> service = Service::currentService();
        service->setSitesDirty(true);
        service->sites();
        runOnMainThread([self] {
            if (self)
                self->m_recipients->updateSites();
        });
    });
}

void MainController::showPhotoPalette(bool show, bool option) {
    if (show) {
        if (!m_palette && m_paletteFactory)
            m_palette = m_paletteFactory(option, m_window);
        if (!m_palette)
            return;
        m_palette->open();
        NotificationCenter::defaultCenter().post(QLatin1String(kPhotoPaletteChanged), true);
    } else if (m_palette) {
        m_palette->close();
        NotificationCenter::defaultCenter().post(QLatin1String(kPhotoPaletteChanged), false);
        m_palette.reset();
    }
}

void MainController::firstConnection(const QVariant &outcome) {
    updateMenu();
    if (!Prefs::boolPrefForUserKey(QLatin1String(PrefKey::FirstConnect), true))
        return;
    if (outcome.toString() == QLatin1String("success")) {
        Prefs::setBoolPrefForUserKey(false, QLatin1String(PrefKey::FirstConnect));
        doPlugInsPage();
    }
}

void MainController::doPlugInsPage() {
    const ServiceAPI::HostEntry server = ServiceAPI::currentServer();
    const QUrl url(QStringLiteral("http://%1:%2/mac_welcome").arg(server.host, server.port));
    if (m_welcomeOpener) {
        m_welcomeOpener(url);
        return;
    }
    if (!m_welcome)
        m_welcome = new WelcomeWindow(m_window);
    m_welcome->load(url);
}

void MainController::scriptCommand(const QVariantMap &userInfo) {
    const QString command = userInfo.value(QStringLiteral("command")).toString();
    const QVariant parameter = userInfo.value(QStringLiteral("parameter"));
    const QVariantMap fields = parameter.toMap();
    // A script that only fills the fields ("committing" false) does not sign in or up.
    const bool committing = !fields.contains(QStringLiteral("committing"))
        || fields.value(QStringLiteral("committing")).toBool();
    MacClientAppDelegate *app = MacClientAppDelegate::singleton();
    if (command == QLatin1String("cancel")) {
        doCancelButton();
    } else if (command == QLatin1String("share")) {
        doShareButton();
    } else if (command == QLatin1String("signOut")) {
        if (app)
            app->doSignOut();
    } else if (command == QLatin1String("signIn")) {
        if (committing && app)
            app->scriptSignIn(fields);
    } else if (command == QLatin1String("signUp")) {
        if (committing && app)
            app->scriptSignUp(fields);
    }
}

void MainController::scriptNotification(const QVariantMap &userInfo) {
    for (auto it = userInfo.cbegin(); it != userInfo.cend(); ++it) {
        if (it.key() == QLatin1String("message")) {
            const QString message = it.value().toString();
            ShareTask::singleton()->setMessage(message);
            m_settingNote = true;
            m_noteField->setPlainText(message);
            m_settingNote = false;
        } else if (it.key() == QLatin1String("emailField")) {
            m_recipients->setAddressFieldText(it.value().toString());
        }
    }
}

} // namespace lf
