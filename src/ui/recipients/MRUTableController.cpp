#include "recipients/MRUTableController.h"

#include "recipients/GroupSheets.h"
#include "recipients/LFAddressField.h"
#include "recipients/PersonVC.h"

#include "contacts/AddressBookUtil.h"
#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Strings.h"
#include "foundation/TextMatch.h"
#include "foundation/TextRules.h"
#include "foundation/Workers.h"
#include "sending/ShareTaskManager.h"
#include "session/AddressBookSync.h"
#include "session/Service.h"
#include "share/ShareTask.h"
#include "shell/Scripting.h"
#include "toolkit/Artwork.h"
#include "toolkit/LFAlert.h"
#include "toolkit/LFTheme.h"

#include <QAccessible>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace lf {

namespace {

constexpr int kRowHeight = 30;
constexpr int kIconSide = 20;
constexpr int kSiteIconSide = 24;
constexpr qreal kRowFontPoints = 12.0;

QString text(const QVariantMap &map, const char *key) {
    return map.value(QLatin1String(key)).toString();
}

bool isGroupEntry(const QVariantMap &entry) {
    return entry.contains(QLatin1String(ContactKey::Group));
}

// Rows: icon, "name <address>" or "name [members]" in bold, selected rows in the selected colour;
// the hovered row on a rounded background with the edit label at its right.
class RowDelegate : public QStyledItemDelegate {
public:
    explicit RowDelegate(MRUTableController *controller)
        : QStyledItemDelegate(controller)
        , m_controller(controller) { }

    static QRect editLabelRect(const QRect &row) {
        const QString label = localizedString(QStringLiteral("[CntEDIT]"));
        QFont font = QApplication::font();
        const int width = QFontMetrics(font).horizontalAdvance(label) + 16;
        return {row.right() - width - 4, row.top() + 4, width, row.height() - 8};
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const override {
        return {option.rect.width(), kRowHeight};
    }

    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        const int row = index.row();
        const QList<int> selection = m_controller->tableSelection();
        const bool selected = selection.contains(row);
        const bool hover = row == m_controller->hoverRow();
        const QRect r = option.rect.adjusted(2, 1, -2, -1);
        const MRUTableController::RowColours colours = MRUTableController::rowColours(selected, hover);
        QPainterPath rounded;
        rounded.addRoundedRect(r, 5, 5);
        if (colours.background != LFTheme::listBackgroundColor())
            p->fillPath(rounded, colours.background);
        // A selected row keeps its light background under the pointer; the hover colour rings it.
        if (selected && hover) {
            QPainterPath ring;
            ring.addRoundedRect(QRectF(r).adjusted(1, 1, -1, -1), 4.5, 4.5);
            p->setPen(QPen(LFTheme::tableHoverColor(), 2));
            p->drawPath(ring);
        }
        if (option.state & QStyle::State_HasFocus) {
            QPainterPath path;
            path.addRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
            p->setPen(QPen(LFTheme::hilightColor(), 1));
            p->drawPath(path);
        }
        const QVariantMap entry = index.data(Qt::UserRole).toMap();
        const QPixmap icon = Artwork::pixmap(
            isGroupEntry(entry) ? QStringLiteral("group_icon") : QStringLiteral("contact_icon"),
            p->device()->devicePixelRatioF());
        const QRect iconRect(r.left() + 6, r.center().y() - kIconSide / 2, kIconSide, kIconSide);
        p->drawPixmap(iconRect, icon);
        QFont font = option.font;
        font.setBold(true);
        font.setPointSizeF(qMax(font.pointSizeF(), kRowFontPoints * 0.85));
        p->setFont(font);
        p->setPen(colours.text);
        QRect textRect(iconRect.right() + 8, r.top(), r.right() - iconRect.right() - 12, r.height());
        if (hover)
            textRect.setRight(editLabelRect(option.rect).left() - 6);
        const QString shown
            = QFontMetrics(font).elidedText(personString(entry), Qt::ElideRight, textRect.width());
        p->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, shown);
        if (hover) {
            const QRect label = editLabelRect(option.rect);
            QPainterPath pill;
            pill.addRoundedRect(label, label.height() / 2.0, label.height() / 2.0);
            p->fillPath(pill, LFTheme::primaryColor());
            p->setPen(LFTheme::buttonTextColor());
            QFont small = QApplication::font();
            p->setFont(small);
            p->drawText(label, Qt::AlignCenter, localizedString(QStringLiteral("[CntEDIT]")));
        }
        p->restore();
    }

private:
    MRUTableController *m_controller;
};

} // namespace

MRUTableController::RowColours MRUTableController::rowColours(bool selected, bool hover) {
    if (selected)
        return {LFTheme::tableTextSelectedColor(), LFTheme::listSelectedRowColor()};
    return {LFTheme::tableTextColor(), hover ? LFTheme::tableHoverColor() : LFTheme::listBackgroundColor()};
}

MRUTableController::MRUTableController(RecipientsHost *host, QWidget *parent)
    : QWidget(parent)
    , m_recipients(std::make_shared<RecipientList>())
    , m_host(host) {
    setObjectName(QStringLiteral("recipientsArea"));
    setAccessibleName(localizedString(QStringLiteral("[RecipientsArea]")));
    build();
    observe();
    if (ShareTaskPtr task = ShareTask::singletonNA())
        m_recipients = task->recipients();
    check1xUX();
}

MRUTableController::~MRUTableController() {
    NotificationCenter::defaultCenter().removeObserver(this);
    delete m_createSheet;
    delete m_editSheet;
    delete m_personVC;
}

