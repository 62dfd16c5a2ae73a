#include "recipients/GroupSheets.h"

#include "contacts/AddressBookUtil.h"
#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Strings.h"
#include "foundation/TextMatch.h"
#include "foundation/TextRules.h"
#include "foundation/Workers.h"
#include "session/AddressBookSync.h"
#include "session/Service.h"
#include "toolkit/Artwork.h"
#include "toolkit/ClockTimer.h"
#include "toolkit/LFAlert.h"
#include "toolkit/LFTheme.h"
#include "toolkit/SheetSize.h"

#include <QEvent>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

namespace lf {

namespace {

constexpr int kReleaseDelayMs = 200;
constexpr int kCompletionDelayMs = 200;
constexpr int kFinishDelayMs = 100;

QString text(const QVariantMap &map, const char *key) {
    return map.value(QLatin1String(key)).toString();
}

QListWidget *peopleList(QWidget *parent, const QString &name) {
    auto *list = new QListWidget(parent);
    list->setAccessibleName(name);
    list->setUniformItemSizes(true);
    list->setAlternatingRowColors(true);
    return list;
}

void fill(QListWidget *list, const QVariantList &people) {
    list->clear();
    for (const QVariant &person : people)
        list->addItem(personString(person.toMap()));
}

} // namespace

QString personString(const QVariantMap &entry) {
    const QString email = text(entry, ContactKey::Email);
    if (!email.isEmpty())
        return QStringLiteral("%1 <%2>").arg(text(entry, ContactKey::Name), email);
    const QString members = text(entry, ContactKey::Members);
    // A member whose contact is gone has only a name (its guid).
    if (members.isEmpty() && !entry.contains(QLatin1String(ContactKey::Group)))
        return text(entry, ContactKey::Name);
    return QStringLiteral("%1 [%2]").arg(text(entry, ContactKey::Name), members);
}

QPushButton *sheetButton(const char *key, const char *image, QWidget *parent) {
    const QString label = localizedString(QLatin1String(key));
    auto *button = new QPushButton(Artwork::icon(QLatin1String(image)), label, parent);
    button->setAccessibleName(label);
    button->setAutoDefault(false);
    return button;
}

QPushButton *sheetLink(const QString &label, QWidget *parent) {
    auto *link = new QPushButton(label, parent);
    link->setFlat(true);
    link->setCursor(Qt::PointingHandCursor);
    link->setAccessibleName(label);
    link->setAutoDefault(false);
    link->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; text-decoration: underline; }"
                                       "QPushButton:disabled { color: palette(mid); }")
                            .arg(LFTheme::primaryColor().name()));
    return link;
}

// ---- both sheets ----

GroupSheet::GroupSheet(QWidget *parent)
    : QDialog(parent) {
    setWindowModality(Qt::WindowModal);
}

void GroupSheet::press(int code) {
    emit buttonPressed(code);
}

void GroupSheet::save() {
    press(1);
}

void GroupSheet::reject() {
    // Escape and the close box are Cancel; the owner ends the sheet.
    press(2);
}

void GroupSheet::endSheet() {
    hide();
    QTimer::singleShot(kReleaseDelayMs, this, &QObject::deleteLater);
}

void GroupSheet::buildNameField(const QString &accessibleName) {
    m_nameField = new QLineEdit(this);
    m_nameField->setObjectName(QStringLiteral("groupName"));
    m_nameField->setAccessibleName(accessibleName);
    m_nameField->setPlaceholderText(localizedString(QStringLiteral("[GroupNamePlaceholder]")));
    m_nameField->setMaxLength(kGroupNameLimit);
    connect(m_nameField, &QLineEdit::textChanged, this, [this](const QString &typed) {
        m_groupName = typed.left(kGroupNameLimit);
        nameEdited();
    });
}

void GroupSheet::buildButtons(QHBoxLayout *box, QPushButton *link) {
    if (link)
        box->addWidget(link);
    box->addStretch();
    m_cancel = sheetButton("[Cancel]", "icon_cancel", this);
    m_save = sheetButton("[Save]", "icon_save", this);
    m_save->setEnabled(false);
    connect(m_cancel, &QPushButton::clicked, this, [this] { press(2); });
    connect(m_save, &QPushButton::clicked, this, [this] { save(); });
    box->addWidget(m_cancel);
    box->addWidget(m_save);
}

