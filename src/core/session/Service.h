#pragma once

#include "api/ServiceAPI.h"
#include "session/AddressBookSync.h"
#include "session/BundleSender.h"
#include "session/ServiceDelegate.h"
#include "session/SessionRecords.h"
#include "session/SiteDirectory.h"
#include "session/SiteResources.h"

#include <QMutex>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>

namespace lf {

// The client's one session with the server: it owns the request layer, signs the user in on a
// worker and reports to its delegate on the main thread, and holds the signed-in state. It stays a
// facade: site lists live in SiteDirectory, the address book and uploads in collaborators of their own.
class Service : public std::enable_shared_from_this<Service>, private BundleReporter {
public:
    // The session, created on first use.
    static std::shared_ptr<Service> currentService();
    // Drops the session; the next currentService() creates a new one. Work in flight keeps the old one alive.
    static void terminate();
    static bool on3G() { return false; }

    Service();
    ~Service();
    Service(const Service &) = delete;
    Service &operator=(const Service &) = delete;

    // Not owned. Callbacks look the delegate up when they run, so clearing it stops later ones.
    void setDelegate(ServiceDelegate *delegate);
    ServiceDelegate *delegate() const;

    // Signs in on a worker (password, or a stored token when `password` is empty) and hands the
    // result record ("clientAction" "connect") to the delegate. Returns at once.
    void connect(const QString &email, const QString &password = {}, const QString &userToken = {});
    // Forgets the signed-in state; the stored user name and token stay.
    void disconnect();
    void forgetToken();
    // Sets and stores the user name and token.
    void setName(const QString &email, const QString &token);
    QString userName() const;
    QString userToken() const;
    // The "user" object of the root document; empty while signed out.
    QVariantMap profile() const;
    void setProfile(const QVariantMap &profile);
    // The user's name as the server has it now (fetches the root document).
    QString userFriendlyName();
    // A staff account: the build's staff e-mail domain (any case), or an "admin" role in the profile.
    bool internal() const;

    bool checkConnection();
    APIResult registration(const QVariantMap &fields);
    APIResult updateInfo();
    QString getClientBrowserURL(bool sent) const;
    // Switches the server table entry and flags everything cached from the old server.
    void chooseHost(int index);
    HttpHeaders personalizeHeaders() const { return m_api.personalizeHeaders(); }
    HttpHeaders upersonalizeHeaders() const { return m_api.upersonalizeHeaders(); }
    void personalizeRequest(HttpRequest &request) const { m_api.personalizeRequest(request); }
    void upersonalizeRequest(HttpRequest &request) const { m_api.upersonalizeRequest(request); }
    APIResult getURI(const QString &url) { return m_api.getURI(url); }
    QString getFullURL(const QString &path) const { return ServiceAPI::getFullURL(path); }
    APIResult rootInfo() { return m_api.rootInfo(); }
    // Uses a name and token for the requests of this session without storing them.
    void useIdentity(const QString &email, const QString &token) {
        m_api.setUserName(email);
        m_api.setUserToken(token);
    }
    QString accessToken() const { return m_api.accessToken(); }
    QString clientID() const { return m_api.clientID(); }
    // Whether requests that failed on the network are sent again.
    void setAttemptRetry(bool retry) { m_api.setAttemptRetry(retry); }
    // The update document as the server sends it; nothing is stored.
    APIResult fetchUpdateInfo() { return m_api.checkForUpdate(); }

    // Sites (see SiteDirectory).
    QStringList sites() { return m_sites.sites(); }
    QStringList builtinSites() { return m_sites.builtinSites(); }
    QVariantList destinations() { return m_sites.destinations(); }
    bool sitesDirty() { return m_sites.sitesDirty(); }
    void setSitesDirty(bool dirty) { m_sites.setSitesDirty(dirty); }
    QVariantMap loadSites() { return m_sites.loadSites(); }
    APIResult getConsumers() { return m_sites.getConsumers(); }
    APIResult consumers() const { return m_sites.consumers(); }
    // The destinations as loaded, without a reload; safe from any thread.
    QVariantList destinationsSnapshot() const { return m_sites.destinationsSnapshot(); }
    // Replaces what runs after every successful site load (the icon fetch).
    void setSitesLoadedHook(std::function<void()> hook) { m_sites.setLoadedHook(std::move(hook)); }