void MRUTableController::build() {
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 0);
    column->setSpacing(6);

    m_field = new LFAddressField(this);
    m_field->setAccessibleName(localizedString(QStringLiteral("[AddressFieldName]")));
    m_field->setPlaceholder(localizedString(QStringLiteral("[TypeEmail]")));
    m_editor = new MacBubbleEditor(this, this);
    m_editor->attachToText(m_field);
    m_field->upAction = [this] { return upArrow(); };
    m_field->downAction = [this] { return downArrow(); };
    m_field->escAction = [this] { escTyped(); };
    m_field->escWanted = [this] {
        return LFAlert::current() || m_picker->isVisible() || m_field->textCursor().hasSelection();
    };
    m_picker = new LFAddressPicker(this, this);
    column->addWidget(m_field);

    auto *strip = new QHBoxLayout;
    strip->setContentsMargins(0, 0, 0, 0);
    m_siteStrip = new QWidget(this);
    m_siteStrip->setObjectName(QStringLiteral("siteStrip"));
    m_siteStrip->setAccessibleName(localizedString(QStringLiteral("[SitesName]")));
    m_siteRow = new QHBoxLayout(m_siteStrip);
    m_siteRow->setContentsMargins(0, 0, 0, 0);
    m_siteRow->setSpacing(kSiteSpacing);
    strip->addWidget(m_siteStrip);
    strip->addStretch();
    m_groupButton = new QPushButton(localizedString(QStringLiteral("[CreateGroup]")), this);
    m_groupButton->setObjectName(QStringLiteral("createGroupButton"));
    m_groupButton->setAccessibleName(localizedString(QStringLiteral("[CreateGroup]")));
    QFont small = m_groupButton->font();
    small.setPointSizeF(qMax(small.pointSizeF() - 1, 8.0));
    m_groupButton->setFont(small);
    m_groupButton->setVisible(false);
    connect(m_groupButton, &QPushButton::clicked, this, &MRUTableController::doGroup);
    strip->addWidget(m_groupButton);
    column->addLayout(strip);

    m_table = new QListWidget(this);
    m_table->setObjectName(QStringLiteral("recentRecipients"));
    m_table->setAccessibleName(localizedString(QStringLiteral("[RecentRecipients]")));
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setMouseTracking(true);
    m_table->setUniformItemSizes(true);
    m_table->setItemDelegate(new RowDelegate(this));
    m_table->setFrameShape(QFrame::NoFrame);
    // Rows draw their own text, cut to the width: there is nothing to scroll to sideways.
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Room for a handful of rows: the list is how most shares are addressed.
    m_table->setMinimumHeight(kRowHeight * 5 + 4);
    QPalette palette = m_table->palette();
    palette.setColor(QPalette::Base, LFTheme::listBackgroundColor());
    // The first-use text is drawn on the list as well.
    palette.setColor(QPalette::WindowText, LFTheme::tableTextColor());
    m_table->setPalette(palette);
    m_table->viewport()->installEventFilter(this);
    m_table->installEventFilter(this);
    column->addWidget(m_table, 1);

    m_overlay = new QLabel(m_table->viewport());
    m_overlay->setObjectName(QStringLiteral("firstUseOverlay"));
    m_overlay->setAlignment(Qt::AlignCenter);
    m_overlay->setWordWrap(true);
    m_overlay->setTextFormat(Qt::RichText);
    m_overlay->setText(QStringLiteral("<img src=\"%1\"><br>%2")
                           .arg(Artwork::resourcePath(QStringLiteral("1xUX_list_graphic"), 1),
                               localizedString(QStringLiteral("[1xUXList]")).toHtmlEscaped()));
    m_overlay->setAccessibleName(localizedString(QStringLiteral("[1xUXList]")));
    m_overlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_overlay->hide();
    setFocusProxy(m_field);
}

void MRUTableController::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    m_overlay->setGeometry(m_table->viewport()->rect().adjusted(12, 12, -12, -12));
}

void MRUTableController::observe() {
    NotificationCenter &center = NotificationCenter::defaultCenter();
    auto on = [this, &center](const char *name, std::function<void(const Notification &)> handler) {
        center.addObserver(
            this, QString::fromLatin1(name), [this, handler](const Notification &n) { handle(n, handler); });
    };
    // The session's reports are never dropped: one that arrives while a script's command is handled
    // (the session reports a deletion at once) waits for the handler to finish.
    auto report = [this, &center](const char *name, std::function<void(const Notification &)> handler) {
        center.addObserver(this, QString::fromLatin1(name), [this, handler](const Notification &n) {
            if (m_notificationGuard) {
                m_deferred.append([handler, n] { handler(n); });
                return;
            }
            handle(n, handler);
        });
    };
    report(kServiceUpdateContactsNotification,
        [this](const Notification &n) { serviceUpdateContacts(n.object.toMap()); });
    report(kServiceActionErrorNotification,
        [this](const Notification &n) { serviceActionError(n.object.toMap()); });
    on(kShareTaskLoadedNotification, [this](const Notification &) { shareTaskLoaded(); });
    on(kUserChangedNotification, [this](const Notification &) {
        if (ShareTaskPtr task = ShareTask::singletonNA())
            m_recipients = task->recipients();
    });
    on(kAutoFillCompletedNotification, [this](const Notification &n) {
        if (n.object.value<QObject *>() == this)
            autoFillCompleted();
    });
    on(kContactChangedNotification, [this](const Notification &n) { contactChanged(n.object.toMap()); });
    on(kContactCreatedNotification, [this](const Notification &n) {
        const QVariantMap given = n.object.toMap();
        addTableName(text(given, ContactKey::Name), text(given, ContactKey::Email));
    });
    on(kContactDeletedNotification, [this](const Notification &n) { contactDeleted(n.object); });
    on(kRecipientAddedNotification, [this](const Notification &n) { recipientAdded(n.object.toMap()); });
    on(kRecipientDeletedNotification, [this](const Notification &n) { recipientDeleted(n.object.toInt()); });
    on(kScriptCommandNotification, [this](const Notification &n) { scriptCommand(n.userInfo); });
}

