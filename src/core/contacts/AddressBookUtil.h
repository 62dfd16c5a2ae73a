#pragma once

#include "api/APIResult.h"
#include "contacts/AddressBookSource.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace lf {

// Posted on the main thread after a completion run; the object is the run's sender.
inline constexpr const char *kAutoFillCompletedNotification = "autoFillCompleted";
// Observed: the linked sites or the contacts changed, so the external contacts are fetched again.
inline constexpr const char *kUpdateExternalNotification = "updateExternal";

// Keys of an external contact record and of the site's contact pages.
namespace ExternalKey {
inline constexpr const char *Name = "name";
inline constexpr const char *Email = "email";
inline constexpr const char *Service = "service";
inline constexpr const char *ExternalContacts = "external_contacts";
inline constexpr const char *ExternalContact = "external_contact";
inline constexpr const char *Total = "total";
inline constexpr const char *PageQuery = "%1?start=%2&count=10000";
} // namespace ExternalKey

// Prefixes of the recipient strings: a group by name, a linked site by name.
inline constexpr QChar kGroupRecipientPrefix = QLatin1Char('%');
inline constexpr QChar kSiteRecipientPrefix = QLatin1Char('@');

// The recipient string of a server contact ("email") or group ("%" and the name).
QString RecipientForEntry(const QVariantMap &entry);

// Completion and naming over every source of addresses, always in the same order: the server
// address book, its dormant entries, the user's own address book, the contacts of linked
// sites, and the names typed beside addresses (hints). Typed text is matched literally.
class AddressBookUtil {
public:
    // Where the lists come from; each is read fresh at every use, from any thread.
    struct Sources {
        std::function<QVariantList()> contacts; // server contacts, then groups
        std::function<QVariantList()> discoContacts;
        std::function<QVariantList()> destinations; // site records, as last loaded
        std::function<APIResult()> consumers; // the services answer
        std::function<APIResult(const QString &)> getURI;
        std::shared_ptr<AddressBookSource> addressBook;
    };

    // The process's instance, over the sources the program gave it before its first use (lists
    // it was not given are empty).
    static AddressBookUtil &singleton();
    static void setSingletonSources(Sources sources);

    explicit AddressBookUtil(Sources sources);
    ~AddressBookUtil();
    AddressBookUtil(const AddressBookUtil &) = delete;
    AddressBookUtil &operator=(const AddressBookUtil &) = delete;

    // Completes `text`: fills matching() best first, posts "autoFillCompleted" with `sender`,
    // and returns the first candidate (empty when none). Runs on the caller's thread.
    QString autoFillAddress(const QString &text, bool allowGroups, const QVariant &sender);
    QStringList matching() const;

    // The display name of a recipient string; empty when there is none.
    QString nameForEmail(const QString &recipient);
    // The name of `email` from the user's address book, hints, external and server contacts.
    bool addressBook(const QString &email, QString *first, QString *last);
    // `name`, or "name-N" with the first N from 1 that no contact is called (case and accents ignored).
    // `alsoTaken`: names of contacts asked for and not yet made.
    QString uniqueName(const QString &name, const QStringList &alsoTaken = {});
    // The name a typed address gets when it becomes a server contact: its name in the user's
    // address book, else the part before "@", capitalised; made unique.
    QString nameForNewContact(const QString &email, const QStringList &alsoTaken = {});
    // The address of one typed entry ("Ann <ann@x.org>", "ann@x.org;", "Family [Ann, Bob]").
    static QString extractEmail(const QString &entry, QString *friendly);
    void hintEmail(const QString &email, const QString &name);
    // First and last joined by a space, or whichever is not empty.
    static QString personName(const QString &first, const QString &last);

    // Starts an external refresh on a worker and returns at once.
    void updateExternalAddresses();
    // The refresh itself: every page of every connected address-source site. A newer refresh
    // takes over; a page that fails or comes back empty ends that site's loop.
    void refreshExternalAddresses();
    QVariantList externalContacts() const;

private:
    struct Shared;
    static void refresh(const std::shared_ptr<Shared> &shared);
    std::shared_ptr<Shared> d;
    std::unique_ptr<QObject> m_observerOwner;
};

} // namespace lf