    // ---- Address book, and what sits beside the site lists (AddressBookSync, SiteResources) ----
    QVariantList contacts() const { return m_addressBook.contacts(); }
    QVariantMap contactsDictionary() const { return m_addressBook.contactsDictionary(); }
    void sortContacts(const std::function<bool(const QVariantMap &, const QVariantMap &)> &less) {
        m_addressBook.sortContacts(less);
    }
    QVariantList xcontacts() { return m_addressBook.xcontacts(); }
    QVariantList discoContacts() const { return m_addressBook.discoContacts(); }
    bool contactsDirty() const { return m_addressBook.contactsDirty(); }
    void setContactsDirty(bool dirty) { m_addressBook.setContactsDirty(dirty); }
    void loadContacts() { m_addressBook.loadContacts(); }
    int addContact(const QVariantMap &entry) { return m_addressBook.addContact(entry); }
    APIResult addContactOnly(const QVariantMap &entry) { return m_addressBook.addContactOnly(entry); }
    int updateContact(QVariantMap &entry) { return m_addressBook.updateContact(entry); }
    int deleteContact(const QVariantMap &entry) { return m_addressBook.deleteContact(entry); }
    void refreshContact(const QVariantMap &entry) { m_addressBook.refreshContact(entry); }
    int addGroup(const QVariantMap &group) { return m_addressBook.addGroup(group); }
    int updateGroup(const QVariantMap &group) { return m_addressBook.updateGroup(group); }
    void deleteGroup(const QString &guid) { m_addressBook.deleteGroup(guid); }
    int contactIndex(const QVariantMap &entry) const { return m_addressBook.contactIndex(entry); }
    // Deletes on the server only; the loaded list stays as it is.
    APIResult deleteContactOnly(const QVariantMap &entry) { return m_api.deleteContact(entry); }
    APIResult deleteGroupOnly(const QString &guid) { return m_api.deleteGroup(guid); }
    bool signInDirty() const { return m_siteResources.signInDirty(); }
    void setSignInDirty(bool dirty) { m_siteResources.setSignInDirty(dirty); }
    APIResult unauthRoot() { return m_siteResources.unauthRoot(); }
    APIResult unlinkConsumer(const QString &name) { return m_siteResources.unlinkConsumer(name); }
    static QImage iconForService(const QString &name) { return SiteResources::iconForService(name); }
    static QImage iconForServiceConnect(const QString &name) {
        return SiteResources::iconForServiceConnect(name);
    }
    APIResult checkForUpdate() { return m_siteResources.checkForUpdate(); }
    QString tosFile() const { return m_siteResources.tosFile(); }
    QString tosURL() const { return m_siteResources.tosURL(); }
    bool tosDownloading() const { return m_siteResources.tosDownloading(); }
    int siteResourceCount() const { return m_siteResources.siteResourceCount(); }
    bool uploadCrashLog(const QString &path) { return m_siteResources.uploadCrashLog(path); }
    bool uploadCrashData(const QByteArray &bytes, const QString &name) {
        return m_siteResources.uploadCrashData(bytes, name);
    }
    // ---- end of address book and site resources ----

    // Progress to the delegate, never while cancelled. Only `wait` blocks until it was delivered.
    void progress(const QString &what, double value, bool wait) override;
    // An upload's progress with its byte counts.
    void progress(const QString &what, qint64 sent, qint64 total, bool wait) override;
    void progress(const QString &what, const QString &text) override;
    // A text with the position it tells of ("index" from 0 of "count"), for displays of their own.
    void progress(const QString &what, const QString &text, int index, int count) override;
    void progressConnected() override;
    // The cancel state of the upload in flight; progress is silent while it is set.
    bool cancelled() const override { return m_cancelled; }
    void setCancelled(bool cancelled) override { m_cancelled = cancelled; }

    // Hands a result record to the delegate on the main thread and waits until it returned.
    void completed(const QVariantMap &result) override;

    // Bundle uploads. The sending layer installs the uploader with installBundleSender; until then
    // sends fail with an error and the rest does nothing. A send reloads the contacts afterwards.
    using BundleSenderFactory = std::function<std::unique_ptr<BundleSender>(ServiceAPI &, BundleReporter &)>;
    // Builds the uploader from this session's request layer and reports, unless one is installed
    // already: the first one stays. The session keeps its request layer to itself otherwise.
    void installBundleSender(const BundleSenderFactory &factory);
    bool hasBundleSender() const { return m_bundles.load() != nullptr; }
    SendResult sendBundleAsynch(const ShareRequest &request);
    SendResult uploadPhotoAsynch(const UploadItem &item);
    void cancelBundle(const QString &bundleGuid);
    void setRetried(bool retried);
    int bundleState() const;
    // The program is ending: uploads in flight stop without withdrawing anything.
    void setUploadsStopping(bool stopping);
    // Withdraws a created bundle from the server; `retry` false makes it a single attempt.
    APIResult withdrawBundle(const QString &bundleGuid, bool retry = true);

private:
    void deliverProgress(const QVariantMap &record, bool wait);

    ServiceAPI m_api;
    SiteDirectory m_sites;
    std::atomic<ServiceDelegate *> m_delegate {nullptr};
    mutable QMutex m_profileMutex;
    QVariantMap m_profile;
    AddressBookSync m_addressBook;
    SiteResources m_siteResources;
    std::atomic<bool> m_cancelled {false};

    // Bundle uploads: set once, read from any thread.
    QMutex m_bundleMutex;
    std::unique_ptr<BundleSender> m_bundleOwner;
    std::atomic<BundleSender *> m_bundles {nullptr};
};

} // namespace lf