void MRUTableController::handle(
    const Notification &n, const std::function<void(const Notification &)> &handler) {
    // Not reentrant: what the handler's own calls post meanwhile is dropped.
    if (m_notificationGuard)
        return;
    m_notificationGuard = true;
    handler(n);
    while (!m_deferred.isEmpty())
        m_deferred.takeFirst()();
    m_notificationGuard = false;
}

QStringList MRUTableController::recipients() const {
    return m_recipients->list();
}

void MRUTableController::setRecipientList(const QStringList &list) {
    m_recipients->setList(list);
}

void MRUTableController::storeShare() {
    if (ShareTaskManager *manager = ShareTaskManager::singleton())
        manager->storeCurrentShareTask();
}

// ---- the bubble editor's delegate ----

QString MRUTableController::nameForEmail(const QString &recipient) {
    if (recipient.startsWith(kSiteRecipientPrefix)) {
        if (recipient.size() < 2)
            return {};
        for (const QVariant &item : m_builtinSites) {
            const QVariantMap site = item.toMap();
            if (site.value(QStringLiteral("connected")).toBool()
                && equalCaseIns(site.value(QStringLiteral("name")).toString(), recipient.mid(1)))
                return site.value(QStringLiteral("display_name")).toString();
        }
        return {};
    }
    if (recipient.startsWith(kGroupRecipientPrefix))
        return recipient.size() > 1 ? recipient.mid(1) : QString();
    return AddressBookUtil::singleton().nameForEmail(recipient);
}

std::function<QString(const QString &)> MRUTableController::autoFiller() {
    const QVariant sender = QVariant::fromValue<QObject *>(this);
    return [sender](const QString &typed) {
        return AddressBookUtil::singleton().autoFillAddress(typed, true, sender);
    };
}

void MRUTableController::recipientsUpdated(const QStringList &recipients) {
    if (m_tableSyncGuard)
        return;
    setRecipientList(recipients);
    syncTable(true);
}

void MRUTableController::cancelAutoFill() {
    m_picker->hide();
}

void MRUTableController::autoFillCompleted() {
    const QStringList matching = AddressBookUtil::singleton().matching();
    // A completion that arrives after its entry was finished has nothing left to complete.
    if (matching.isEmpty() || m_editor->autofillRange().length == 0) {
        m_picker->hide();
    } else {
        m_picker->setAddresses(matching);
        m_picker->glomToView(m_field);
    }
    setHoverRow(-1);
}

void MRUTableController::addressClicked(const QString &address, bool byArrow) {
    m_editor->chooseAutoFill(address, byArrow);
    if (!byArrow) {
        m_picker->hide();
        NotificationCenter::defaultCenter().post(QLatin1String(kShareTaskChangedNotification));
    }
}

bool MRUTableController::upArrow() {
    return m_picker->upArrow();
}

bool MRUTableController::downArrow() {
    return m_picker->downArrow();
}

void MRUTableController::escTyped() {
    // The balloon about the field goes first; the text it points at stays for correcting.
    if (LFAlert::current()) {
        LFAlert::cleanup();
        return;
    }
    m_editor->deleteQuietly([this] {
        QTextCursor cursor = m_field->textCursor();
        if (cursor.hasSelection()) {
            cursor.removeSelectedText();
            m_field->setTextCursor(cursor);
        }
    });
    m_picker->hide();
}

// ---- the list and the recipients ----

void MRUTableController::sortContacts() {
    const auto byLastUse = [](const QVariantMap &a, const QVariantMap &b) {
        return a.value(QLatin1String(ContactKey::LastUsed)).toDouble()
            > b.value(QLatin1String(ContactKey::LastUsed)).toDouble();
    };
    Service::currentService()->sortContacts(byLastUse);
    m_contacts = Service::currentService()->contacts();
}

void MRUTableController::reloadTable() {
    m_table->setUpdatesEnabled(false);
    if (m_table->count() != m_contacts.size()) {
        m_table->clear();
        for (qsizetype i = 0; i < m_contacts.size(); ++i)
            m_table->addItem(new QListWidgetItem);
    }
    for (qsizetype i = 0; i < m_contacts.size(); ++i) {
        QListWidgetItem *item = m_table->item(int(i));
        const QVariantMap entry = m_contacts.at(i).toMap();
        item->setData(Qt::UserRole, entry);
        item->setData(Qt::DisplayRole, personString(entry));
        item->setData(Qt::AccessibleTextRole, personString(entry));
        item->setData(Qt::CheckStateRole, m_selection.count(int(i)) ? Qt::Checked : Qt::Unchecked);
    }
    m_table->setUpdatesEnabled(true);
    m_table->viewport()->update();
    // Without an assistive technology listening the view sends no model changes, and the list's
    // accessible object would keep answering with the rows of before the reload.
    if (!QAccessible::isActive()) {
        if (QAccessibleInterface *list = QAccessible::queryAccessibleInterface(m_table))
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(list));
    }
}

