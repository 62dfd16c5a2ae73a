#pragma once

#include "recipients/GroupSheets.h"
#include "recipients/LFAddressField.h"
#include "recipients/LFAddressPicker.h"
#include "recipients/MacBubbleEditor.h"
#include "recipients/PersonVC.h"
#include "shell/ShellAreas.h"

#include <QColor>
#include <QLabel>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <QWidget>

#include <memory>
#include <set>

class QHBoxLayout;
class QListWidget;
class QPushButton;
class QToolButton;

namespace lf {

class RecipientList;
class Service;
struct Notification;

// The recipients area: the address field with its bubbles and completion, the site icons, and the
// list of contacts and groups, most recently used first. Selecting rows and typing addresses both
// edit the current share's recipients; each side follows the other.
class MRUTableController : public QWidget,
                           public RecipientsArea,
                           public BubbleEditorDelegate,
                           public AddressPickerDelegate {
    Q_OBJECT
public:
    // Button codes of the group sheets.
    enum SheetCode { Save = 1, Cancel = 2, EditGroupLink = 3, DeleteGroupLink = 4 };
    static constexpr int kSiteSpacing = 6;
    // What a row's text is drawn in, and on.
    struct RowColours {
        QColor text;
        QColor background;
    };
    static RowColours rowColours(bool selected, bool hover);

    // `host` is the shell around the area: sign-in state, site linking, error alerts.
    explicit MRUTableController(RecipientsHost *host, QWidget *parent = nullptr);
    ~MRUTableController() override;

    // RecipientsArea
    QWidget *widget() override { return this; }
    // Finishes what is typed first: an address typed before Share is pressed is not lost.
    void syncTableToRecipients(bool addMissing) override;
    void signOut() override;
    void updateSites() override;
    // Rebuilds the site icons from `destinations` (the session's site records).
    void showSites(const QVariantList &destinations);
    void setAddressFieldText(const QString &text) override;

    // BubbleEditorDelegate
    QString nameForEmail(const QString &recipient) override;
    std::function<QString(const QString &)> autoFiller() override;
    void recipientsUpdated(const QStringList &recipients) override;
    void cancelAutoFill() override;
    // AddressPickerDelegate
    void addressClicked(const QString &address, bool byArrow) override;

    // A click on a row: toggles it among the recipients.
    void clickedRow(int row);
    // A click on a row's edit label: the contact or group editor.
    void editRow(int row);
    // The Create-group button.
    void doGroup();
    void siteAction(int index);
    void siteMenuAction(int index);
    bool upArrow();
    bool downArrow();
    void escTyped();

    QVariantMap contactWithGuid(const QString &guid) const;
    void addTableName(const QString &name, const QString &email);
    bool newGroup(const QString &name, const QVariantList &people);
    bool updateGroup(const QVariantMap &group);
    // The contact editor's Save: 0 when the session took the change.
    int editContact(const QString &name, const QString &email);
    void deleteEntry(const QVariantMap &entry);

    // Parts, for the window and tests.
    LFAddressField *addressField() const { return m_field; }
    MacBubbleEditor *bubbleEditor() const { return m_editor; }
    LFAddressPicker *picker() const { return m_picker; }
    QListWidget *table() const { return m_table; }
    QPushButton *createGroupButton() const { return m_groupButton; }
    QWidget *siteStrip() const { return m_siteStrip; }
    QWidget *firstUseOverlay() const { return m_overlay; }
    QList<int> tableSelection() const { return {m_selection.begin(), m_selection.end()}; }
    QVariantList contacts() const { return m_contacts; }
    QStringList recipients() const;
    QStringList sites() const { return m_sites; }
    QVariantList builtinSites() const { return m_builtinSites; }
    CreateGroupWC *createGroupSheet() const { return m_createSheet; }
    EditGroupWC *editGroupSheet() const { return m_editSheet; }
    PersonVC *personVC() const { return m_personVC; }
    int hoverRow() const { return m_hoverRow; }
    void setHoverRow(int row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void build();
    void observe();
    void handle(const Notification &n, const std::function<void(const Notification &)> &handler);
    void serviceUpdateContacts(const QVariantMap &object);
    void postContactUpdate(const QVariantMap &entry);
    void postContactDelete(const QVariantMap &entry);
    void postGroupAdd(const QVariantMap &entry);
    void postGroupDelete(const QVariantMap &entry);
    // `before`: the list as it was before the change.
    void postGroupUpdate(const QVariantMap &entry, const QVariantList &before);
    void personModified(const QString &guid);
    void serviceActionError(const QVariantMap &object);
    void shareTaskLoaded();
    void autoFillCompleted();
    void contactChanged(const QVariantMap &entry);
    void contactDeleted(const QVariant &entryOrName);
    void recipientAdded(const QVariantMap &given);
    void recipientDeleted(int index);
    void scriptCommand(const QVariantMap &userInfo);

    void syncTable(bool addMissing);
    void syncAddressFieldToTable();
    void syncAddressFieldToRecipients();
    void sortContacts();
    void reloadTable();
    void check1xUX();
    void showGroupButton();
    void storeShare();
    void createGroupDidEnd(int code);
    void editGroupDidEnd(int code);
    void openGroupEditor(const QVariantMap &group, const QString &name, const QVariantList &people);
    void showError(const QString &status, const QString &body, const QString &header);
    void setRecipientList(const QStringList &list);
    // Asks the session for a new contact, its name unique among those still on their way too.
    void addContact(const QString &name, const QString &email);

    QVariantList m_contacts;
    bool m_contactsLoaded = false;
    std::shared_ptr<RecipientList> m_recipients;
    std::set<int> m_selection;
    QStringList m_sites;
    QVariantList m_builtinSites;
    bool m_sitesBuilt = false;
    QString m_contactEditingGuid;
    // Addresses whose new contact was asked for and not yet reported, so a second parse asks once,
    // and the names given to them, so that one paste's new contacts get different names.
    QSet<QString> m_pendingContacts;
    QStringList m_pendingNames;
    RecipientsHost *m_host;
    bool m_notificationGuard = false;
    QList<std::function<void()>> m_deferred;
    bool m_tableSyncGuard = false;
    int m_hoverRow = -1;

    LFAddressField *m_field = nullptr;
    MacBubbleEditor *m_editor = nullptr;
    LFAddressPicker *m_picker = nullptr;
    QWidget *m_siteStrip = nullptr;
    QHBoxLayout *m_siteRow = nullptr;
    QPushButton *m_groupButton = nullptr;
    QListWidget *m_table = nullptr;
    QLabel *m_overlay = nullptr;
    QPointer<CreateGroupWC> m_createSheet;
    QPointer<EditGroupWC> m_editSheet;
    QPointer<PersonVC> m_personVC;
};

} // namespace lf
