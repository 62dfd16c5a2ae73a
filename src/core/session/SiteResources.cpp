#include "session/SiteResources.h"

#include "api/HttpTransport.h"
#include "api/ServiceAPI.h"
#include "foundation/Credentials.h"
#include "foundation/FileRules.h"
#include "foundation/Identity.h"
#include "foundation/LogCategories.h"
#include "foundation/NotificationCenter.h"
#include "foundation/OSInfo.h"
#include "foundation/Workers.h"
#include "session/SiteDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace lf {

namespace {

QString iconFile(const char *format, const QString &siteName) {
    const QString name = safeFileName(QString::fromLatin1(format).arg(siteName));
    return name.isEmpty() ? QString() : QDir(iconsFolder()).filePath(name);
}

QImage storedOrBuiltin(const char *format, const QString &siteName) {
    const QString path = iconFile(format, siteName);
    QImage image;
    if (!path.isEmpty() && QFileInfo::exists(path))
        image.load(path);
    if (image.isNull())
        image.load(QLatin1String(kBuiltinImageFolder) + QString::fromLatin1(format).arg(siteName));
    return image;
}

// A plain GET without the service's headers.
HttpResponse plainGet(const QString &url) {
    HttpRequest request;
    request.url = url;
    return HttpTransport::shared().send(request);
}

} // namespace

SiteResources::SiteResources(ServiceAPI &api, SiteDirectory &sites, KeepAlive keepAlive)
    : m_api(api)
    , m_sites(sites)
    , m_keepAlive(std::move(keepAlive)) { }

void SiteResources::start(const char *name, std::function<void()> work) {
    std::shared_ptr<const void> keep = m_keepAlive ? m_keepAlive() : nullptr;
    Workers::instance().start(QString::fromLatin1(name), [keep, work = std::move(work)] { work(); });
}

// ---- anonymous root, unlinking ----

APIResult SiteResources::unauthRoot() {
    if (m_signInDirty.exchange(false)) {
        QMutexLocker lock(&m_mutex);
        m_unauthRoot = {};
    }
    APIResult root;
    {
        QMutexLocker lock(&m_mutex);
        root = m_unauthRoot;
    }
    if (root.isNothing() || root.isError()) {
        // A failure is not cached: the sign-in window asks again.
        root = m_api.unauthRoot();
        QMutexLocker lock(&m_mutex);
        m_unauthRoot = root.isError() ? APIResult() : root;
    }
    startIconWorker();
    return root;
}

APIResult SiteResources::unlinkConsumer(const QString &name) {
    m_sites.setSitesDirty(true);
    for (const QVariant &item : m_sites.consumers().value(SiteKey::Services).toList()) {
        const QVariantMap site = item.toMap();
        if (site.value(SiteKey::Name).toString() == name)
            return m_api.unlinkConsumer(site.value(SiteKey::Uri).toString());
    }
    return {};
}

// ---- icons ----

QString SiteResources::iconPath(const QString &siteName) {
    return iconFile(kIconFileFormat, siteName);
}

QString SiteResources::connectIconPath(const QString &siteName) {
    return iconFile(kConnectIconFileFormat, siteName);
}

QImage SiteResources::iconForService(const QString &siteName) {
    return storedOrBuiltin(kIconFileFormat, siteName);
}

QImage SiteResources::iconForServiceConnect(const QString &siteName) {
    return storedOrBuiltin(kConnectIconFileFormat, siteName);
}

QString SiteResources::resolveServiceURL(const QString &url) {
    if (url.startsWith(QLatin1String("http")))
        return url;
    // With the server's port: dropping it only works for a server on port 80, and would leave a
    // development server without icons.
    return ServiceAPI::plainURL(url);
}

int SiteResources::siteResourceCount() const {
    return m_siteResourceCount;
}

void SiteResources::startIconWorker() {
    start("site icons", [this] { siteIconsThread(); });
}

void SiteResources::siteIconsThread() {
    if (!makePrivateFolder(iconsFolder()))
        qCWarning(lfSession).noquote() << QStringLiteral("cannot create the icons folder");
    // Taken as a snapshot: the downloads must not hold the destinations lock.
    const QVariantList destinations = m_sites.destinationsSnapshot();
    iterateServicesForIcons(destinations);
    QVariantList signInSites;
    {
        QMutexLocker lock(&m_mutex);
        signInSites = m_unauthRoot.value(kAuthenticationKey).toMap().value(SiteKey::Services).toList();
    }
    iterateServicesForIcons(signInSites);
    NotificationCenter::defaultCenter().postNotificationMainThread(kServiceIconsLoadedNotification);
}

