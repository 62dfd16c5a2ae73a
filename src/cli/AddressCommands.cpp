#include "CliClient.h"
#include "Commands.h"
#include "Output.h"

#include "contacts/AddressBookUtil.h"
#include "foundation/NotificationCenter.h"
#include "foundation/TextRules.h"
#include "session/AddressBookSync.h"

#include <QJsonArray>
#include <QJsonObject>

#include <functional>
#include <optional>
#include <utility>

namespace lf::cli {

namespace {

std::optional<QVariantMap> findEntry(Service &service, bool group, const char *key, const QString &value) {
    for (const QVariantMap &entry : addressBookEntries(service, group)) {
        if (entry.value(QLatin1String(key)).toString().compare(value, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return std::nullopt;
}

int signInAndLoad(CliClient &client) {
    if (const int code = client.signInStored())
        return code;
    client.loadContacts();
    return kExitOk;
}

// Waits for the address book's answer to a change it started on a worker.
class ChangeWaiter : public QObject {
public:
    ChangeWaiter() {
        NotificationCenter &center = NotificationCenter::defaultCenter();
        center.addObserver(this, QString::fromLatin1(kServiceUpdateContactsNotification),
            [this](const Notification &) { m_done = true; });
        center.addObserver(
            this, QString::fromLatin1(kServiceActionErrorNotification), [this](const Notification &n) {
                m_error = describeFailure(APIResult(n.object));
                m_done = true;
            });
    }
    ~ChangeWaiter() override { NotificationCenter::defaultCenter().removeObserver(this); }
    // Exit code once the change is through.
    int wait(CliClient &client, const QString &what) {
        if (!client.waitFor([this] { return m_done; }))
            return kExitInterrupted;
        if (!m_error.isEmpty())
            return fail(QStringLiteral("%1 failed: %2").arg(what, m_error));
        return kExitOk;
    }

private:
    bool m_done = false;
    QString m_error;
};

// The contacts or the groups, as JSON or a line each; `row` gives both forms of an entry.
int listEntries(CliClient &client, bool groups, bool json,
    const std::function<std::pair<QJsonObject, QString>(const QVariantMap &)> &row) {
    if (const int code = signInAndLoad(client))
        return code;
    QJsonArray list;
    for (const QVariantMap &entry : addressBookEntries(client.service(), groups)) {
        const auto [object, line] = row(entry);
        if (json)
            list.append(object);
        else
            printOut(line);
    }
    if (json)
        printJson(list);
    return kExitOk;
}

// "contacts delete EMAIL" and "groups delete NAME", matched ignoring case.
int deleteEntry(CliClient &client, const QStringList &args, bool group) {
    if (args.size() != 2)
        return usageError(group ? QStringLiteral("groups delete takes a group name")
                                : QStringLiteral("contacts delete takes an e-mail address"));
    const QString key = args.at(1).trimmed();
    if (const int code = signInAndLoad(client))
        return code;
    const std::optional<QVariantMap> entry
        = findEntry(client.service(), group, group ? ContactKey::Name : ContactKey::Email, key);
    if (!entry)
        return fail(
            (group ? QStringLiteral("no group named %1") : QStringLiteral("no contact with the address %1"))
                .arg(key));
    const QString name = entry->value(ContactKey::Name).toString();
    const QString shown = group
        ? QStringLiteral("the group %1").arg(name)
        : QStringLiteral("%1 <%2>").arg(name, entry->value(ContactKey::Email).toString());
    Service &service = client.service();
    const APIResult answer = group ? service.deleteGroupOnly(entry->value(ContactKey::Guid).toString())
                                   : service.deleteContactOnly(*entry);
    if (answer.isError())
        return fail(QStringLiteral("deleting %1 failed: %2").arg(shown, describeFailure(answer)));
    printOut(QStringLiteral("Deleted %1").arg(shown));
    return kExitOk;
}

int clashError(int code, const QString &name, const QString &email) {
    if (code == kContactNameClash)
        return fail(QStringLiteral("you already have a contact or group named %1").arg(name));
    return fail(QStringLiteral("you already have a contact with the address %1").arg(email));
}

} // namespace

int contactsCommand(CliClient &client, QStringList args) {
    const bool json = takeFlag(args, QStringLiteral("--json"));
    const QString verb = args.value(0);
    if (verb == QLatin1String("add")) {
        if (args.size() != 3)
            return usageError(QStringLiteral("contacts add takes NAME EMAIL"));
        const QString name = args.at(1).trimmed();
        const QString email = args.at(2).trimmed();
        if (name.isEmpty() || !validEmail(email))
            return usageError(QStringLiteral("contacts add takes a name and an e-mail address"));
        if (const int code = signInAndLoad(client))
            return code;
        ChangeWaiter waiter;
        const int started
            = client.service().addContact({{ContactKey::Name, name}, {ContactKey::Email, email}});
        if (started != kContactChangeStarted)
            return clashError(started, name, email);
        if (const int code = waiter.wait(client, QStringLiteral("adding %1").arg(email)))
            return code;
        printOut(QStringLiteral("Added %1 <%2>").arg(name, email));
        return kExitOk;
    }
    if (verb == QLatin1String("delete"))
        return deleteEntry(client, args, false);
    if (!args.isEmpty())
        return usageError(QStringLiteral("contacts takes add, delete or --json"));
    return listEntries(client, false, json, [](const QVariantMap &entry) {
        const QString name = entry.value(ContactKey::Name).toString();
        const QString email = entry.value(ContactKey::Email).toString();
        return std::pair {QJsonObject {{"name", name}, {"email", email},
                              {"guid", entry.value(ContactKey::Guid).toString()}},
            QStringLiteral("%1 <%2>").arg(name, email)};
    });
}

int groupsCommand(CliClient &client, QStringList args) {
    const bool json = takeFlag(args, QStringLiteral("--json"));
    const QString verb = args.value(0);
    if (verb == QLatin1String("create")) {
        if (args.size() < 3)
            return usageError(QStringLiteral("groups create takes NAME and at least one MEMBER-NAME"));
        const QString name = args.at(1).trimmed();
        if (name.isEmpty())
            return usageError(QStringLiteral("a group needs a name"));
        if (const int code = signInAndLoad(client))
            return code;
        QStringList guids;
        QStringList missing;
        for (const QString &member : args.mid(2)) {
            // Members are named exactly, as scripts name them.
            bool found = false;
            for (const QVariantMap &entry : addressBookEntries(client.service(), false)) {
                if (entry.value(ContactKey::Name).toString() == member) {
                    guids.append(entry.value(ContactKey::Guid).toString());
                    found = true;
                    break;
                }
            }
            if (!found)
                missing.append(member);
        }
        if (!missing.isEmpty())
            return fail(QStringLiteral("no contact named %1").arg(missing.join(QStringLiteral(", "))));
        ChangeWaiter waiter;
        const int started
            = client.service().addGroup({{ContactKey::Name, name}, {ContactKey::Entries, QVariant(guids)}});
        if (started != kContactChangeStarted)
            return clashError(started, name, {});
        if (const int code = waiter.wait(client, QStringLiteral("creating the group %1").arg(name)))
            return code;
        printOut(QStringLiteral("Created the group %1 with %2 member%3")
                     .arg(name, QString::number(guids.size()),
                         guids.size() == 1 ? QString() : QStringLiteral("s")));
        return kExitOk;
    }
    if (verb == QLatin1String("delete"))
        return deleteEntry(client, args, true);
    if (!args.isEmpty())
        return usageError(QStringLiteral("groups takes create, delete or --json"));
    return listEntries(client, true, json, [&client](const QVariantMap &group) {
        // Read here: the address book is loaded once listing begins.
        const QVariantMap people = client.service().contactsDictionary();
        const QString name = group.value(ContactKey::Name).toString();
        QStringList members;
        for (const QVariant &guid : group.value(ContactKey::Entries).toList()) {
            const auto person = people.constFind(guid.toString());
            members.append(person == people.constEnd() ? QString::fromLatin1(kMissingMemberName)
                                                       : person->toMap().value(ContactKey::Name).toString());
        }
        return std::pair {QJsonObject {{"name", name}, {"guid", group.value(ContactKey::Guid).toString()},
                              {"members", QJsonArray::fromStringList(members)}},
            QStringLiteral("%1 [%2]").arg(name, members.join(QStringLiteral(", ")))};
    });
}

int completeCommand(CliClient &client, QStringList args) {
    const bool json = takeFlag(args, QStringLiteral("--json"));
    if (args.size() != 1)
        return usageError(QStringLiteral("complete takes one text"));
    if (const int code = signInAndLoad(client))
        return code;
    AddressBookUtil &book = AddressBookUtil::singleton();
    book.refreshExternalAddresses();
    book.autoFillAddress(args.first(), true, {});
    const QStringList candidates = book.matching();
    if (json) {
        printJson(QJsonArray::fromStringList(candidates));
        return kExitOk;
    }
    for (const QString &candidate : candidates)
        printOut(candidate);
    return kExitOk;
}

int completeNamesCommand(CliClient &client, QStringList args) {
    if (!args.isEmpty())
        return usageError(QStringLiteral("complete-names takes no arguments"));
    if (const int code = signInAndLoad(client))
        return code;
    for (const QString &group : groupNames(client.service()))
        printOut(kGroupRecipientPrefix + group);
    for (const QString &site : linkedSiteNames(client.service()))
        printOut(kSiteRecipientPrefix + site);
    return kExitOk;
}

} // namespace lf::cli
