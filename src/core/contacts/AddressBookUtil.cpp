#include "contacts/AddressBookUtil.h"

#include "foundation/LogCategories.h"
#include "foundation/NotificationCenter.h"
#include "foundation/TextMatch.h"
#include "foundation/TextRules.h"
#include "foundation/Workers.h"

#include <QMutex>
#include <QSet>

#include <algorithm>
#include <atomic>

namespace lf {

namespace {

constexpr const char *kNameEmailFormat = "%1 <%2>";
constexpr const char *kFullNameEmailFormat = "%1 %2 <%3>";
constexpr const char *kGroupMembersFormat = "%1 [%2]";
constexpr const char *kUniqueNameFormat = "%1-%2";

QString text(const QVariantMap &map, const char *key) {
    const QVariant value = map.value(QLatin1String(key));
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

// Literal equality with letter case and accents ignored: what "like" asks for, without letting
// a "*" or "?" typed by the user act as a wildcard.
bool sameIgnoringCaseAndAccents(const QString &a, const QString &b) {
    return !a.isEmpty() && foldCaseAndDiacritics(a) == foldCaseAndDiacritics(b);
}

QString trimmedBlanks(const QString &s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    auto blank = [](QChar c) { return c.isSpace() && c != QLatin1Char('\n') && c != QLatin1Char('\r'); };
    while (begin < end && blank(s.at(begin)))
        ++begin;
    while (end > begin && blank(s.at(end - 1)))
        --end;
    return s.mid(begin, end - begin);
}

// The text between `open` and the next `close` (or the end), without surrounding blanks.
QString enclosed(const QString &s, QChar open, QChar close) {
    return stringBetween(s, QString(open), QString(close)).trimmed();
}

} // namespace

QString RecipientForEntry(const QVariantMap &entry) {
    if (entry.value(QStringLiteral("GROUP")).toBool())
        return kGroupRecipientPrefix + entry.value(QStringLiteral("name")).toString();
    return entry.value(QStringLiteral("email")).toString();
}

struct AddressBookUtil::Shared {
    Sources sources;
    mutable QMutex mutex; // the members below
    QVariantList external;
    QStringList matching;
    QMap<QString, QString> hints;
    // Each refresh takes a number; an older one stops once a newer one has begun.
    std::atomic<quint64> generation {0};
};

namespace {

AddressBookUtil::Sources &singletonSources() {
    static AddressBookUtil::Sources sources;
    return sources;
}

} // namespace

void AddressBookUtil::setSingletonSources(Sources sources) {
    singletonSources() = std::move(sources);
}

AddressBookUtil &AddressBookUtil::singleton() {
    // Never destroyed: refresh workers and observers may still reach it while the program ends.
    static AddressBookUtil *instance = new AddressBookUtil(singletonSources());
    return *instance;
}

AddressBookUtil::AddressBookUtil(Sources sources)
    : d(std::make_shared<Shared>())
    , m_observerOwner(std::make_unique<QObject>()) {
    d->sources = std::move(sources);
    if (!d->sources.addressBook)
        d->sources.addressBook = std::make_shared<PeopleAddressBook>();
    for (auto *list : {&d->sources.contacts, &d->sources.discoContacts, &d->sources.destinations})
        if (!*list)
            *list = [] { return QVariantList {}; };
    NotificationCenter::defaultCenter().addObserver(m_observerOwner.get(), kUpdateExternalNotification,
        [this](const Notification &) { updateExternalAddresses(); });
}

AddressBookUtil::~AddressBookUtil() {
    // A refresh still running holds `d` and stops at its next page.
    ++d->generation;
}

QStringList AddressBookUtil::matching() const {
    QMutexLocker lock(&d->mutex);
    return d->matching;
}

QVariantList AddressBookUtil::externalContacts() const {
    QMutexLocker lock(&d->mutex);
    return d->external;
}

void AddressBookUtil::hintEmail(const QString &email, const QString &name) {
    if (name.isEmpty())
        return;
    QMutexLocker lock(&d->mutex);
    d->hints.insert(email.toLower(), name);
}

QString AddressBookUtil::nameForNewContact(const QString &email, const QStringList &alsoTaken) {
    // Two contacts may not share a name: the server would refuse the second.
    return uniqueName(nameForEmail(email), alsoTaken);
}

QString AddressBookUtil::personName(const QString &first, const QString &last) {
    if (!first.isEmpty() && !last.isEmpty())
        return first + QLatin1Char(' ') + last;
    return first.isEmpty() ? last : first;
}

// ---- completion ----

namespace {

// Completions in the order they are offered, and the addresses they already stand for.
struct Completions {
    QStringList out;
    QSet<QString> seen;
    void add(const QString &candidate, const QString &covers) {
        out.append(candidate);
        seen.insert(covers);
    }
    void addOnce(const QString &candidate, const QString &covers) {
        if (!out.contains(candidate))
            out.append(candidate);
        seen.insert(covers);
    }
};

// The server's contacts and groups, then the addresses found on the server.
void matchSession(const QVariantList &contacts, const QVariantList &discoContacts, const QString &t,
    bool allowGroups, Completions &found) {
    for (const QVariant &item : contacts) {
        const QVariantMap entry = item.toMap();
        const QString name = text(entry, "name");
        const QString email = text(entry, "email");
        if (beginsWithCaseIns(email, t)) {
            found.add(email, email);
        } else if (beginsWithCaseIns(name, t)) {
            if (!email.isEmpty())
                found.add(QString::fromLatin1(kNameEmailFormat).arg(name, email), email);
            else if (allowGroups)
                found.add(QString::fromLatin1(kGroupMembersFormat).arg(name, text(entry, "members")),
                    kGroupRecipientPrefix + name);
        }
    }
    for (const QVariant &item : discoContacts) {
        const QString email = text(item.toMap(), "email");
        if (beginsWithCaseIns(email, t))
            found.add(email, email);
    }
}

// The desktop address book: addresses first, then first names, last names and nicknames.
void matchAddressBook(const AddressBookSource &book, const QString &t, Completions &found) {
    using P = AddressBookSource::Property;
    using C = AddressBookSource::Comparison;
    for (const AddressBookPerson &person : book.search(P::Email, C::PrefixCaseIns, t)) {
        for (const QString &address : person.emails) {
            if (beginsWithCaseIns(address, t) && !found.seen.contains(address))
                found.addOnce(address, address);
        }
    }
    struct Pass {
        P property;
        QString AddressBookPerson::*first;
        QString AddressBookPerson::*second;
    };
    const Pass passes[] = {{P::FirstName, &AddressBookPerson::firstName, &AddressBookPerson::lastName},
        {P::LastName, &AddressBookPerson::lastName, &AddressBookPerson::firstName},
        {P::Nickname, &AddressBookPerson::nickname, nullptr}};
    for (const Pass &pass : passes) {
        for (const AddressBookPerson &person : book.search(pass.property, C::PrefixCaseIns, t)) {
            const QString first = person.*pass.first;
            const QString second = pass.second ? person.*pass.second : QString();
            if (!beginsWithCaseIns(first, t))
                continue;
            for (const QString &address : person.emails) {
                if (found.seen.contains(address))
                    continue;
                found.addOnce(second.isEmpty()
                        ? QString::fromLatin1(kNameEmailFormat).arg(first, address)
                        : QString::fromLatin1(kFullNameEmailFormat).arg(first, second, address),
                    address);
            }
        }
    }
}

// Contacts of the linked sites. Literal matching: no typed character (a quote, a backslash, a
// wildcard) changes the search.
void matchExternal(const QVariantList &external, const QString &t, Completions &found) {
    for (const QVariant &item : external) {
        const QVariantMap record = item.toMap();
        const QString name = text(record, ExternalKey::Name);
        const QString email = text(record, ExternalKey::Email);
        if (!beginsWithCaseDiacriticIns(name, t) && !beginsWithCaseDiacriticIns(email, t))
            continue;
        if (found.seen.contains(email))
            continue;
        found.addOnce(
            beginsWithCaseIns(email, t) ? email : QString::fromLatin1(kNameEmailFormat).arg(name, email),
            email);
    }
}

} // namespace

QString AddressBookUtil::autoFillAddress(const QString &typed, bool allowGroups, const QVariant &sender) {
    const QString t = typed.trimmed();
    Completions found;
    // The session's lists are snapshots: a reload meanwhile replaces them, never changes these.
    matchSession(d->sources.contacts(), d->sources.discoContacts(), t, allowGroups, found);
    if (!t.isEmpty())
        matchAddressBook(*d->sources.addressBook, t, found);
    matchExternal(externalContacts(), t, found);
    {
        QMutexLocker lock(&d->mutex);
        d->matching = found.out;
    }
    NotificationCenter::defaultCenter().postNotificationMainThread(kAutoFillCompletedNotification, sender);
    return found.out.value(0);
}

// ---- naming ----

bool AddressBookUtil::addressBook(const QString &email, QString *first, QString *last) {
    auto found = [&](const QString &f, const QString &l) {
        if (first)
            *first = f;
        if (last)
            *last = l;
        return true;
    };
    if (email.isEmpty())
        return false;
    using P = AddressBookSource::Property;
    using C = AddressBookSource::Comparison;
    for (const AddressBookPerson &person : d->sources.addressBook->search(P::Email, C::EqualCaseIns, email)) {
        if (!person.nickname.isEmpty())
            return found(person.nickname, {});
        if (!person.firstName.isEmpty() || !person.lastName.isEmpty())
            return found(person.firstName, person.lastName);
        if (!person.organization.isEmpty())
            return found(person.organization, {});
    }
    QString hint;
    {
        QMutexLocker lock(&d->mutex);
        hint = d->hints.value(email.toLower());
    }
    if (!hint.isEmpty())
        return found(hint, {});
    for (const QVariant &item : externalContacts()) {
        const QVariantMap record = item.toMap();
        if (sameIgnoringCaseAndAccents(text(record, ExternalKey::Email), email)) {
            const QString name = text(record, ExternalKey::Name);
            if (!name.isEmpty())
                return found(name, {});
            break;
        }
    }
    for (const QVariant &item : d->sources.contacts()) {
        const QVariantMap entry = item.toMap();
        if (equalCaseIns(text(entry, "email"), email))
            return found(text(entry, "name"), {});
    }
    return false;
}

QString AddressBookUtil::nameForEmail(const QString &recipient) {
    if (recipient.startsWith(kGroupRecipientPrefix))
        return recipient.mid(1);
    if (recipient.startsWith(kSiteRecipientPrefix)) {
        const QString site = recipient.mid(1);
        for (const QVariant &item : d->sources.destinations()) {
            const QVariantMap record = item.toMap();
            if (record.value(QStringLiteral("connected")).toBool()
                && equalCaseIns(text(record, "name"), site))
                return text(record, "display_name");
        }
        return {};
    }
    for (const QVariant &item : d->sources.contacts()) {
        const QVariantMap entry = item.toMap();
        if (sameIgnoringCaseAndAccents(text(entry, "email"), recipient))
            return text(entry, "name");
    }
    QString first;
    QString last;
    if (addressBook(recipient, &first, &last))
        return uniqueName(personName(first, last));
    const QString local = capitalizedWords(recipient.section(QLatin1Char('@'), 0, 0).trimmed());
    return local.isEmpty() ? recipient : local;
}

QString AddressBookUtil::uniqueName(const QString &name, const QStringList &alsoTaken) {
    QSet<QString> taken;
    for (const QVariant &item : d->sources.contacts())
        taken.insert(foldCaseAndDiacritics(text(item.toMap(), "name")));
    for (const QString &pending : alsoTaken)
        taken.insert(foldCaseAndDiacritics(pending));
    if (!taken.contains(foldCaseAndDiacritics(name)))
        return name;
    for (int n = 1;; ++n) {
        const QString candidate = QString::fromLatin1(kUniqueNameFormat).arg(name, QString::number(n));
        if (!taken.contains(foldCaseAndDiacritics(candidate)))
            return candidate;
    }
}

QString AddressBookUtil::extractEmail(const QString &entry, QString *friendly) {
    QString s = trimmedBlanks(entry);
    // Trailing separators go first, so an unclosed "<" does not take them into the address.
    while (!s.isEmpty() && (s.endsWith(QLatin1Char(';')) || s.endsWith(QLatin1Char(','))))
        s.chop(1);
    bool group = false;
    QString part = enclosed(s, QLatin1Char('<'), QLatin1Char('>'));
    if (part.isEmpty())
        part = enclosed(s, QLatin1Char('('), QLatin1Char(')'));
    if (part.isEmpty()) {
        part = enclosed(s, QLatin1Char('['), QLatin1Char(']'));
        group = !part.isEmpty();
    }
    if (part.isEmpty()) {
        if (friendly)
            *friendly = QString();
        return s;
    }
    qsizetype cut = entry.size();
    for (QChar open : {QLatin1Char('<'), QLatin1Char('('), QLatin1Char('[')}) {
        const qsizetype at = entry.indexOf(open);
        if (at >= 0)
            cut = std::min(cut, at);
    }
    const QString name = entry.left(cut).trimmed();
    if (friendly)
        *friendly = name;
    if (group && !name.isEmpty())
        return kGroupRecipientPrefix + name;
    return part;
}

// ---- external contacts ----

void AddressBookUtil::updateExternalAddresses() {
    std::shared_ptr<Shared> shared = d;
    Workers::instance().start(QStringLiteral("external contacts"), [shared] { refresh(shared); });
}

void AddressBookUtil::refreshExternalAddresses() {
    refresh(d);
}

void AddressBookUtil::refresh(const std::shared_ptr<Shared> &shared) {
    const quint64 mine = ++shared->generation;
    {
        QMutexLocker lock(&shared->mutex);
        shared->external = {};
    }
    auto superseded = [&] { return shared->generation != mine || Workers::cancelled(); };
    if (!shared->sources.consumers || !shared->sources.getURI)
        return;
    const APIResult consumers = shared->sources.consumers();
    for (const QVariant &item : consumers.value(QStringLiteral("services")).toList()) {
        const QVariantMap site = item.toMap();
        const QVariantMap capabilities = site.value(QStringLiteral("capabilities")).toMap();
        if (capabilities.value(QStringLiteral("address_source")).toInt() != 1
            || !site.value(QStringLiteral("connected")).toBool())
            continue;
        const QString uri
            = site.value(QStringLiteral("contacts")).toMap().value(QStringLiteral("uri")).toString();
        if (uri.isEmpty())
            continue;
        qint64 start = 0;
        qint64 total = 0;
        do {
            if (superseded())
                return;
            const APIResult page = shared->sources.getURI(
                QString::fromLatin1(ExternalKey::PageQuery).arg(uri, QString::number(start)));
            if (start == 0)
                total = page.value(ExternalKey::Total).toLongLong();
            const QVariantList items = page.value(ExternalKey::ExternalContacts).toList();
            // A failed or empty page ends this site, whatever "total" promised.
            if (page.isError() || items.isEmpty()) {
                if (page.isError())
                    qCWarning(lfContacts).noquote()
                        << QStringLiteral("external contacts page failed: %1").arg(page.httpStatus());
                break;
            }
            QVariantList records;
            for (const QVariant &raw : items) {
                const QVariantMap wrapper = raw.toMap();
                const QVariantMap record = wrapper.contains(ExternalKey::ExternalContact)
                    ? wrapper.value(ExternalKey::ExternalContact).toMap()
                    : wrapper;
                const QString email = text(record, ExternalKey::Email);
                if (email.isEmpty())
                    continue;
                records.append(QVariantMap {{ExternalKey::Name, text(record, ExternalKey::Name)},
                    {ExternalKey::Email, email}, {ExternalKey::Service, text(record, ExternalKey::Service)}});
            }
            {
                QMutexLocker lock(&shared->mutex);
                if (shared->generation != mine)
                    return;
                // A new list each time: readers keep the one they copied.
                QVariantList grown = shared->external;
                grown.append(records);
                shared->external = grown;
            }
            start += items.size();
        } while (start < total);
    }
}

} // namespace lf