void SiteResources::iterateServicesForIcons(const QVariantList &services) {
    for (const QVariant &item : services) {
        if (Workers::cancelled())
            return;
        const QVariantMap site = item.toMap();
        const QString name = site.value(SiteKey::Name).toString();
        // JSON null arrives as an invalid or null variant: absent.
        const QVariant icon = site.value(SiteKey::IconUrl);
        if (icon.typeId() == QMetaType::QString)
            downloadFile(iconPath(name), icon.toString());
        const QVariant signinIcon = site.value(SiteKey::SigninIconUrl);
        if (signinIcon.typeId() == QMetaType::QString)
            downloadFile(connectIconPath(name), signinIcon.toString());
    }
}

void SiteResources::downloadFile(const QString &path, const QString &url) {
    if (path.isEmpty() || url.isEmpty() || QFileInfo::exists(path))
        return;
    const QString full = resolveServiceURL(url);
    {
        QMutexLocker lock(&m_mutex);
        if (m_siteResourceURLs.contains(full))
            return;
        m_siteResourceURLs.insert(full);
    }
    ++m_siteResourceCount;
    const HttpResponse response = plainGet(full);
    // Only a whole image is stored, and only through a rename: a failure leaves no icon file.
    if (response.status == 200 && !QImage::fromData(response.body).isNull()) {
        QString error;
        if (!writeFileAtomically(path, response.body, &error, 0644))
            qCWarning(lfSession).noquote() << QStringLiteral("icon not stored: %1").arg(error);
    } else {
        qCWarning(lfSession).noquote()
            << QStringLiteral("icon download failed: %1 (%2)").arg(full, QString::number(response.status));
    }
    {
        QMutexLocker lock(&m_mutex);
        m_siteResourceURLs.remove(full);
    }
    --m_siteResourceCount;
}

// ---- update check and terms ----

QString SiteResources::termsPath() {
    return QDir(sandboxFolder()).filePath(QLatin1String(kTermsFileName));
}

APIResult SiteResources::checkForUpdate() {
    const APIResult answer = m_api.checkForUpdate();
    const QVariantMap tos = answer.value(TermsKey::Tos).toMap();
    if (answer.isError() || tos.isEmpty())
        return answer;
    QDateTime date
        = QDateTime::fromString(tos.value(TermsKey::Date).toString(), QLatin1String(TermsKey::DateFormat));
    date.setTimeSpec(Qt::LocalTime);
    const QString path = termsPath();
    {
        QMutexLocker lock(&m_mutex);
        m_tosTimeStamp = date;
    }
    const QFileInfo stored(path);
    if (stored.exists() && (!date.isValid() || date <= stored.lastModified())) {
        QMutexLocker lock(&m_mutex);
        m_tosFile = path;
        return answer;
    }
    // The stored terms stay until newer ones have arrived whole; they are no longer offered.
    {
        QMutexLocker lock(&m_mutex);
        m_tosURL = tos.value(TermsKey::Uri).toString();
        m_tosFile.clear();
    }
    m_tosDownloading = true;
    start("terms download", [this] { grabTOS(); });
    return answer;
}

void SiteResources::grabTOS() {
    QString url;
    {
        QMutexLocker lock(&m_mutex);
        m_tosFile.clear();
        url = m_tosURL;
    }
    m_tosDownloading = true;
    const QString path = termsPath();
    bool stored = false;
    if (!url.isEmpty()) {
        const HttpResponse response = plainGet(resolveServiceURL(url));
        QString error;
        if (response.status == 200 && !response.body.isEmpty() && makePrivateFolder(sandboxFolder()))
            stored = writeFileAtomically(path, response.body, &error, 0644);
        if (!stored)
            qCWarning(lfSession).noquote() << QStringLiteral("terms download failed: %1 %2")
                                                  .arg(QString::number(response.status), error);
    }
    {
        QMutexLocker lock(&m_mutex);
        m_tosFile = stored ? path : QString();
    }
    m_tosDownloading = false;
}

QString SiteResources::tosFile() const {
    QMutexLocker lock(&m_mutex);
    return m_tosFile;
}

QString SiteResources::tosURL() const {
    QMutexLocker lock(&m_mutex);
    return m_tosURL;
}

QDateTime SiteResources::tosTimeStamp() const {
    QMutexLocker lock(&m_mutex);
    return m_tosTimeStamp;
}

// ---- crash logs ----

bool SiteResources::uploadCrashLog(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    return uploadCrashData(bytes, QFileInfo(path).fileName());
}

bool SiteResources::uploadCrashData(const QByteArray &bytes, const QString &fileName) {
    const QVariantMap record {{CrashLogKey::FileName, fileName},
        {CrashLogKey::ClientType, QString::fromLatin1(kPlatformWord)}, {CrashLogKey::LogGuid, getClientID()},
        {CrashLogKey::LogType, QString::fromLatin1(CrashLogKey::CrashType)},
        {CrashLogKey::Version, Credentials::clientVersion()}};
    const APIResult answer = m_api.uploadLog(record, RequestBody::data(bytes));
    return !answer.isNothing() && !answer.isError();
}

} // namespace lf
