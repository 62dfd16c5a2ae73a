#pragma once

#include "api/APIResult.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QVariantList>

#include <atomic>
#include <functional>
#include <memory>

namespace lf {

class ServiceAPI;
class SiteDirectory;

// Posted on the main thread when an icon worker has finished all its downloads.
inline constexpr const char *kServiceIconsLoadedNotification = "serviceIconsLoaded";
// The terms document in the cache folder.
inline constexpr const char *kTermsFileName = "Lanternfish.pdf";
// Icon files in the icons folder, by site name.
inline constexpr const char *kIconFileFormat = "%1.png";
inline constexpr const char *kConnectIconFileFormat = "%1_connect.png";
// Built-in images, by the same file names.
inline constexpr const char *kBuiltinImageFolder = ":/images/";

// Keys of the update answer's terms object and of the anonymous root document.
namespace TermsKey {
inline constexpr const char *Tos = "tos";
inline constexpr const char *Date = "date";
inline constexpr const char *Uri = "uri";
inline constexpr const char *DateFormat = "MM/dd/yyyy";
} // namespace TermsKey
inline constexpr const char *kAuthenticationKey = "authentication";

// The crash-log record sent with each log.
namespace CrashLogKey {
inline constexpr const char *FileName = "file_name";
inline constexpr const char *ClientType = "client_type";
inline constexpr const char *LogGuid = "log_guid";
inline constexpr const char *LogType = "log_type";
inline constexpr const char *Version = "version";
inline constexpr const char *CrashType = "crash";
} // namespace CrashLogKey

// What the session keeps beside the site lists: the anonymous root with its sign-in sites, the
// site icons in the icons folder, unlinking, the terms document and crash-log upload.
class SiteResources {
public:
    using KeepAlive = std::function<std::shared_ptr<const void>()>;

    SiteResources(ServiceAPI &api, SiteDirectory &sites, KeepAlive keepAlive = {});

    // The cached anonymous root document (fetched when there is none or signInDirty is set);
    // starts an icon worker every time.
    APIResult unauthRoot();
    bool signInDirty() const { return m_signInDirty; }
    void setSignInDirty(bool dirty) { m_signInDirty = dirty; }

    // Unlinks the site named exactly `name` in the stored services answer; nothing when unknown.
    APIResult unlinkConsumer(const QString &name);

    // Starts siteIconsThread() on a worker.
    void startIconWorker();
    // Downloads the missing icons of the destinations and of the sign-in sites, then posts
    // "serviceIconsLoaded". An icon once stored is never fetched again, and a URL is never
    // fetched twice at the same time by concurrent workers.
    void siteIconsThread();
    int siteResourceCount() const;

    // Paths of a site's icons in the icons folder (empty for a name that makes no safe file).
    static QString iconPath(const QString &siteName);
    static QString connectIconPath(const QString &siteName);
    // The stored icon, else the built-in image of that name (null when there is none).
    static QImage iconForService(const QString &siteName);
    static QImage iconForServiceConnect(const QString &siteName);
    // A full URL as it is; a path on the service becomes "http://HOST:PORT" + path.
    static QString resolveServiceURL(const QString &url);

    // The update check; when it announces terms newer than the stored document, downloads them.
    APIResult checkForUpdate();
    // Fetches tosURL into the terms file. The file appears only once complete; tosFile stays
    // empty when the download failed.
    void grabTOS();
    QString tosFile() const;
    QString tosURL() const;
    QDateTime tosTimeStamp() const;
    bool tosDownloading() const { return m_tosDownloading; }
    static QString termsPath();

    // Reads and uploads one crash log. False when it cannot be read or sent.
    bool uploadCrashLog(const QString &path);
    bool uploadCrashData(const QByteArray &bytes, const QString &fileName);

private:
    void start(const char *name, std::function<void()> work);
    void iterateServicesForIcons(const QVariantList &services);
    void downloadFile(const QString &path, const QString &url);

    ServiceAPI &m_api;
    SiteDirectory &m_sites;
    KeepAlive m_keepAlive;
    std::atomic<bool> m_signInDirty {false};

    mutable QMutex m_mutex; // everything below
    APIResult m_unauthRoot;
    QSet<QString> m_siteResourceURLs;
    QString m_tosURL;
    QString m_tosFile;
    QDateTime m_tosTimeStamp;
    std::atomic<int> m_siteResourceCount {0};
    std::atomic<bool> m_tosDownloading {false};
};

} // namespace lf