void MRUTableController::check1xUX() {
    const bool empty = m_contacts.isEmpty();
    m_overlay->setGeometry(m_table->viewport()->rect().adjusted(12, 12, -12, -12));
    m_overlay->setVisible(empty);
}

void MRUTableController::showGroupButton() {
    m_groupButton->setVisible(m_selection.size() >= 2);
}

void MRUTableController::setHoverRow(int row) {
    if (m_hoverRow == row)
        return;
    m_hoverRow = row;
    m_table->viewport()->update();
}

void MRUTableController::clickedRow(int row) {
    if (row < 0 || row >= m_contacts.size())
        return;
    m_editor->finalizeText();
    if (m_selection.count(row))
        m_selection.erase(row);
    else
        m_selection.insert(row);
    reloadTable();
    syncAddressFieldToTable();
    showGroupButton();
}

void MRUTableController::syncAddressFieldToTable() {
    QStringList wanted;
    for (int row : m_selection)
        wanted.append(RecipientForEntry(m_contacts.at(row).toMap()));
    wanted += m_sites;
    // Only a row unselected takes its recipient away: an address typed a moment ago has no row
    // until the server has made it a contact, and must stay.
    QStringList rows;
    for (const QVariant &entry : std::as_const(m_contacts))
        rows.append(RecipientForEntry(entry.toMap()));
    const auto contains = [](const QStringList &in, const QString &recipient) {
        return std::any_of(
            in.begin(), in.end(), [&recipient](const QString &r) { return equalCaseIns(r, recipient); });
    };
    QStringList list = m_recipients->list();
    for (qsizetype i = list.size() - 1; i >= 0; --i) {
        qsizetype found = -1;
        for (qsizetype j = wanted.size() - 1; j >= 0 && found < 0; --j) {
            if (equalCaseIns(wanted.at(j), list.at(i)))
                found = j;
        }
        if (found >= 0)
            wanted.removeAt(found);
        else if (contains(rows, list.at(i)) || list.at(i).startsWith(kSiteRecipientPrefix))
            list.removeAt(i);
    }
    list += wanted;
    setRecipientList(list);
    m_tableSyncGuard = true;
    m_editor->mungeRecipients(list);
    m_tableSyncGuard = false;
    storeShare();
    NotificationCenter::defaultCenter().post(QLatin1String(kCheckButtonNotification));
}

void MRUTableController::syncTableToRecipients(bool addMissing) {
    m_editor->finalizeText();
    syncTable(addMissing);
}

void MRUTableController::syncTable(bool addMissing) {
    m_selection.clear();
    m_sites.clear();
    for (const QString &recipient : m_recipients->list()) {
        if (recipient.startsWith(kSiteRecipientPrefix)) {
            m_sites.append(recipient);
            continue;
        }
        const bool group = recipient.startsWith(kGroupRecipientPrefix);
        const QString key = group ? recipient.mid(1) : recipient;
        bool matched = false;
        for (qsizetype i = 0; i < m_contacts.size() && !matched; ++i) {
            const QVariantMap entry = m_contacts.at(i).toMap();
            // "%Name" is a group's: a contact of the same name is someone else.
            if (group != isGroupEntry(entry))
                continue;
            if (equalCaseIns(text(entry, group ? ContactKey::Name : ContactKey::Email), key)) {
                m_selection.insert(int(i));
                matched = true;
            }
        }
        // Only a real address becomes a contact: a half-typed entry kept in the list is no one.
        if (!matched && addMissing && !group && m_contactsLoaded && validEmail(recipient)
            && !m_pendingContacts.contains(recipient.toLower()))
            addContact(AddressBookUtil::singleton().nameForNewContact(recipient, m_pendingNames), recipient);
    }
    m_hoverRow = -1;
    reloadTable();
    NotificationCenter::defaultCenter().post(QLatin1String(kCheckButtonNotification));
    showGroupButton();
    storeShare();
}

void MRUTableController::syncAddressFieldToRecipients() {
    m_tableSyncGuard = true;
    m_editor->mungeRecipients(m_recipients->list());
    m_tableSyncGuard = false;
    storeShare();
}

QVariantMap MRUTableController::contactWithGuid(const QString &guid) const {
    if (guid.isEmpty())
        return {};
    for (const QVariant &item : m_contacts) {
        const QVariantMap entry = item.toMap();
        if (text(entry, ContactKey::Guid) == guid)
            return entry;
    }
    return {};
}

void MRUTableController::addTableName(const QString &name, const QString &email) {
    if (!validEmail(email))
        return;
    AddressBookUtil &book = AddressBookUtil::singleton();
    addContact(
        book.uniqueName(name.trimmed().isEmpty() ? book.nameForEmail(email) : name, m_pendingNames), email);
}

void MRUTableController::addContact(const QString &name, const QString &email) {
    m_pendingContacts.insert(email.toLower());
    m_pendingNames.append(name);
    Service::currentService()->addContact(
        {{QLatin1String(ContactKey::Name), name}, {QLatin1String(ContactKey::Email), email}});
}

// ---- the server's address book ----