void GroupSheet::nameEdited() { }

// ---- the create sheet ----

CreateGroupWC::CreateGroupWC(QWidget *parent)
    : GroupSheet(parent) {
    setObjectName(QStringLiteral("createGroupSheet"));
    setWindowTitle(localizedString(QStringLiteral("[CreateGroup]")));
    setAccessibleName(localizedString(QStringLiteral("[CreateGroup]")));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 12);
    auto *title = new QLabel(localizedString(QStringLiteral("[NewGroupTitle]")), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    column->addWidget(title);
    buildNameField(localizedString(QStringLiteral("[GroupNameName]")));
    column->addWidget(m_nameField);
    m_list = peopleList(this, localizedString(QStringLiteral("[GroupMembersName]")));
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setFocusPolicy(Qt::NoFocus);
    column->addWidget(m_list, 1);
    auto *buttons = new QHBoxLayout;
    m_editLink = sheetLink(localizedString(QStringLiteral("[EditGroup]")), this);
    m_editLink->setObjectName(QStringLiteral("editGroupLink"));
    m_editLink->setEnabled(false);
    connect(m_editLink, &QPushButton::clicked, this, [this] { press(3); });
    buildButtons(buttons, m_editLink);
    column->addLayout(buttons);
    // Return in the name field saves; leaving the field for Cancel must not.
    connect(m_nameField, &QLineEdit::returnPressed, this, [this] {
        if (m_save->isEnabled())
            press(1);
    });
    resize(380, 200);
    m_baseHeight = height();
}

void CreateGroupWC::nameEdited() {
    const bool named = !m_groupName.isEmpty();
    m_save->setEnabled(named);
    m_editLink->setEnabled(named);
}

void CreateGroupWC::setPeople(const QVariantList &people) {
    m_people = people;
    fill(m_list, people);
    const int extra = qMin(int(people.size()), kMaxGrowingPeople) - 2;
    resize(width(), m_baseHeight + qMax(0, extra) * kRowGrowth);
}

// ---- the group editor ----

