#include "session/SiteDirectory.h"

#include "api/ServiceAPI.h"
#include "foundation/Clock.h"
#include "session/SessionRecords.h"

namespace lf {

SiteDirectory::SiteDirectory(ServiceAPI &api)
    : m_api(api) { }

QStringList SiteDirectory::sites() {
    if (sitesDirty())
        loadSites();
    QMutexLocker lock(&m_mutex);
    return m_sites;
}

QStringList SiteDirectory::builtinSites() {
    if (sitesDirty())
        loadSites();
    QMutexLocker lock(&m_mutex);
    return m_builtinSites;
}

QVariantList SiteDirectory::destinations() {
    if (sitesDirty())
        loadSites();
    QMutexLocker lock(&m_destinationsLock);
    return m_destinations;
}

QVariantList SiteDirectory::destinationsSnapshot() const {
    QMutexLocker lock(&m_destinationsLock);
    return m_destinations;
}

bool SiteDirectory::sitesDirty() {
    if (m_dirty)
        return true;
    const QDateTime now = Clock::instance().now();
    QMutexLocker lock(&m_mutex);
    if (m_lastSiteGrab.isValid() && m_lastSiteGrab.secsTo(now) < kReloadSeconds)
        return false;
    m_dirty = true;
    m_lastSiteGrab = now;
    return true;
}

void SiteDirectory::setSitesDirty(bool dirty) {
    m_dirty = dirty;
}

APIResult SiteDirectory::getConsumers() {
    const APIResult answer = m_api.getConsumers();
    QMutexLocker lock(&m_mutex);
    m_consumers = answer;
    return answer;
}

APIResult SiteDirectory::consumers() const {
    QMutexLocker lock(&m_mutex);
    return m_consumers;
}

QDateTime SiteDirectory::lastSiteGrab() const {
    QMutexLocker lock(&m_mutex);
    return m_lastSiteGrab;
}

void SiteDirectory::setLoadedHook(std::function<void()> hook) {
    QMutexLocker lock(&m_mutex);
    m_loadedHook = std::move(hook);
}

QVariantMap SiteDirectory::loadSites() {
    const APIResult answer = getConsumers();
    {
        QMutexLocker lock(&m_mutex);
        m_lastSiteGrab = Clock::instance().now();
        if (answer.isError()) {
            m_sites.clear();
            m_builtinSites.clear();
        }
    }
    if (answer.isError())
        return failureRecord(answer);

    QVariantList destinations;
    for (const QVariant &site : answer.value(SiteKey::Services).toList()) {
        const QVariantMap record = site.toMap();
        if (record.value(SiteKey::Capabilities).toMap().value(SiteKey::Destination).toInt() == 1)
            destinations.append(record);
    }
    QStringList builtin;
    QStringList connected;
    for (const QVariant &site : destinations) {
        const QVariantMap record = site.toMap();
        const QString name = record.value(SiteKey::Name).toString();
        builtin.append(name);
        if (record.value(SiteKey::Connected).toBool())
            connected.append(name);
    }
    {
        QMutexLocker lock(&m_destinationsLock);
        m_destinations = destinations;
    }
    std::function<void()> hook;
    {
        QMutexLocker lock(&m_mutex);
        m_sites = connected;
        m_builtinSites = builtin;
        hook = m_loadedHook;
    }
    m_dirty = false;
    if (hook)
        hook();
    return answer.toMap();
}

} // namespace lf
