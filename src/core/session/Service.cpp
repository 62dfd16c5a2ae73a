#include "session/Service.h"

#include "BuildConfig.h"
#include "foundation/Credentials.h"
#include "foundation/Log.h"
#include "foundation/MainThread.h"
#include "foundation/Prefs.h"
#include "foundation/Workers.h"
#include "session/SignIn.h"

#include <mutex>

namespace lf {

namespace {

std::mutex g_currentMutex;
std::shared_ptr<Service> g_current;

constexpr const char *kProfileRoles = "roles";
constexpr const char *kAdminRole = "admin";
constexpr const char *kProfileName = "name";
constexpr const char *kSentPath = "/?view=view&filter=sent";
constexpr const char *kReceivedPath = "/?view=view&filter=received";

} // namespace

std::shared_ptr<Service> Service::currentService() {
    std::lock_guard lock(g_currentMutex);
    if (!g_current)
        g_current = std::make_shared<Service>();
    return g_current;
}

void Service::terminate() {
    std::shared_ptr<Service> old;
    {
        std::lock_guard lock(g_currentMutex);
        old.swap(g_current);
    }
}

Service::Service()
    : m_sites(m_api)
    , m_addressBook(m_api, [this] { return std::shared_ptr<const void>(weak_from_this().lock()); })
    , m_siteResources(
          m_api, m_sites, [this] { return std::shared_ptr<const void>(weak_from_this().lock()); }) {
    // Every successful site load fetches the icons it lacks.
    m_sites.setLoadedHook([this] { m_siteResources.startIconWorker(); });
}

Service::~Service() = default;

void Service::setDelegate(ServiceDelegate *delegate) {
    m_delegate = delegate;
}

ServiceDelegate *Service::delegate() const {
    return m_delegate;
}

void Service::installBundleSender(const BundleSenderFactory &factory) {
    QMutexLocker lock(&m_bundleMutex);
    if (m_bundleOwner || !factory)
        return;
    m_bundleOwner = factory(m_api, *this);
    m_bundles = m_bundleOwner.get();
}

SendResult Service::uploadPhotoAsynch(const UploadItem &item) {
    if (BundleSender *sender = m_bundles)
        return sender->uploadPhotoAsynch(item);
    return SendResult::failure(0, QStringLiteral("no bundle sender"));
}

void Service::cancelBundle(const QString &bundleGuid) {
    if (BundleSender *sender = m_bundles)
        sender->cancelBundle(bundleGuid);
}

void Service::setRetried(bool retried) {
    if (BundleSender *sender = m_bundles)
        sender->setRetried(retried);
}

void Service::setUploadsStopping(bool stopping) {
    if (BundleSender *sender = m_bundles)
        sender->setStopping(stopping);
}

int Service::bundleState() const {
    const BundleSender *sender = m_bundles;
    return sender ? sender->bundleStep() : 0;
}

void Service::connect(const QString &email, const QString &password, const QString &userToken) {
    const QVariantMap request {
        {SignInKey::Email, email}, {SignInKey::Password, password}, {SignInKey::UserToken, userToken}};
    std::shared_ptr<Service> self = weak_from_this().lock();
    if (!self) {
        // Only a session held by a shared pointer can outlive the caller on a worker.
        completed({{RecordKey::ClientAction, ClientAction::Connect},
            {RecordKey::Error, QStringLiteral("no session")}});
        return;
    }
    // runSignIn catches whatever a step throws, so the delegate always hears about it.
    Workers::instance().start(QStringLiteral("sign-in"),
        [self, request] { self->completed(runSignIn(*self, self->m_api, request)); });
}

void Service::disconnect() {
    setProfile({});
    m_addressBook.clear();
}

void Service::forgetToken() {
    m_api.setUserToken(std::nullopt);
    Credentials::forgetToken();
}

void Service::setName(const QString &email, const QString &token) {
    // The cached root document belongs to the identity that fetched it.
    if (m_api.userName() != email || m_api.userToken() != std::optional<QString>(token))
        m_api.setRoot({});
    m_api.setUserName(email);
    m_api.setUserToken(token);
    Credentials::saveCredentials(email, token);
}

QString Service::userName() const {
    return m_api.userName();
}

QString Service::userToken() const {
    return m_api.userToken().value_or(QString());
}

QVariantMap Service::profile() const {
    QMutexLocker lock(&m_profileMutex);
    return m_profile;
}

void Service::setProfile(const QVariantMap &profile) {
    QMutexLocker lock(&m_profileMutex);
    m_profile = profile;
}

QString Service::userFriendlyName() {
    return m_api.rootInfo().value(QStringLiteral("user")).toMap().value(kProfileName).toString();
}

bool Service::internal() const {
    const QString staffSuffix = QLatin1Char('@') + QStringLiteral(LF_STAFF_DOMAIN).toLower();
    if (userName().toLower().endsWith(staffSuffix))
        return true;
    return profile().value(kProfileRoles).toStringList().contains(kAdminRole);
}

bool Service::checkConnection() {
    return m_api.checkConnection();
}

APIResult Service::registration(const QVariantMap &fields) {
    return m_api.registration(fields);
}

APIResult Service::updateInfo() {
    return m_api.updateInfo();
}

QString Service::getClientBrowserURL(bool sent) const {
    return m_api.createURL(QString::fromLatin1(sent ? kSentPath : kReceivedPath));
}

void Service::chooseHost(int index) {
    ServiceAPI::chooseHost(index);
    m_api.setRoot({});
    m_sites.setSitesDirty(true);
    setSignInDirty(true);
    setContactsDirty(true);
}

SendResult Service::sendBundleAsynch(const ShareRequest &request) {
    BundleSender *sender = m_bundles;
    if (!sender)
        return SendResult::failure(0, QStringLiteral("no bundle sender"));
    const SendResult result = sender->sendBundleAsynch(request);
    // The share may have made new contacts on the server: reload them now, off the main thread.
    setContactsDirty(true);
    xcontacts();
    return result;
}

APIResult Service::withdrawBundle(const QString &bundleGuid, bool retry) {
    ApiRequest cancel = m_api.cancelBundleRequest({{BundleKey::BundleGuid, bundleGuid}});
    if (!retry)
        cancel.retry = false;
    return m_api.sendSynchronousRequest(cancel);
}

void Service::progress(const QString &what, double value, bool wait) {
    if (m_cancelled)
        return;
    deliverProgress({{RecordKey::What, what}, {RecordKey::Value, value}}, wait);
}

void Service::progress(const QString &what, qint64 sent, qint64 total, bool wait) {
    if (m_cancelled || total <= 0)
        return;
    deliverProgress({{RecordKey::What, what}, {RecordKey::Value, double(sent) / double(total)},
                        {RecordKey::Sent, sent}, {RecordKey::Total, total}},
        wait);
}

void Service::progress(const QString &what, const QString &text) {
    if (m_cancelled)
        return;
    deliverProgress({{RecordKey::What, what}, {RecordKey::String, text}}, false);
}

void Service::progress(const QString &what, const QString &text, int index, int count) {
    if (m_cancelled)
        return;
    deliverProgress({{RecordKey::What, what}, {RecordKey::String, text}, {RecordKey::Index, index},
                        {RecordKey::Count, count}},
        false);
}

void Service::progressConnected() {
    if (m_cancelled)
        return;
    deliverProgress({{RecordKey::What, ProgressWhat::Connected}}, false);
}

void Service::deliverProgress(const QVariantMap &record, bool wait) {
    std::weak_ptr<Service> weak = weak_from_this();
    auto deliver = [weak, record] {
        if (auto self = weak.lock()) {
            if (ServiceDelegate *d = self->delegate())
                d->serviceThreadProgress(record);
        }
    };
    if (wait)
        runOnMainThreadAndWait(deliver);
    else
        runOnMainThread(deliver);
}

void Service::completed(const QVariantMap &result) {
    runOnMainThreadAndWait([this, &result] {
        if (ServiceDelegate *d = delegate())
            d->serviceThreadCompleted(result);
    });
}

} // namespace lf