EditGroupWC::EditGroupWC(QWidget *parent)
    : GroupSheet(parent)
    , m_timer(new ClockTimer(this))
    , m_finishTimer(new ClockTimer(this)) {
    setObjectName(QStringLiteral("editGroupSheet"));
    setWindowTitle(localizedString(QStringLiteral("[EditGroup]")));
    setAccessibleName(localizedString(QStringLiteral("[EditGroup]")));
    m_contacts = Service::currentService()->xcontacts();

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 12);
    buildNameField(localizedString(QStringLiteral("[GroupNameName]")));
    column->addWidget(m_nameField);

    auto *lists = new QHBoxLayout;
    auto *leftColumn = new QVBoxLayout;
    auto *leftHeader = new QLabel(localizedString(QStringLiteral("[ContactsHeader]")), this);
    leftHeader->setFixedHeight(32);
    leftColumn->addWidget(leftHeader);
    m_left = peopleList(this, localizedString(QStringLiteral("[ContactsHeader]")));
    m_left->setObjectName(QStringLiteral("groupContacts"));
    leftColumn->addWidget(m_left);
    lists->addLayout(leftColumn, 1);
    m_arrow = new QLabel(this);
    m_arrow->setObjectName(QStringLiteral("arrowMark"));
    m_arrow->setFixedWidth(28);
    m_arrow->setAlignment(Qt::AlignCenter);
    QFont arrowFont = m_arrow->font();
    arrowFont.setPointSizeF(arrowFont.pointSizeF() * 1.6);
    m_arrow->setFont(arrowFont);
    QPalette arrowPalette = m_arrow->palette();
    arrowPalette.setColor(QPalette::WindowText, LFTheme::primaryColor());
    m_arrow->setPalette(arrowPalette);
    lists->addWidget(m_arrow);
    auto *rightColumn = new QVBoxLayout;
    auto *rightHeader = new QLabel(localizedString(QStringLiteral("[MembersHeader]")), this);
    rightHeader->setFixedHeight(32);
    rightColumn->addWidget(rightHeader);
    m_right = peopleList(this, localizedString(QStringLiteral("[MembersHeader]")));
    m_right->setObjectName(QStringLiteral("groupMembers"));
    rightColumn->addWidget(m_right);
    lists->addLayout(rightColumn, 1);
    column->addLayout(lists, 1);

    m_contactField = new QLineEdit(this);
    m_contactField->setObjectName(QStringLiteral("memberField"));
    m_contactField->setAccessibleName(localizedString(QStringLiteral("[AddMemberName]")));
    m_contactField->setPlaceholderText(localizedString(QStringLiteral("[AddMemberPlaceholder]")));
    column->addWidget(m_contactField);

    auto *buttons = new QHBoxLayout;
    m_deleteLink = sheetLink(localizedString(QStringLiteral("[DeleteGroup]")), this);
    m_deleteLink->setObjectName(QStringLiteral("deleteGroupLink"));
    connect(m_deleteLink, &QPushButton::clicked, this, [this] { press(4); });
    buildButtons(buttons, m_deleteLink);
    column->addLayout(buttons);

    for (QListWidget *list : {m_left, m_right}) {
        list->setMouseTracking(true);
        list->viewport()->installEventFilter(this);
        connect(list, &QListWidget::itemEntered, this, [this, list](QListWidgetItem *) {
            if (!m_picker->isVisible())
                setArrow(list == m_left ? 1 : -1);
        });
        connect(list, &QListWidget::itemActivated, this,
            [this, list](QListWidgetItem *item) { moveRow(list == m_left, list->row(item)); });
    }
    m_contactField->installEventFilter(this);
    m_picker = new LFAddressPicker(this, this);
    connect(m_timer, &ClockTimer::timeout, this, &EditGroupWC::completionFired);
    connect(m_finishTimer, &ClockTimer::timeout, this, [this] {
        m_finishTimer->stop();
        finishContactEntry();
    });
    // Cancel or Delete: what is typed is dropped, never made a contact.
    connect(this, &GroupSheet::buttonPressed, this, [this](int code) {
        if (code != 1)
            m_finishTimer->stop();
    });
    connect(m_contactField, &QLineEdit::textEdited, this, &EditGroupWC::contactEdited);
    connect(m_contactField, &QLineEdit::returnPressed, this, &EditGroupWC::finishContactEntry);
    NotificationCenter::defaultCenter().addObserver(
        this, QLatin1String(kAutoFillCompletedNotification), [this](const Notification &n) {
            if (n.object.value<QObject *>() != this)
                return;
            const QStringList matching = AddressBookUtil::singleton().matching();
            if (matching.isEmpty()) {
                m_picker->hide();
            } else {
                m_picker->setAddresses(matching);
                m_picker->glomToView(m_contactField);
            }
        });
    fitSheetToWindow(this, {620, 420});
    cleanContacts();
    reload();
}

EditGroupWC::~EditGroupWC() {
    NotificationCenter::defaultCenter().removeObserver(this);
}

void EditGroupWC::editGroup(const QVariantMap &group) {
    setGroupName(text(group, ContactKey::Name));
    const QVariantMap index = Service::currentService()->contactsDictionary();
    m_people.clear();
    for (const QString &guid : group.value(QLatin1String(ContactKey::Entries)).toStringList()) {
        if (index.contains(guid))
            m_people.append(index.value(guid));
        else
            m_people.append(QVariantMap {{QLatin1String(ContactKey::Name), guid}});
    }
    cleanContacts();
    reload();
    checkSave();
    m_deleteLink->setVisible(true);
}

void EditGroupWC::copyPeople(const QVariantList &people) {
    m_people = people;
    cleanContacts();
    reload();
    checkSave();
    m_deleteLink->setVisible(false);
}

void EditGroupWC::setGroupName(const QString &name) {
    m_nameField->setText(name.left(kGroupNameLimit));
}

void EditGroupWC::nameEdited() {
    checkSave();
}

void EditGroupWC::checkSave() {
    // A member typed and not yet finished counts: Save finishes it.
    const bool members
        = !m_people.isEmpty() || (m_contactField && !m_contactField->text().trimmed().isEmpty());
    m_save->setEnabled(!m_groupName.isEmpty() && members && !m_busy);
}