void MRUTableController::serviceUpdateContacts(const QVariantMap &object) {
    const QVariantList before = m_contacts;
    m_contacts = Service::currentService()->xcontacts();
    m_contactsLoaded = true;
    const QString what = object.value(QLatin1String(kServiceUpdateContactsWhat)).toString();
    if (what.startsWith(QLatin1String(ContactWhat::Update)))
        postContactUpdate(object);
    else if (what.startsWith(QLatin1String(ContactWhat::Delete)))
        postContactDelete(object);
    else if (what.startsWith(QLatin1String(ContactWhat::GroupAdd)))
        postGroupAdd(object);
    else if (what.startsWith(QLatin1String(ContactWhat::GroupDelete)))
        postGroupDelete(object);
    else if (what.startsWith(QLatin1String(ContactWhat::GroupUpdate)))
        postGroupUpdate(object, before);
    if (what.startsWith(QLatin1String(ContactWhat::Add))) {
        m_pendingContacts.remove(text(object, ContactKey::Email).toLower());
        m_pendingNames.removeOne(text(object, ContactKey::Name));
    }
    if (what.startsWith(QLatin1String(ContactWhat::Load))) {
        m_pendingContacts.clear();
        m_pendingNames.clear();
    }
    sortContacts();
    check1xUX();
    reloadTable();
    updateSites();
    syncAddressFieldToRecipients();
    syncTable(false);
}

void MRUTableController::postContactUpdate(const QVariantMap &entry) {
    const QString email = text(entry, ContactKey::Email);
    QStringList list = m_recipients->list();
    for (QString &recipient : list) {
        if (equalCaseIns(recipient, email)) {
            recipient = email;
            break;
        }
    }
    setRecipientList(list);
    syncAddressFieldToRecipients();
    personModified(text(entry, ContactKey::Guid));
}

void MRUTableController::postContactDelete(const QVariantMap &entry) {
    const QString email = text(entry, ContactKey::Email);
    QStringList list = m_recipients->list();
    list.removeIf([&](const QString &r) { return equalCaseIns(r, email); });
    setRecipientList(list);
    syncAddressFieldToRecipients();
    personModified(text(entry, ContactKey::Guid));
}

void MRUTableController::postGroupAdd(const QVariantMap &entry) {
    const QVariantMap index = Service::currentService()->contactsDictionary();
    QStringList list = m_recipients->list();
    for (const QString &guid : entry.value(QLatin1String(ContactKey::Entries)).toStringList()) {
        const QString email = text(index.value(guid).toMap(), ContactKey::Email);
        if (!email.isEmpty())
            list.removeAll(email);
    }
    list.append(kGroupRecipientPrefix + text(entry, ContactKey::Name));
    setRecipientList(list);
    syncAddressFieldToRecipients();
}

void MRUTableController::postGroupDelete(const QVariantMap &entry) {
    if (m_recipients->removeAll(kGroupRecipientPrefix + text(entry, ContactKey::Name)) > 0)
        syncAddressFieldToRecipients();
}

void MRUTableController::postGroupUpdate(const QVariantMap &entry, const QVariantList &before) {
    // The group is known by its guid: its name before the change is the one in the old list.
    const QString guid = text(entry, ContactKey::Guid);
    QString oldName;
    for (const QVariant &item : before) {
        if (!guid.isEmpty() && text(item.toMap(), ContactKey::Guid) == guid && isGroupEntry(item.toMap()))
            oldName = text(item.toMap(), ContactKey::Name);
    }
    const QString newName = text(entry, ContactKey::Name);
    if (oldName.isEmpty() || oldName == newName)
        return;
    QStringList list = m_recipients->list();
    bool renamed = false;
    for (QString &recipient : list) {
        if (recipient.startsWith(kGroupRecipientPrefix) && equalCaseIns(recipient.mid(1), oldName)) {
            recipient = kGroupRecipientPrefix + newName;
            renamed = true;
        }
    }
    if (!renamed)
        return;
    setRecipientList(list);
    syncAddressFieldToRecipients();
}

void MRUTableController::personModified(const QString &guid) {
    if (guid.isEmpty())
        return;
    const QVariantList snapshot = m_contacts;
    std::shared_ptr<Service> service = Service::currentService();
    QPointer<MRUTableController> self(this);
    Workers::instance().start(QStringLiteral("groups of a changed contact"), [snapshot, service, guid, self] {
        const QVariantMap index = service->contactsDictionary();
        for (const QVariant &item : snapshot) {
            QVariantMap group = item.toMap();
            QStringList entries = group.value(QLatin1String(ContactKey::Entries)).toStringList();
            if (!isGroupEntry(group) || !entries.contains(guid))
                continue;
            if (!index.contains(guid)) {
                entries.removeAll(guid);
                group.insert(QLatin1String(ContactKey::Entries), entries);
            }
            group.remove(QLatin1String(ContactKey::Members));
            if (!entries.isEmpty()) {
                service->updateGroup(group);
            } else {
                service->deleteGroup(text(group, ContactKey::Guid));
                runOnMainThread([self, group] {
                    if (self)
                        self->postGroupDelete(group);
                });
            }
        }
    });
}

void MRUTableController::showError(const QString &status, const QString &body, const QString &header) {
    // A refusal made here has no HTTP status; 0 still marks the record as an error to show.
    if (m_host)
        m_host->showError(APIResult(QVariantMap {{QLatin1String(ResultKey::HttpStatus), 0},
                              {QLatin1String(ResultKey::HttpStatusStr), status},
                              {QLatin1String(ResultKey::HttpStatusBody), body}}),
            header);
}

void MRUTableController::serviceActionError(const QVariantMap &object) {
    // A contact that could not be made may be asked for again.
    m_pendingContacts.clear();
    m_pendingNames.clear();
    if (m_host)
        m_host->showError(APIResult(object), object.value(QLatin1String(kServiceActionErrorWhat)).toString());
}

