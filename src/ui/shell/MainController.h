#pragma once

#include "shell/ShellAreas.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QProgressBar;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class QUrl;

namespace lf {

class MainWindow;
class WelcomeWindow;
struct Notification;

// An open photo-library palette (the palettes themselves live with the photo intake).
class PhotoPalette {
public:
    virtual ~PhotoPalette() = default;
    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
};

// The main window's controller: the sender line, the recipients and photo areas, the note, Share
// and Cancel, the contacts-linking menu, the welcome page and the scripting commands. One exists
// while the main window does.
class MainController : public QObject, public RecipientsHost {
    Q_OBJECT
public:
    // Notifications this controller posts or observes beyond those of the core.
    static constexpr const char *kShareCancelled = "shareCancelled";
    static constexpr const char *kCheckButton = kCheckButtonNotification;
    static constexpr const char *kSitesChanged = "sitesChanged";
    static constexpr const char *kUserChanged = kUserChangedNotification;
    static constexpr const char *kShowPhotoPalette = "showPhotoPalette";
    static constexpr const char *kTogglePhotoPalette = "togglePhotoPalette";
    static constexpr const char *kPhotoPaletteChanged = "photoPaletteChanged";
    static constexpr const char *kScriptCommand = "scriptCommand";
    static constexpr const char *kScriptNotification = "scriptNotification";
    static constexpr int kShareTag = 1000;
    static constexpr int kCancelTag = 1001;

    // Opens the linking window for a site: its name, whether it links contacts, the menu title.
    using SiteLinker = std::function<void(const QString &name, bool contacts, const QString &title)>;
    using WelcomeOpener = std::function<void(const QUrl &url)>;
    // Makes a palette for the main window; `option` picks the photo-library one.
    using PaletteFactory = std::function<std::unique_ptr<PhotoPalette>(bool option, QWidget *window)>;

    explicit MainController(MainWindow *window, QObject *parent = nullptr);
    ~MainController() override;

    static MainController *singleton();

    MainWindow *mainWindow() const;
    // The areas' places; the controller does not own the areas' objects beyond their widgets.
    void setRecipientsArea(RecipientsArea *area);
    void setPhotoDropArea(PhotoDropArea *area);
    RecipientsArea *recipientsArea() const { return m_recipients; }
    PhotoDropArea *photoDropArea() const { return m_drop; }

    void setSiteLinker(SiteLinker linker) { m_siteLinker = std::move(linker); }
    const SiteLinker &siteLinker() const { return m_siteLinker; }
    void setWelcomeOpener(WelcomeOpener opener) { m_welcomeOpener = std::move(opener); }
    void setPaletteFactory(PaletteFactory factory) { m_paletteFactory = std::move(factory); }

    void buttonClick(int tag);
    void doShareButton();
    void doCancelButton();
    void checkShareButtonStatus();
    void disabledButtonClick(int tag);
    // Sorts files from web addresses and hands them to the drop area: the files first.
    void dropFiles(const QStringList &items);
    void dropFileURL(const QString &url);
    // Rebuilds the contacts-linking menu from the session's sites.
    void updateMenu();
    void contactMenuClicked(QAction *item);
    void signOut();
    // Refreshes the sites in the background, then the recipients area.
    void appActivate();
    void showPhotoPalette(bool show, bool option);
    void doPlugInsPage();
    void scriptCommand(const QVariantMap &userInfo);
    void scriptNotification(const QVariantMap &userInfo);

    // RecipientsHost
    bool signedIn() const override;
    void linkSite(const QString &name, const QString &title) override;
    void showError(const APIResult &result, const QString &header) override;

    // The window's parts, for the delegate, the keyboard order and tests.
    QLabel *fromLabel() const { return m_fromLabel; }
    // Shown while nobody is signed in: opens the sign-in sheet.
    QPushButton *signInButton() const { return m_signInButton; }
    QPushButton *shareButton() const { return m_shareButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    QPlainTextEdit *noteField() const { return m_noteField; }
    QToolButton *linkContactsButton() const { return m_linkButton; }
    QMenu *linkContactsMenu() const { return m_linkMenu; }
    // The "[Sharing]" sheet while it shows.
    QWidget *sharingSheet() const { return m_sharingSheet; }
    // What is being sent, left of the buttons, while a share uploads; empty text hides it.
    void showSendingStatus(const QString &status, double done);
    QLabel *sendingStatus() const { return m_sendingStatus; }
    WelcomeWindow *welcomeWindow() const;
    bool photoPaletteOpen() const { return m_palette && m_palette->isOpen(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void build();
    void notification(const Notification &notification);
    void noteChanged();
    void showFromLine();
    void showStatusLine();
    // What a share still needs, as the sentence the user reads; empty when Share may go.
    QString missingForShare() const;
    void firstConnection(const QVariant &outcome);
    QList<QVariantMap> linkableSites() const;
    void updateTabOrder();

    QPointer<MainWindow> m_window;
    QLabel *m_fromLabel = nullptr;
    QPushButton *m_signInButton = nullptr;
    QWidget *m_recipientBar = nullptr;
    QToolButton *m_linkButton = nullptr;
    QMenu *m_linkMenu = nullptr;
    QWidget *m_recipientsPlace = nullptr;
    QWidget *m_photosPlace = nullptr;
    QPlainTextEdit *m_noteField = nullptr;
    QPushButton *m_shareButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QLabel *m_sendingStatus = nullptr;
    QProgressBar *m_sendingProgress = nullptr;
    RecipientsArea *m_recipients = nullptr;
    PhotoDropArea *m_drop = nullptr;
    QPointer<QWidget> m_sharingSheet;
    QPointer<WelcomeWindow> m_welcome;
    std::unique_ptr<PhotoPalette> m_palette;
    SiteLinker m_siteLinker;
    WelcomeOpener m_welcomeOpener;
    PaletteFactory m_paletteFactory;
    bool m_settingNote = false;
    QString m_shareTip;
    QString m_missing;
    QString m_sending;
};

} // namespace lf