void EditGroupWC::save() {
    m_finishTimer->stop();
    if (m_contactField->text().trimmed().isEmpty()) {
        if (!m_people.isEmpty() && !m_groupName.isEmpty())
            press(1);
        return;
    }
    m_saveAfterEntry = true;
    finishContactEntry();
    if (m_busy)
        return; // saved once the server has made the new contact
    m_saveAfterEntry = false;
    if (m_contactField->text().trimmed().isEmpty() && !m_people.isEmpty())
        press(1);
}

bool EditGroupWC::contactKey(QKeyEvent *key) {
    // The contact field keys as the address field's: the arrows walk the pop-up, Escape closes the
    // balloon or the pop-up (dropping the completed part) before it may cancel the sheet.
    switch (key->key()) {
    case Qt::Key_Up:
        return m_picker->upArrow();
    case Qt::Key_Down:
        return m_picker->downArrow();
    case Qt::Key_Escape:
        if (LFAlert::current()) {
            LFAlert::cleanup();
            return true;
        }
        if (m_picker->isVisible()) {
            m_timer->stop();
            if (m_contactField->hasSelectedText())
                m_contactField->del();
            m_picker->hide();
            return true;
        }
        return false;
    default:
        return false;
    }
}

void EditGroupWC::cleanContacts() {
    m_contacts.removeIf([this](const QVariant &item) {
        const QVariantMap entry = item.toMap();
        if (entry.contains(QLatin1String(ContactKey::Group)))
            return true;
        const QString email = text(entry, ContactKey::Email);
        for (const QVariant &member : std::as_const(m_people)) {
            if (!email.isEmpty() && equalCaseIns(text(member.toMap(), ContactKey::Email), email))
                return true;
        }
        return false;
    });
}

void EditGroupWC::reload() {
    fill(m_left, m_contacts);
    fill(m_right, m_people);
}

QString EditGroupWC::arrowMark() const {
    return m_arrow->text();
}

void EditGroupWC::setArrow(int direction) {
    m_arrow->setText(direction > 0 ? QStringLiteral("→") : direction < 0 ? QStringLiteral("←") : QString());
}

void EditGroupWC::moveRow(bool fromContacts, int row) {
    QVariantList &from = fromContacts ? m_contacts : m_people;
    QVariantList &to = fromContacts ? m_people : m_contacts;
    if (row < 0 || row >= from.size())
        return;
    to.append(from.takeAt(row));
    if (from.isEmpty())
        setArrow(0);
    reload();
    checkSave();
}

void EditGroupWC::select(bool toMembers) {
    QVariantList &from = toMembers ? m_contacts : m_people;
    QVariantList &to = toMembers ? m_people : m_contacts;
    while (!from.isEmpty())
        to.append(from.takeFirst());
    setArrow(0);
    reload();
    checkSave();
}

bool EditGroupWC::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_contactField && event->type() == QEvent::KeyPress
        && contactKey(static_cast<QKeyEvent *>(event)))
        return true;
    if (watched == m_contactField && event->type() == QEvent::FocusOut && !m_busy) {
        // Tab finishes at once; other ways out after a moment, so a click on Save finishes once.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)
            finishContactEntry();
        else if (reason != Qt::PopupFocusReason && isVisible())
            m_finishTimer->start(kFinishDelayMs);
    }
    if (event->type() == QEvent::Leave
        && (watched == m_left->viewport() || watched == m_right->viewport() || watched == m_contactField))
        setArrow(0);
    else if (event->type() == QEvent::Enter && watched == m_contactField)
        setArrow(1);
    else if (event->type() == QEvent::MouseButtonDblClick
        && (watched == m_left->viewport() || watched == m_right->viewport()))
        return true; // each click of it already moved a row
    else if (event->type() == QEvent::MouseButtonRelease
        && (watched == m_left->viewport() || watched == m_right->viewport())) {
        auto *list = watched == m_left->viewport() ? m_left : m_right;
        const QModelIndex index = list->indexAt(static_cast<QMouseEvent *>(event)->position().toPoint());
        if (index.isValid()) {
            moveRow(list == m_left, index.row());
            return true;
        }
    }
    return GroupSheet::eventFilter(watched, event);
}