void MRUTableController::shareTaskLoaded() {
    if (ShareTaskPtr task = ShareTask::singletonNA())
        m_recipients = task->recipients();
    if (m_contactsLoaded && m_sitesBuilt) {
        syncAddressFieldToRecipients();
        syncTable(true);
    } else {
        syncAddressFieldToRecipients();
    }
}

void MRUTableController::signOut() {
    m_contacts = QVariantList();
    m_contactsLoaded = true;
    m_selection.clear();
    m_pendingContacts.clear();
    m_pendingNames.clear();
    m_tableSyncGuard = true;
    m_field->clear();
    m_tableSyncGuard = false;
    m_editor->mungeRecipients({});
    updateSites();
    check1xUX();
    reloadTable();
    showGroupButton();
}

void MRUTableController::setAddressFieldText(const QString &text) {
    m_editor->setText(text);
}

// ---- site icons ----

void MRUTableController::updateSites() {
    showSites(Service::currentService()->destinationsSnapshot());
}

void MRUTableController::showSites(const QVariantList &destinations) {
    while (QLayoutItem *item = m_siteRow->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (!m_host || !m_host->signedIn()) {
        m_builtinSites.clear();
        m_sitesBuilt = false;
        return;
    }
    QVariantList sites = destinations;
    std::stable_sort(sites.begin(), sites.end(), [](const QVariant &a, const QVariant &b) {
        const QVariantMap x = a.toMap(), y = b.toMap();
        const bool cx = x.value(QStringLiteral("connected")).toBool(),
                   cy = y.value(QStringLiteral("connected")).toBool();
        if (cx != cy)
            return cx;
        return x.value(QStringLiteral("display_name")).toString()
            < y.value(QStringLiteral("display_name")).toString();
    });
    m_builtinSites = sites;
    m_sitesBuilt = true;
    for (qsizetype i = 0; i < sites.size(); ++i) {
        const QVariantMap site = sites.at(i).toMap();
        const QString name = site.value(QStringLiteral("name")).toString();
        const QImage icon = Service::iconForService(name);
        if (icon.isNull())
            continue;
        const bool connected = site.value(QStringLiteral("connected")).toBool();
        const QString display = site.value(QStringLiteral("display_name")).toString();
        QPixmap pixmap = QPixmap::fromImage(
            icon.scaled(kSiteIconSide * 2, kSiteIconSide * 2, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        pixmap.setDevicePixelRatio(2);
        if (!connected) {
            QPainter p(&pixmap);
            const QPixmap badge = Artwork::pixmap(QStringLiteral("addBadge"), 2);
            const QSizeF badgeSize = badge.deviceIndependentSize();
            p.drawPixmap(
                QPointF(kSiteIconSide - badgeSize.width(), kSiteIconSide - badgeSize.height()), badge);
        }
        auto *button = new QToolButton(m_siteStrip);
        button->setIcon(QIcon(pixmap));
        button->setIconSize(QSize(kSiteIconSide, kSiteIconSide));
        button->setAutoRaise(true);
        button->setProperty("tag", int(i));
        button->setProperty("data", QStringLiteral("@%1").arg(name));
        button->setObjectName(
            QStringLiteral("@%1%2").arg(connected ? QStringLiteral("+") : QStringLiteral("-"), display));
        button->setToolTip(display);
        button->setAccessibleName(display);
        connect(button, &QToolButton::clicked, this, [this, i] { siteAction(int(i)); });
        auto *menu = new QMenu(button);
        menu->addAction(QStringLiteral("---"))->setEnabled(false);
        const QString key = connected ? QStringLiteral("[Unlink*]") : QStringLiteral("[LinkTo*]");
        connect(menu->addAction(localizedFormat(key, {display})), &QAction::triggered, this,
            [this, i] { siteMenuAction(int(i)); });
        button->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(button, &QWidget::customContextMenuRequested, menu,
            [menu, button](const QPoint &at) { menu->popup(button->mapToGlobal(at)); });
        m_siteRow->addWidget(button);
    }
}

void MRUTableController::siteAction(int index) {
    if (index < 0 || index >= m_builtinSites.size())
        return;
    const QVariantMap site = m_builtinSites.at(index).toMap();
    const QString name = site.value(QStringLiteral("name")).toString();
    if (site.value(QStringLiteral("connected")).toBool()) {
        const QString recipient = kSiteRecipientPrefix + name;
        if (!m_sites.contains(recipient))
            m_sites.append(recipient);
        m_editor->finalizeText();
        m_editor->addRecipient(recipient);
    } else if (m_host) {
        m_host->linkSite(name, site.value(QStringLiteral("display_name")).toString());
    }
}

void MRUTableController::siteMenuAction(int index) {
    if (index < 0 || index >= m_builtinSites.size())
        return;
    const QVariantMap site = m_builtinSites.at(index).toMap();
    const QString name = site.value(QStringLiteral("name")).toString();
    if (site.value(QStringLiteral("connected")).toBool()) {
        // The recipient goes at once, whatever the server answers.
        m_recipients->removeAll(kSiteRecipientPrefix + name);
        m_sites.removeAll(kSiteRecipientPrefix + name);
        syncAddressFieldToRecipients();
        syncTable(false);
        // The window never waits for the server; the icons are redrawn from the reloaded sites,
        // so the unlinked one shows as such.
        std::shared_ptr<Service> service = Service::currentService();
        QPointer<MRUTableController> self(this);
        Workers::instance().start(QStringLiteral("unlink site"), [service, name, self] {
            const APIResult reply = service->unlinkConsumer(name);
            if (reply.isError() || reply.toMap().contains(QStringLiteral("error")))
                return;
            const QVariantList destinations = service->destinations();
            runOnMainThread([self, destinations] {
                if (self)
                    self->showSites(destinations);
            });
        });
    } else if (m_host) {
        QString title = name;
        if (!title.isEmpty())
            title[0] = title[0].toUpper();
        m_host->linkSite(name, title);
    }
}

// ---- groups ----

void MRUTableController::doGroup() {
    QVariantList people;
    QSet<QString> seen;
    const QVariantMap index = Service::currentService()->contactsDictionary();
    auto add = [&](const QVariantMap &person) {
        const QString guid = text(person, ContactKey::Guid);
        if (!guid.isEmpty() && seen.contains(guid))
            return;
        seen.insert(guid);
        people.append(person);
    };
    for (int row : m_selection) {
        const QVariantMap entry = m_contacts.at(row).toMap();
        const QString email = text(entry, ContactKey::Email);
        if (!email.isEmpty() && !email.startsWith(kSiteRecipientPrefix)) {
            add(entry);
        } else if (email.isEmpty()) {
            for (const QString &guid : entry.value(QLatin1String(ContactKey::Entries)).toStringList()) {
                if (index.contains(guid))
                    add(index.value(guid).toMap());
            }
        }
    }
    delete m_createSheet;
    m_createSheet = new CreateGroupWC(window());
    m_createSheet->setPeople(people);
    connect(m_createSheet, &GroupSheet::buttonPressed, this, &MRUTableController::createGroupDidEnd);
    m_createSheet->open();
}

bool MRUTableController::newGroup(const QString &name, const QVariantList &people) {
    QStringList guids;
    for (const QVariant &person : people) {
        const QString guid = text(person.toMap(), ContactKey::Guid);
        if (!guid.isEmpty())
            guids.append(guid);
    }
    const int rc = Service::currentService()->addGroup(
        {{QLatin1String(ContactKey::Entries), guids}, {QLatin1String(ContactKey::Name), name}});
    if (rc != kContactChangeStarted) {
        showError(QStringLiteral("dupegroup"), localizedString(QStringLiteral("[dupegroup]")),
            localizedString(QStringLiteral("[GroupError]")));
        return false;
    }
    return true;
}

bool MRUTableController::updateGroup(const QVariantMap &group) {
    if (Service::currentService()->updateGroup(group) != kContactChangeStarted) {
        showError(QStringLiteral("dupegroup"), localizedString(QStringLiteral("[dupegroup]")),
            localizedString(QStringLiteral("[GroupError]")));
        return false;
    }
    return true;
}

void MRUTableController::createGroupDidEnd(int code) {
    CreateGroupWC *sheet = m_createSheet;
    if (!sheet)
        return;
    if (code == Save) {
        if (newGroup(sheet->groupName(), sheet->people()))
            sheet->endSheet();
    } else if (code == Cancel) {
        sheet->endSheet();
    } else if (code == EditGroupLink) {
        m_contactEditingGuid.clear();
        const QString name = sheet->groupName();
        const QVariantList people = sheet->people();
        sheet->endSheet();
        openGroupEditor({}, name, people);
    }
}

void MRUTableController::openGroupEditor(
    const QVariantMap &group, const QString &name, const QVariantList &people) {
    delete m_editSheet;
    m_editSheet = new EditGroupWC(window());
    if (!group.isEmpty()) {
        m_editSheet->editGroup(group);
    } else {
        m_editSheet->setGroupName(name);
        m_editSheet->copyPeople(people);
    }
    connect(m_editSheet, &GroupSheet::buttonPressed, this, &MRUTableController::editGroupDidEnd);
    m_editSheet->open();
}

void MRUTableController::editGroupDidEnd(int code) {
    EditGroupWC *sheet = m_editSheet;
    if (!sheet)
        return;
    QVariantMap group = contactWithGuid(m_contactEditingGuid);
    if (code == Save) {
        bool done;
        if (!group.isEmpty()) {
            QStringList names, guids;
            for (const QVariant &item : sheet->people()) {
                const QVariantMap person = item.toMap();
                names.append(text(person, ContactKey::Name));
                if (!text(person, ContactKey::Guid).isEmpty())
                    guids.append(text(person, ContactKey::Guid));
            }
            group.insert(QLatin1String(ContactKey::Name), sheet->groupName());
            group.insert(QLatin1String(ContactKey::Members), names.join(QStringLiteral(", ")));
            group.insert(QLatin1String(ContactKey::Entries), guids);
            done = updateGroup(group);
        } else {
            done = newGroup(sheet->groupName(), sheet->people());
        }
        if (done)
            sheet->endSheet();
    } else if (code == Cancel) {
        sheet->endSheet();
    } else if (code == DeleteGroupLink) {
        setHoverRow(-1);
        if (!group.isEmpty())
            Service::currentService()->deleteGroup(text(group, ContactKey::Guid));
        sheet->endSheet();
    }
}

// ---- the contact editor ----

void MRUTableController::editRow(int row) {
    if (row < 0 || row >= m_contacts.size())
        return;
    const QVariantMap entry = m_contacts.at(row).toMap();
    m_contactEditingGuid = text(entry, ContactKey::Guid);
    setHoverRow(-1);
    if (isGroupEntry(entry)) {
        openGroupEditor(entry, {}, {});
        return;
    }
    delete m_personVC;
    m_personVC = new PersonVC(
        entry, [this](const QString &name, const QString &email) { return editContact(name, email); },
        [this, entry] { deleteEntry(entry); }, window());
    m_personVC->open();
}

int MRUTableController::editContact(const QString &name, const QString &email) {
    QVariantMap entry = contactWithGuid(m_contactEditingGuid);
    if (entry.isEmpty())
        return -1;
    entry.insert(QLatin1String(ContactKey::Name), name);
    entry.insert(QLatin1String(ContactKey::Email), email);
    const int rc = Service::currentService()->updateContact(entry);
    if (rc == kContactChangeStarted) {
        setHoverRow(-1);
        return rc;
    }
    const QString body = rc == kContactNameClash ? localizedString(QStringLiteral("[cnamedupe]"))
        : rc == kContactEmailClash               ? localizedString(QStringLiteral("[cemaildupe]"))
                                                 : QStringLiteral("misc contact error");
    showError(QStringLiteral("contacterror"), body, localizedString(QStringLiteral("[ContactError]")));
    return rc;
}

void MRUTableController::deleteEntry(const QVariantMap &entry) {
    if (isGroupEntry(entry))
        Service::currentService()->deleteGroup(text(entry, ContactKey::Guid));
    else
        Service::currentService()->deleteContact(entry);
}

// ---- scripting ----

void MRUTableController::contactChanged(const QVariantMap &entry) {
    QVariantMap changed = entry;
    if (isGroupEntry(changed))
        updateGroup(changed);
    else
        Service::currentService()->updateContact(changed);
}

void MRUTableController::contactDeleted(const QVariant &entryOrName) {
    QVariantMap entry = entryOrName.toMap();
    if (entry.isEmpty()) {
        const QString name = entryOrName.toString();
        for (const QVariant &item : m_contacts) {
            if (text(item.toMap(), ContactKey::Name) == name) {
                entry = item.toMap();
                break;
            }
        }
    }
    if (!entry.isEmpty())
        deleteEntry(entry);
}

void MRUTableController::recipientAdded(const QVariantMap &given) {
    QString address = text(given, ContactKey::Email);
    QString name = text(given, ContactKey::Name);
    // A script may name the recipient as the field shows it: "%Group", "@site" or an address.
    if (address.isEmpty()
        && (name.startsWith(QLatin1Char('%')) || name.startsWith(QLatin1Char('@'))
            || name.contains(QLatin1Char('@')))) {
        address = name;
        name.clear();
    }
    if (!address.isEmpty() && m_recipients->list().contains(address))
        return;
    bool matched = false;
    for (const QVariant &item : m_contacts) {
        const QVariantMap entry = item.toMap();
        if ((!address.isEmpty() && equalCaseIns(RecipientForEntry(entry), address))
            || (!name.isEmpty() && equalCaseIns(text(entry, ContactKey::Name), name))) {
            address = RecipientForEntry(entry);
            name = text(entry, ContactKey::Name);
            matched = true;
            break;
        }
    }
    if (address.isEmpty())
        return;
    // Found by its name, the recipient may be there already.
    const QStringList present = m_recipients->list();
    if (std::any_of(
            present.begin(), present.end(), [&](const QString &r) { return equalCaseIns(r, address); }))
        return;
    if (!matched)
        addTableName(name, address);
    m_recipients->append(address);
    syncAddressFieldToRecipients();
    syncTable(false);
}

void MRUTableController::recipientDeleted(int index) {
    if (index < 0 || index >= m_recipients->count())
        return;
    m_recipients->removeAt(index);
    syncAddressFieldToRecipients();
    syncTable(false);
}

void MRUTableController::scriptCommand(const QVariantMap &userInfo) {
    const QString command = userInfo.value(QLatin1String(ScriptKey::Command)).toString();
    QVariant parameter = userInfo.value(QLatin1String(ScriptKey::Parameter));
    if (parameter.typeId() == QMetaType::Nullptr)
        parameter = QVariant();
    if (command == QLatin1String(ScriptCommand::CreateGroup)) {
        const QVariantMap fields = parameter.toMap();
        const QStringList members = fields.value(QLatin1String(ScriptKey::Members)).toStringList();
        QVariantList people;
        for (const QVariant &item : m_contacts) {
            if (members.contains(text(item.toMap(), ContactKey::Name)))
                people.append(item);
        }
        newGroup(fields.value(QLatin1String(ScriptKey::Name)).toString(), people);
    } else if (command == QLatin1String(ScriptCommand::DeleteContact)) {
        contactDeleted(parameter);
    }
}

// ---- the list's mouse and keys ----

bool MRUTableController::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_table->viewport()) {
        switch (event->type()) {
        case QEvent::MouseMove: {
            const QPoint at = static_cast<QMouseEvent *>(event)->position().toPoint();
            setHoverRow(m_picker->isVisible() ? -1 : m_table->indexAt(at).row());
            break;
        }
        case QEvent::Leave:
            setHoverRow(-1);
            break;
        case QEvent::MouseButtonRelease: {
            auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() != Qt::LeftButton)
                break;
            const QModelIndex index = m_table->indexAt(mouse->position().toPoint());
            if (!index.isValid())
                break;
            if (RowDelegate::editLabelRect(m_table->visualRect(index)).contains(mouse->position().toPoint()))
                editRow(index.row());
            else
                clickedRow(index.row());
            return true;
        }
        case QEvent::MouseButtonDblClick:
            return true;
        default:
            break;
        }
    } else if (watched == m_table && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const int row = m_table->currentRow();
        if (key->key() == Qt::Key_Space || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            clickedRow(row);
            return true;
        }
        if (key->key() == Qt::Key_E && key->modifiers() & Qt::ControlModifier) {
            editRow(row);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace lf
