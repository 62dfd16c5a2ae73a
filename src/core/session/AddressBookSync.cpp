#include "session/AddressBookSync.h"

#include "api/ServiceAPI.h"
#include "contacts/TextMatch.h"
#include "foundation/Clock.h"
#include "foundation/LogCategories.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Workers.h"

#include <QRegularExpression>

#include <algorithm>

namespace lf {

namespace {

constexpr qint64 kReferenceEpochSecs = 978307200; // 2001-01-01 00:00:00 UTC
constexpr const char *kSendFormat = "yyyy-MM-dd'T'HH:mm:ss'Z'";

bool isGroup(const QVariantMap &entry) {
    return entry.value(ContactKey::Group).toBool();
}

} // namespace

AddressBookSync::AddressBookSync(ServiceAPI &api, KeepAlive keepAlive)
    : m_api(api)
    , m_keepAlive(std::move(keepAlive)) { }

// ---- time stamps ----

double AddressBookSync::referenceSeconds(const QDateTime &time) {
    return (time.toMSecsSinceEpoch() - kReferenceEpochSecs * 1000) / 1000.0;
}

std::optional<QDateTime> AddressBookSync::parseServerTime(const QString &text) {
    // Date, "T", time to the second, an optional fraction, then "Z", an offset (+01:00, +0100,
    // +01) or " GMT". Read by hand: Qt's ISO reader rejects some of these forms.
    static const QRegularExpression form(QStringLiteral(
        R"(^(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2})(?:\.\d+)?\s*(Z|GMT|UTC|[+-]\d{2}(?::?\d{2})?)?$)"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date = QDate::fromString(m.captured(1).left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(m.captured(1).mid(11), QStringLiteral("HH:mm:ss"));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const QString zone = m.captured(2);
    int offset = 0;
    if (zone.startsWith(QLatin1Char('+')) || zone.startsWith(QLatin1Char('-'))) {
        const QString digits = zone.mid(1).remove(QLatin1Char(':'));
        offset = digits.left(2).toInt() * 3600 + digits.mid(2, 2).toInt() * 60;
        if (zone.startsWith(QLatin1Char('-')))
            offset = -offset;
    }
    // Built with its offset directly: a wall-clock time is never run through the local zone.
    return QDateTime(date, time, Qt::OffsetFromUTC, offset).toUTC();
}

std::optional<QVariantMap> AddressBookSync::updateContactTimeStamp(const QVariantMap &entry, bool *disco) {
    if (disco)
        *disco = false;
    QVariantMap out = entry;
    const QVariant lastUsed = entry.value(ContactKey::LastUsed);
    if (lastUsed.typeId() == QMetaType::QString && lastUsed.toString().size() > 4) {
        // Unreadable text counts as the reference date itself.
        const QDateTime when = parseServerTime(lastUsed.toString())
                                   .value_or(QDateTime::fromSecsSinceEpoch(kReferenceEpochSecs, Qt::UTC));
        if (when.toMSecsSinceEpoch() < 0) {
            if (!disco)
                return std::nullopt;
            *disco = true;
            out.insert(ContactKey::LastUsed, 0.0);
            return out;
        }
        out.insert(ContactKey::LastUsed, referenceSeconds(when));
        return out;
    }
    out.insert(ContactKey::LastUsed, referenceSeconds(Clock::instance().now()));
    return out;
}

void AddressBookSync::timeStampNow(QVariantMap &entry) {
    entry.insert(
        ContactKey::LastUsed, Clock::instance().now().toUTC().toString(QString::fromLatin1(kSendFormat)));
}

// ---- reading ----

QVariantList AddressBookSync::xcontacts() {
    if (m_dirty)
        loadContacts();
    return contacts();
}

QVariantList AddressBookSync::contacts() const {
    QMutexLocker lock(&m_lock);
    return m_contacts;
}

QVariantList AddressBookSync::discoContacts() const {
    QMutexLocker lock(&m_lock);
    return m_discoContacts;
}

QVariantMap AddressBookSync::contactsDictionary() const {
    QMutexLocker lock(&m_lock);
    return m_contactsDictionary;
}

int AddressBookSync::indexOfGuid(const QVariantList &list, const QString &guid) {
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list.at(i).toMap().value(ContactKey::Guid).toString() == guid)
            return int(i);
    }
    return -1;
}

int AddressBookSync::contactIndex(const QVariantMap &entry) const {
    return indexOfGuid(contacts(), entry.value(ContactKey::Guid).toString());
}

void AddressBookSync::fillGroupLocked(QVariantMap &group) const {
    QStringList names;
    for (const QVariant &guid : group.value(ContactKey::Entries).toList()) {
        const auto it = m_contactsDictionary.constFind(guid.toString());
        names.append(it == m_contactsDictionary.constEnd() ? QString::fromLatin1(kMissingMemberName)
                                                           : it->toMap().value(ContactKey::Name).toString());
    }
    group.insert(ContactKey::Members, names.join(QStringLiteral(", ")));
    group.insert(ContactKey::Group, true);
}

void AddressBookSync::processGroupEntry(QVariantMap &group) const {
    QMutexLocker lock(&m_lock);
    fillGroupLocked(group);
}

bool AddressBookSync::checkDuplicate(
    const QVariantMap &entry, bool group, bool *isName, bool *isEmail) const {
    if (isName)
        *isName = false;
    if (isEmail)
        *isEmail = false;
    const QString guid = entry.value(ContactKey::Guid).toString();
    const QString name = entry.value(ContactKey::Name).toString();
    const QString email = group ? QString() : entry.value(ContactKey::Email).toString();
    for (const QVariant &item : contacts()) {
        const QVariantMap other = item.toMap();
        if (isGroup(other) != group)
            continue;
        const bool nameClash
            = other.value(ContactKey::Name).toString().compare(name, Qt::CaseInsensitive) == 0;
        const bool emailClash = !group && !email.isEmpty()
            && other.value(ContactKey::Email).toString().compare(email, Qt::CaseInsensitive) == 0;
        if ((nameClash || emailClash) && other.value(ContactKey::Guid).toString() != guid) {
            if (isName)
                *isName = nameClash;
            if (isEmail)
                *isEmail = emailClash;
            return false;
        }
    }
    return true;
}

// ---- loading ----

void AddressBookSync::loadContacts() {
    const APIResult answer = m_api.getAllContacts();
    {
        QMutexLocker lock(&m_lock);
        QVariantList contacts;
        QVariantList disco;
        QVariantMap dictionary;
        if (!answer.isError()) {
            for (const QVariant &item : answer.value(ContactKey::Entries).toList()) {
                bool dormant = false;
                const QVariantMap entry = *updateContactTimeStamp(item.toMap(), &dormant);
                (dormant ? disco : contacts).append(entry);
                dictionary.insert(entry.value(ContactKey::Guid).toString(), entry);
            }
            m_contactsDictionary = dictionary;
            for (const QVariant &item : answer.value(ContactKey::Groups).toList()) {
                std::optional<QVariantMap> group
                    = updateContactTimeStamp(item.toMap().value(ContactKey::GroupWrapper).toMap());
                if (!group)
                    continue;
                fillGroupLocked(*group);
                contacts.append(*group);
            }
        }
        // Swapped in whole: readers hold either the old list or this one.
        m_contacts = contacts;
        m_discoContacts = disco;
        m_contactsDictionary = dictionary;
    }
    if (answer.isError())
        qCWarning(lfContacts).noquote() << QStringLiteral("contact list failed: %1").arg(answer.httpStatus());
    NotificationCenter::defaultCenter().postNotificationMainThread(
        kServiceUpdateContactsNotification, QVariantMap {{kServiceUpdateContactsWhat, ContactWhat::Load}});
    m_dirty = false;
}

void AddressBookSync::sortContacts(
    const std::function<bool(const QVariantMap &, const QVariantMap &)> &less) {
    QMutexLocker lock(&m_lock);
    QVariantList sorted = m_contacts;
    std::stable_sort(sorted.begin(), sorted.end(),
        [&less](const QVariant &a, const QVariant &b) { return less(a.toMap(), b.toMap()); });
    m_contacts = sorted;
}

void AddressBookSync::clear() {
    QMutexLocker lock(&m_lock);
    m_contacts.clear();
    m_discoContacts.clear();
    m_contactsDictionary.clear();
}

// ---- changes ----

void AddressBookSync::startWorker(const char *name, std::function<void()> work) {
    std::shared_ptr<const void> keep = m_keepAlive ? m_keepAlive() : nullptr;
    Workers::instance().start(QString::fromLatin1(name), [keep, work = std::move(work)] { work(); });
}

void AddressBookSync::postChange(const QString &what, const QVariantMap &entry) {
    QVariantMap object = entry;
    object.insert(kServiceUpdateContactsWhat, what);
    NotificationCenter::defaultCenter().postNotificationMainThread(
        kServiceUpdateContactsNotification, object);
}

void AddressBookSync::postError(const QString &what, const APIResult &result) {
    QVariantMap object = result.toMap();
    if (result.isNothing())
        object.insert(ResultKey::HttpStatus, 0);
    object.insert(kServiceActionErrorWhat, what);
    NotificationCenter::defaultCenter().postNotificationMainThread(kServiceActionErrorNotification, object);
}

int AddressBookSync::addContact(const QVariantMap &entry) {
    const QString email = entry.value(ContactKey::Email).toString();
    QVariantMap adopted;
    {
        QMutexLocker lock(&m_lock);
        const QString folded = foldCaseAndDiacritics(email);
        for (const QVariant &item : m_discoContacts) {
            const QVariantMap dormant = item.toMap();
            if (foldCaseAndDiacritics(dormant.value(ContactKey::Email).toString()) == folded) {
                adopted = dormant;
                break;
            }
        }
    }
    if (!adopted.isEmpty()) {
        adopted.insert(ContactKey::Name, entry.value(ContactKey::Name));
        adopted.insert(ContactKey::Edited, QStringLiteral("YES"));
        return updateContact(adopted);
    }
    bool isName = false;
    if (!checkDuplicate(entry, false, &isName, nullptr))
        return isName ? kContactNameClash : kContactEmailClash;
    startWorker("add contact", [this, entry] { addContactOnly(entry); });
    return kContactChangeStarted;
}

APIResult AddressBookSync::addContactOnly(const QVariantMap &entry) {
    const APIResult answer = m_api.addContact(entry);
    if (answer.isError() || answer.isNothing() || !answer.isMap()) {
        postError(ContactActionError::AddContact, answer);
        return answer;
    }
    bool dormant = false;
    const QVariantMap added = *updateContactTimeStamp(answer.toMap(), &dormant);
    {
        QMutexLocker lock(&m_lock);
        QVariantList contacts = m_contacts;
        contacts.prepend(added);
        m_contacts = contacts;
        m_contactsDictionary.insert(added.value(ContactKey::Guid).toString(), added);
    }
    postChange(ContactWhat::Add, added);
    return answer;
}

int AddressBookSync::updateContact(QVariantMap &entry) {
    bool isName = false;
    if (!checkDuplicate(entry, false, &isName, nullptr))
        return isName ? kContactNameClash : kContactEmailClash;
    timeStampNow(entry);
    startWorker("update contact", [this, entry] { updateContactNet(entry); });
    return kContactChangeStarted;
}

void AddressBookSync::updateContactNet(const QVariantMap &entry) {
    const APIResult answer = m_api.updateContact(entry);
    if (answer.isError() || answer.isNothing() || !answer.isMap()) {
        postError(ContactActionError::UpdateContact, answer);
        return;
    }
    bool dormant = false;
    QVariantMap updated = *updateContactTimeStamp(answer.toMap(), &dormant);
    if (updated.value(ContactKey::LastUsed).toDouble() == 0)
        updated.insert(ContactKey::LastUsed, referenceSeconds(Clock::instance().now()));
    const QString guid = updated.value(ContactKey::Guid).toString();
    QString what;
    {
        QMutexLocker lock(&m_lock);
        QVariantList contacts = m_contacts;
        const int index = indexOfGuid(contacts, guid);
        if (index < 0 && entry.value(ContactKey::Edited).toString() == QLatin1String("YES")) {
            // An adopted dormant entry moves from the dormant list to the front of the list.
            contacts.prepend(updated);
            const int dormantIndex = indexOfGuid(m_discoContacts, guid);
            if (dormantIndex >= 0) {
                QVariantList disco = m_discoContacts;
                disco.removeAt(dormantIndex);
                m_discoContacts = disco;
            }
            what = QString::fromLatin1(ContactWhat::Add);
        } else if (index >= 0) {
            contacts.replace(index, updated);
            what = QString::fromLatin1(ContactWhat::Update);
        } else {
            return;
        }
        m_contacts = contacts;
        // Kept in step so group member names follow a rename.
        m_contactsDictionary.insert(guid, updated);
    }
    postChange(what, updated);
}

int AddressBookSync::deleteContact(const QVariantMap &entry) {
    const QString guid = entry.value(ContactKey::Guid).toString();
    QVariantMap removed;
    {
        QMutexLocker lock(&m_lock);
        const int index = indexOfGuid(m_contacts, guid);
        if (index < 0 || guid.isEmpty())
            return kContactChangeStarted;
        QVariantList contacts = m_contacts;
        removed = contacts.takeAt(index).toMap();
        m_contacts = contacts;
        m_contactsDictionary.remove(guid);
    }
    postChange(ContactWhat::Delete, removed);
    startWorker("delete contact", [this, removed] { m_api.deleteContact(removed); });
    return kContactChangeStarted;
}

void AddressBookSync::refreshContact(const QVariantMap &entry) {
    startWorker("refresh contact", [this, entry] { refreshContactNet(entry); });
}

void AddressBookSync::refreshContactNet(const QVariantMap &entry) {
    const APIResult answer = m_api.refreshContact(entry);
    if (answer.isError() || answer.isNothing() || !answer.isMap()) {
        postError(ContactActionError::RefreshContact, answer);
        return;
    }
    const std::optional<QVariantMap> fresh = updateContactTimeStamp(answer.toMap());
    if (!fresh)
        return;
    const QString guid = fresh->value(ContactKey::Guid).toString();
    {
        QMutexLocker lock(&m_lock);
        const int index = indexOfGuid(m_contacts, guid);
        if (index < 0)
            return;
        QVariantList contacts = m_contacts;
        contacts.replace(index, *fresh);
        m_contacts = contacts;
        m_contactsDictionary.insert(guid, *fresh);
    }
    postChange(ContactWhat::Refresh, *fresh);
}

int AddressBookSync::addGroup(const QVariantMap &group) {
    if (!checkDuplicate(group, true, nullptr, nullptr))
        return kContactNameClash;
    startWorker("add group", [this, group] { addGroupNet(group); });
    return kContactChangeStarted;
}

void AddressBookSync::addGroupNet(const QVariantMap &group) {
    const APIResult answer = m_api.addGroup(group);
    if (answer.isError() || answer.isNothing() || !answer.isMap()) {
        postError(ContactActionError::AddGroup, answer);
        return;
    }
    std::optional<QVariantMap> added = updateContactTimeStamp(answer.value(ContactKey::GroupWrapper).toMap());
    if (!added)
        return;
    {
        QMutexLocker lock(&m_lock);
        fillGroupLocked(*added);
        QVariantList contacts = m_contacts;
        contacts.prepend(*added);
        m_contacts = contacts;
    }
    postChange(ContactWhat::GroupAdd, *added);
}

int AddressBookSync::updateGroup(const QVariantMap &group) {
    if (!checkDuplicate(group, true, nullptr, nullptr))
        return kContactNameClash;
    startWorker("update group", [this, group] { updateGroupNet(group); });
    return kContactChangeStarted;
}

void AddressBookSync::updateGroupNet(const QVariantMap &group) {
    const APIResult answer = m_api.updateGroup(group);
    if (answer.isError() || answer.isNothing() || !answer.isMap()) {
        postError(ContactActionError::UpdateGroup, answer);
        return;
    }
    std::optional<QVariantMap> updated
        = updateContactTimeStamp(answer.value(ContactKey::GroupWrapper).toMap());
    if (!updated)
        return;
    {
        QMutexLocker lock(&m_lock);
        // Looked up again under the lock: the list may have changed while the request ran.
        const int index = indexOfGuid(m_contacts, group.value(ContactKey::Guid).toString());
        if (index < 0)
            return;
        fillGroupLocked(*updated);
        QVariantList contacts = m_contacts;
        contacts.replace(index, *updated);
        m_contacts = contacts;
    }
    postChange(ContactWhat::GroupUpdate, *updated);
}

void AddressBookSync::deleteGroup(const QString &guid) {
    QVariantMap removed;
    {
        QMutexLocker lock(&m_lock);
        const int index = indexOfGuid(m_contacts, guid);
        if (index >= 0 && !guid.isEmpty()) {
            QVariantList contacts = m_contacts;
            removed = contacts.takeAt(index).toMap();
            m_contacts = contacts;
        }
    }
    if (!removed.isEmpty())
        postChange(ContactWhat::GroupDelete, removed);
    startWorker("delete group", [this, guid] { m_api.deleteGroup(guid); });
}

} // namespace lf