void EditGroupWC::contactEdited() {
    LFAlert::cleanup();
    m_timer->start(kCompletionDelayMs);
    checkSave();
}

void EditGroupWC::completionFired() {
    m_timer->stop();
    const QString typed = m_contactField->text();
    const QVariant sender = QVariant::fromValue<QObject *>(this);
    QPointer<EditGroupWC> self(this);
    Workers::instance().start(QStringLiteral("member completion"), [typed, sender, self] {
        const QString first = AddressBookUtil::singleton().autoFillAddress(typed, false, sender);
        if (first.isEmpty())
            return;
        runOnMainThread([self, first, typed] {
            if (self)
                self->autoFillDone(first, typed);
        });
    });
}

void EditGroupWC::autoFillDone(const QString &candidate, const QString &) {
    const QString now = m_contactField->text();
    // Only after typing on since the last result: deleting never brings a completion back.
    if (now.size() > m_lastContact.size() && candidate.startsWith(now, Qt::CaseInsensitive)
        && candidate.size() > now.size()) {
        m_contactField->setText(candidate);
        m_contactField->setSelection(int(now.size()), int(candidate.size() - now.size()));
    }
    m_lastContact = now;
}

void EditGroupWC::addressClicked(const QString &address, bool byArrow) {
    m_contactField->setText(address);
    if (!byArrow) {
        m_picker->hide();
        finishContactEntry();
    }
}

void EditGroupWC::entryDone() {
    m_contactField->clear();
    m_lastContact.clear();
    m_picker->hide();
    setArrow(0);
    checkSave();
}

void EditGroupWC::setBusy(bool busy) {
    m_busy = busy;
    m_contactField->setEnabled(!busy);
    m_cancel->setEnabled(!busy);
    m_deleteLink->setEnabled(!busy);
    checkSave();
}

void EditGroupWC::finishContactEntry() {
    m_timer->stop();
    const QString typed = m_contactField->text().trimmed();
    if (typed.isEmpty() || m_busy)
        return;
    QString friendly;
    const QString address = AddressBookUtil::extractEmail(typed, &friendly);
    if (!validEmail(address)) {
        m_contactField->selectAll();
        LFAlert::alertWithString(localizedString(QStringLiteral("[invalidemail]")), m_contactField);
        return;
    }
    for (qsizetype i = 0; i < m_contacts.size(); ++i) {
        if (equalCaseIns(text(m_contacts.at(i).toMap(), ContactKey::Email), address)) {
            m_people.append(m_contacts.takeAt(i));
            reload();
            entryDone();
            return;
        }
    }
    for (qsizetype i = 0; i < m_people.size(); ++i) {
        if (equalCaseIns(text(m_people.at(i).toMap(), ContactKey::Email), address)) {
            entryDone();
            m_right->setCurrentRow(int(i));
            return;
        }
    }
    std::shared_ptr<Service> service = Service::currentService();
    for (const QVariant &item : service->discoContacts()) {
        if (equalCaseIns(text(item.toMap(), ContactKey::Email), address)) {
            m_people.append(item);
            reload();
            entryDone();
            return;
        }
    }
    AddressBookUtil &book = AddressBookUtil::singleton();
    const QString name = book.uniqueName(friendly.isEmpty() ? book.nameForEmail(address) : friendly);
    const QVariantMap entry {
        {QLatin1String(ContactKey::Name), name}, {QLatin1String(ContactKey::Email), address}};
    // The sheet stays responsive while the server answers; the members change only on success.
    setBusy(true);
    QPointer<EditGroupWC> self(this);
    Workers::instance().start(QStringLiteral("new group member"), [service, entry, self] {
        const APIResult reply = service->addContactOnly(entry);
        runOnMainThread([self, reply] {
            if (!self)
                return;
            self->setBusy(false);
            const bool save = std::exchange(self->m_saveAfterEntry, false);
            if (reply.contains(QLatin1String(ResultKey::HttpStatusStr)) || reply.toMap().isEmpty())
                return;
            self->m_people.append(reply.toMap());
            self->reload();
            self->entryDone();
            if (save && self->m_save->isEnabled())
                self->press(1);
        });
    });
}

} // namespace lf
