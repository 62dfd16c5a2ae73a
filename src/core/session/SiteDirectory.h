#pragma once

#include "api/APIResult.h"

#include <QDateTime>
#include <QMutex>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <functional>

namespace lf {

class ServiceAPI;

// Keys of a site record and of the services answer.
namespace SiteKey {
inline constexpr const char *Services = "services";
inline constexpr const char *Name = "name";
inline constexpr const char *DisplayName = "display_name";
inline constexpr const char *Connected = "connected";
inline constexpr const char *Capabilities = "capabilities";
inline constexpr const char *Destination = "destination";
inline constexpr const char *AddressSource = "address_source";
inline constexpr const char *Uri = "uri";
inline constexpr const char *IconUrl = "icon_url";
inline constexpr const char *SigninIconUrl = "signin_icon_url";
inline constexpr const char *Contacts = "contacts";
} // namespace SiteKey

// The linked sites of the signed-in user, from the services answer: loaded at sign-in and
// again once three minutes old or flagged. Readers on any thread see a whole old or new list.
class SiteDirectory {
public:
    static constexpr int kReloadSeconds = 180;

    explicit SiteDirectory(ServiceAPI &api);

    // Each reloads first when sitesDirty() says so.
    QStringList sites(); // names of the connected destinations
    QStringList builtinSites(); // names of every destination
    QVariantList destinations(); // site records that take shares
    // The destinations as last loaded, without a reload.
    QVariantList destinationsSnapshot() const;

    // True when flagged; otherwise, once kReloadSeconds have passed since the last load (or
    // there was none), flags, restarts the period and says true.
    bool sitesDirty();
    void setSitesDirty(bool dirty);

    // Fetches the services answer and rebuilds the lists. Returns the answer, or a failure record
    // ("error", "status", "body") when the request failed; an empty map when there is no services link.
    QVariantMap loadSites();
    // Sends the services request and keeps its answer.
    APIResult getConsumers();
    APIResult consumers() const;
    QDateTime lastSiteGrab() const;

    // Called at the end of every successful load, on the loading thread (the icon downloads start here).
    void setLoadedHook(std::function<void()> hook);

private:
    ServiceAPI &m_api;
    mutable QMutex m_mutex; // lists, answer and time below
    QStringList m_sites;
    QStringList m_builtinSites;
    APIResult m_consumers;
    QDateTime m_lastSiteGrab;
    std::function<void()> m_loadedHook;
    // Held while `destinations` is replaced or walked (the icon downloads walk it).
    mutable QMutex m_destinationsLock;
    QVariantList m_destinations;
    std::atomic<bool> m_dirty {false};
};

} // namespace lf
