#pragma once

#include "api/APIResult.h"

#include <QMutex>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace lf {

class ServiceAPI;

// Keys of the address-book records. Upper-case keys exist only on the client and are never sent.
namespace ContactKey {
inline constexpr const char *Guid = "guid";
inline constexpr const char *Name = "name";
inline constexpr const char *Email = "email";
inline constexpr const char *LastUsed = "last_used";
inline constexpr const char *Version = "version";
inline constexpr const char *Entries = "entries";
inline constexpr const char *Groups = "groups";
inline constexpr const char *GroupWrapper = "address_book_group";
inline constexpr const char *Members = "members";
inline constexpr const char *Group = "GROUP";
inline constexpr const char *Edited = "EDITED";
} // namespace ContactKey

// The two notifications of the address book and the "what" values they carry.
inline constexpr const char *kServiceUpdateContactsNotification = "serviceUpdateContacts";
inline constexpr const char *kServiceUpdateContactsWhat = "serviceUpdateContactsWhat";
inline constexpr const char *kServiceActionErrorNotification = "serviceActionError";
inline constexpr const char *kServiceActionErrorWhat = "serviceActionErrorWhat";

namespace ContactWhat {
inline constexpr const char *Load = "contact.load";
inline constexpr const char *Add = "contact.add";
inline constexpr const char *Update = "contact.update";
inline constexpr const char *Refresh = "contact.refresh";
inline constexpr const char *Delete = "contact.delete";
inline constexpr const char *GroupAdd = "group.add";
inline constexpr const char *GroupUpdate = "group.update";
inline constexpr const char *GroupDelete = "group.delete";
} // namespace ContactWhat

namespace ContactActionError {
inline constexpr const char *AddContact = "Add Contact";
inline constexpr const char *UpdateContact = "Update Contact";
inline constexpr const char *RefreshContact = "Refresh Contact";
inline constexpr const char *AddGroup = "Add Group";
inline constexpr const char *UpdateGroup = "Update Group";
} // namespace ContactActionError

// Results of the change operations.
inline constexpr int kContactChangeStarted = 0;
inline constexpr int kContactNameClash = -1000;
inline constexpr int kContactEmailClash = -999;

// Shown for a group member whose guid is not a known contact.
inline constexpr const char *kMissingMemberName = "(missing)";

// The user's server address book held in memory: contacts followed by groups, the dormant
// contacts apart, and the guid index. Every change is checked here, applied on a worker and
// reported through the notifications. The lists are replaced whole under one lock, so a reader
// on any thread gets a consistent old or new list, never one in the middle of a change.
class AddressBookSync {
public:
    // Keeps the owner of `api` alive while a worker runs (may give null: the caller then waits
    // for the workers itself).
    using KeepAlive = std::function<std::shared_ptr<const void>()>;

    explicit AddressBookSync(ServiceAPI &api, KeepAlive keepAlive = {});

    // The list, reloaded first (on the calling thread) when contactsDirty is set.
    QVariantList xcontacts();
    // Snapshots without a reload.
    QVariantList contacts() const;
    QVariantList discoContacts() const;
    QVariantMap contactsDictionary() const;
    bool contactsDirty() const { return m_dirty; }
    void setContactsDirty(bool dirty) { m_dirty = dirty; }

    // Fetches the whole address book and rebuilds the lists; a failure leaves them empty.
    // Posts "contact.load" either way.
    void loadContacts();
    // Reorders contacts and groups together (most recent use first, say); readers keep their copy.
    void sortContacts(const std::function<bool(const QVariantMap &, const QVariantMap &)> &less);
    // Empties the lists (sign-out).
    void clear();

    // Change operations: 0 when started on a worker, kContactNameClash or kContactEmailClash.
    int addContact(const QVariantMap &entry);
    // The synchronous server part of adding.
    APIResult addContactOnly(const QVariantMap &entry);
    // Stamps the caller's entry with the current time before it is sent.
    int updateContact(QVariantMap &entry);
    int deleteContact(const QVariantMap &entry);
    void refreshContact(const QVariantMap &entry);
    int addGroup(const QVariantMap &group);
    int updateGroup(const QVariantMap &group);
    void deleteGroup(const QString &guid);

    // True when no other entry of the same kind has the name or (contacts) the e-mail address,
    // ignoring case; entries with the same guid never clash.
    bool checkDuplicate(const QVariantMap &entry, bool group, bool *isName, bool *isEmail) const;
    // Position in the list of the entry with the same guid, or -1.
    int contactIndex(const QVariantMap &entry) const;
    // Fills "members" and "GROUP" from the guid index.
    void processGroupEntry(QVariantMap &group) const;

    // A copy whose "last_used" is seconds since 2001-01-01 UTC. An instant before 1970 sets
    // `disco` and stores 0; without `disco` such an entry is dropped (nullopt).
    static std::optional<QVariantMap> updateContactTimeStamp(const QVariantMap &entry, bool *disco = nullptr);
    // Sets "last_used" to now as "yyyy-MM-dd'T'HH:mm:ss'Z'".
    static void timeStampNow(QVariantMap &entry);
    // The instant of a server time text, or nullopt when it cannot be read.
    static std::optional<QDateTime> parseServerTime(const QString &text);
    // Seconds since 2001-01-01 00:00:00 UTC.
    static double referenceSeconds(const QDateTime &time);

private:
    void startWorker(const char *name, std::function<void()> work);
    void updateContactNet(const QVariantMap &entry);
    void refreshContactNet(const QVariantMap &entry);
    void addGroupNet(const QVariantMap &group);
    void updateGroupNet(const QVariantMap &group);
    void fillGroupLocked(QVariantMap &group) const;
    static int indexOfGuid(const QVariantList &list, const QString &guid);
    static void postChange(const QString &what, const QVariantMap &entry);
    static void postError(const QString &what, const APIResult &result);

    ServiceAPI &m_api;
    KeepAlive m_keepAlive;
    // Guards the three collections; each is replaced whole while it is held.
    mutable QMutex m_lock;
    QVariantList m_contacts;
    QVariantList m_discoContacts;
    QVariantMap m_contactsDictionary;
    std::atomic<bool> m_dirty {false};
};

} // namespace lf
