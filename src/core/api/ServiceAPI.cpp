#include "api/ServiceAPI.h"

#include "BuildConfig.h"
#include "foundation/Clock.h"
#include "foundation/Identity.h"
#include "foundation/LogCategories.h"
#include "foundation/NotificationCenter.h"
#include "foundation/OSInfo.h"
#include "foundation/Prefs.h"
#include "foundation/TextRules.h"
#include "foundation/Workers.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QUrl>

#include <mutex>

namespace lf {

namespace {

struct ServerChoice {
    std::mutex mutex;
    ServiceAPI::HostEntry server;
};

ServerChoice &serverChoice() {
    static ServerChoice choice;
    return choice;
}

// Stores the choice in memory only; callers store and announce it.
void assignServer(const QString &host, const QString &port) {
    ServerChoice &c = serverChoice();
    std::lock_guard lock(c.mutex);
    c.server = {host, port};
}

thread_local CancelHandler *t_cancelHandler = nullptr;

// One JSON value as compact text, whatever its kind (QJsonDocument only writes objects and arrays).
QByteArray jsonValueText(const QVariant &value) {
    const QByteArray wrapped
        = QJsonDocument(QJsonArray {QJsonValue::fromVariant(value)}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

// An object whose pairs keep the given order (QJsonObject would sort them); it ends before the
// first pair without a value.
QByteArray orderedObject(const QList<QPair<const char *, QVariant>> &pairs) {
    QByteArray out = "{";
    bool first = true;
    for (const auto &[key, value] : pairs) {
        if (!value.isValid())
            break;
        if (!first)
            out += ',';
        first = false;
        out += jsonValueText(QString::fromLatin1(key)) + ':' + jsonValueText(value);
    }
    return out + '}';
}

} // namespace

QByteArray compactJson(const QVariant &value) {
    if (value.typeId() == QMetaType::QVariantMap || value.typeId() == QMetaType::QVariantList)
        return QJsonDocument::fromVariant(value).toJson(QJsonDocument::Compact);
    return jsonValueText(value);
}

qint64 RequestBody::size() const {
    return file.isEmpty() ? bytes.size() : QFileInfo(file).size();
}

ScopedCancelHandler::ScopedCancelHandler(CancelHandler *handler)
    : m_previous(t_cancelHandler) {
    t_cancelHandler = handler;
}

ScopedCancelHandler::~ScopedCancelHandler() {
    t_cancelHandler = m_previous;
}

CancelHandler *ScopedCancelHandler::current() {
    return t_cancelHandler;
}

// ---- server choice

ServiceAPI::HostEntry ServiceAPI::hostEntry(int index) {
    static const HostEntry table[kHostCount] = {
        {QStringLiteral(LF_HOST_PRODUCTION), QStringLiteral("80")},
        {QStringLiteral(LF_HOST_STAGING), QStringLiteral("80")},
        {QStringLiteral(LF_HOST_TESTING), QStringLiteral("80")},
        {QStringLiteral(LF_HOST_DEVELOPMENT), QStringLiteral("3000")},
        {QString(), QStringLiteral("3000")},
    };
    return index >= 0 && index < kHostCount ? table[index] : HostEntry {};
}

ServiceAPI::HostEntry ServiceAPI::currentServer() {
    std::lock_guard lock(serverChoice().mutex);
    return serverChoice().server;
}

QString ServiceAPI::currentHost() {
    return currentServer().host;
}

QString ServiceAPI::currentPort() {
    return currentServer().port;
}

bool ServiceAPI::isSecure() {
    return currentServer().secure();
}

void ServiceAPI::setHost(const QString &host, const QString &port) {
    assignServer(host, port);
    Prefs::setPref(host.isEmpty() ? QVariant() : QVariant(host), PrefKey::Host);
    Prefs::setPref(port, PrefKey::Port);
    NotificationCenter::defaultCenter().post(kHostChangedNotification, host);
}

void ServiceAPI::chooseHost(int index) {
    if (index < 0 || index >= kHostCount)
        return;
    const HostEntry entry = hostEntry(index);
    setHost(entry.host, entry.port);
}

void ServiceAPI::nukeCookies(const QString &url) {
    HttpTransport::shared().nukeCookies(url);
}

ServiceAPI::ServiceAPI() {
    const HostEntry production = hostEntry(0);
    QString host = production.host;
    QString port = production.port;
    if (Prefs::intPrefForKey(PrefKey::HostVersion, 5) > 4) {
        host = Prefs::prefForKey(PrefKey::Host, production.host).toString();
        port = Prefs::prefForKey(PrefKey::Port, production.port).toString();
    } else {
        Prefs::setPref(host, PrefKey::Host);
        Prefs::setPref(port, PrefKey::Port);
    }
    Prefs::setIntPref(5, PrefKey::HostVersion);
    assignServer(host, port);
    m_clientID = getClientID();
    NotificationCenter::defaultCenter().post(kHostChangedNotification, host);
}

// ---- identity

QString ServiceAPI::userName() const {
    QMutexLocker lock(&m_stateMutex);
    return m_userName;
}

void ServiceAPI::setUserName(const QString &userName) {
    QMutexLocker lock(&m_stateMutex);
    m_userName = userName;
}

std::optional<QString> ServiceAPI::userToken() const {
    QMutexLocker lock(&m_stateMutex);
    return m_userToken;
}

void ServiceAPI::setUserToken(const std::optional<QString> &token) {
    QMutexLocker lock(&m_stateMutex);
    m_userToken = token;
}

QString ServiceAPI::accessToken() const {
    QMutexLocker lock(&m_stateMutex);
    return m_accessToken;
}

void ServiceAPI::setAccessToken(const QString &token) {
    QMutexLocker lock(&m_stateMutex);
    m_accessToken = token;
}

// ---- URL forms

QString ServiceAPI::plainURL(const QString &path) {
    const HostEntry server = currentServer();
    return QStringLiteral("http://%1:%2%3").arg(server.host, server.port, path);
}

QString ServiceAPI::secureURL(const QString &path) {
    const HostEntry server = currentServer();
    return server.secure() ? QStringLiteral("https://%1%2").arg(server.host, path)
                           : QStringLiteral("http://%1:%2%3").arg(server.host, server.port, path);
}

QString ServiceAPI::getFullURL(const QString &pathWithoutSlash) {
    const HostEntry server = currentServer();
    return QStringLiteral("http://%1:%2/%3").arg(server.host, server.port, pathWithoutSlash);
}

QString ServiceAPI::createURL(const QString &path, const QString &accessToken) const {
    const HostEntry server = currentServer();
    return QStringLiteral("http://%1:%2/client_browser_session?email=%3&client_id=%4&al=%5&url=%6")
        .arg(server.host, server.port, percentEscape(userName()), percentEscape(m_clientID),
            percentEscape(accessToken), percentEscape(path));
}

QString ServiceAPI::createURL(const QString &path) const {
    return createURL(path, accessToken());
}

// ---- headers

QByteArray ServiceAPI::userObject() const {
    const QString name = userName();
    const std::optional<QString> token = userToken();
    return orderedObject({{"email", name.isEmpty() ? QVariant() : QVariant(name)}, {"client_id", m_clientID},
        {"user_token", token ? QVariant(*token) : QVariant()}});
}

QByteArray ServiceAPI::identityObject(const QString &email, const QString &password) const {
    return orderedObject({{"email", email.isEmpty() ? QVariant() : QVariant(email)},
        {"client_id", m_clientID}, {"password", password}, {"client_info", getClientInfo()}});
}

QByteArray ServiceAPI::anonymousObject() const {
    return orderedObject({{"client_id", m_clientID}});
}

HttpHeaders ServiceAPI::personalizeHeaders() const {
    return {{ServiceHeader::User, userObject()}, {ServiceHeader::Version, ServiceHeader::VersionValue}};
}

HttpHeaders ServiceAPI::upersonalizeHeaders() const {
    return {{ServiceHeader::User, anonymousObject()}, {ServiceHeader::Version, ServiceHeader::VersionValue},
        {ServiceHeader::Accept, ServiceHeader::AcceptGet}};
}

void ServiceAPI::personalizeRequest(HttpRequest &request) const {
    request.headers = personalizeHeaders();
}

void ServiceAPI::upersonalizeRequest(HttpRequest &request) const {
    request.headers = upersonalizeHeaders();
}

QString ServiceAPI::formString(const FormPairs &pairs) {
    QStringList parts;
    for (const auto &[key, value] : pairs) {
        QString text;
        if (value.typeId() == QMetaType::QString)
            text = percentEscape(value.toString());
        else if (value.typeId() == QMetaType::Bool)
            text = value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
        else
            text = value.toString();
        parts.append(percentEscape(key) + QLatin1Char('=') + text);
    }
    return parts.join(QLatin1Char('&'));
}

QString ServiceAPI::formString(const QVariantMap &pairs) {
    FormPairs list;
    for (auto it = pairs.begin(); it != pairs.end(); ++it)
        list.append({it.key(), it.value()});
    return formString(list);
}

// ---- builders

ApiRequest ServiceAPI::userGetRequest(const QString &url, const QByteArray &userHeader) const {
    ApiRequest r;
    r.http.method = "GET";
    r.http.url = url;
    r.http.timeoutSeconds = kGetTimeoutSeconds;
    r.http.addHeader(ServiceHeader::Version, ServiceHeader::VersionValue);
    if (!userHeader.isEmpty())
        r.http.addHeader(ServiceHeader::User, userHeader);
    return r;
}

ApiRequest ServiceAPI::getRequest(const QString &url, const QByteArray &params) const {
    ApiRequest r = userGetRequest(url, userName().isEmpty() ? QByteArray() : userObject());
    if (!params.isEmpty())
        r.http.addHeader(ServiceHeader::Params, params);
    r.http.addHeader(ServiceHeader::Accept, ServiceHeader::AcceptGet);
    return r;
}

ApiRequest ServiceAPI::unauthGetRequest(const QString &url) const {
    ApiRequest r;
    r.http.method = "GET";
    r.http.url = url;
    r.http.timeoutSeconds = kGetTimeoutSeconds;
    r.http.headers = upersonalizeHeaders();
    return r;
}

ApiRequest ServiceAPI::postRequest(const QString &url, const QByteArray &params, const RequestBody &content,
    const QByteArray &contentType, const QByteArray &method) const {
    ApiRequest r;
    r.http.method = method.isEmpty() ? QByteArray("POST") : method;
    r.http.url = url;
    r.http.timeoutSeconds = kPostTimeoutSeconds;
    r.http.headers
        = {{ServiceHeader::User, userObject()}, {ServiceHeader::Version, ServiceHeader::VersionValue},
            {ServiceHeader::Accept, ServiceHeader::AcceptOther}};
    if (!params.isEmpty())
        r.http.addHeader(ServiceHeader::Params, params);
    if (!content.isEmpty()) {
        r.http.body = content.bytes;
        r.http.bodyFile = content.file;
        r.http.addHeader("Content-Length", QByteArray::number(content.size()));
        r.http.headers.append({"Content-Type",
            contentType.isEmpty() ? QByteArray(ServiceHeader::DefaultContentType) : contentType});
    }
    return r;
}

ApiRequest ServiceAPI::requestPostAPI(
    const QString &path, const QByteArray &params, const RequestBody &content) const {
    return postRequest(plainURL(path), params, content);
}

// ---- senders

APIResult ServiceAPI::get(const QString &url, const HttpHeaders &headers) {
    ApiRequest r;
    r.http.url = url;
    r.http.timeoutSeconds = kGetTimeoutSeconds;
    r.http.headers = headers;
    return sendSynchronousRequest(r);
}

APIResult ServiceAPI::get(const QString &url, const QByteArray &params) {
    return sendSynchronousRequest(getRequest(url, params));
}

APIResult ServiceAPI::getAPI(const QString &path, bool secure) {
    return get(secure ? secureURL(path) : plainURL(path), QByteArray());
}

APIResult ServiceAPI::unauthGet(const QString &url) {
    nukeCookies(url);
    return sendSynchronousRequest(unauthGetRequest(url));
}

APIResult ServiceAPI::unauthGetAPI(const QString &path) {
    return unauthGet(plainURL(path));
}

APIResult ServiceAPI::post(const QString &url, const QByteArray &params, const RequestBody &content,
    const QByteArray &contentType, const QByteArray &method) {
    return sendSynchronousRequest(postRequest(url, params, content, contentType, method));
}

APIResult ServiceAPI::post(const QString &url, const QByteArray &method) {
    return post(url, {}, {}, {}, method);
}

APIResult ServiceAPI::postAPI(const QString &path, const QByteArray &params, const RequestBody &content,
    const QByteArray &contentType, const QByteArray &method) {
    return post(plainURL(path), params, content, contentType, method);
}

APIResult ServiceAPI::postAPI(const QString &path, const QByteArray &params, const QByteArray &method) {
    return post(plainURL(path), params, {}, {}, method);
}

APIResult ServiceAPI::postAPIsecure(
    const QString &path, const QByteArray &params, const RequestBody &content) {
    return post(secureURL(path), params, content);
}

APIResult ServiceAPI::sendSynchronousRequest(const ApiRequest &request) {
    CancelHandler *handler = ScopedCancelHandler::current();
    const auto handlerCancelled = [handler] { return handler && handler->cancelled(); };
    const auto anyCancel = [&] { return handlerCancelled() || Workers::cancelled(); };
    if (handler)
        handler->setRetried(false);

    const bool retry = request.retry && m_attemptRetry;
    SendOptions options;
    options.cancelled = anyCancel;
    int status = 200;
    QByteArray body;
    int attempts = 0;
    int delays = 0;
    for (;;) {
        if (handlerCancelled())
            break;
        if (Workers::cancelled()) {
            // The program is stopping: report a cancelled send, never a success.
            if (attempts == 0)
                status = NetError::Cancelled;
            break;
        }
        if (attempts > 0 && handler)
            handler->setRetried(true);
        const HttpResponse response = HttpTransport::shared().send(request.http, options);
        ++attempts;
        if (response.hasResponse()) {
            status = response.status;
            body = response.body;
            break;
        }
        status = response.errorCode;
        body.clear();
        qCWarning(lfApi).noquote() << QStringLiteral("%1 %2 failed (%3: %4), attempt %5")
                                          .arg(QString::fromLatin1(request.http.method),
                                              QUrl(request.http.url).path(), QString::number(status),
                                              response.errorText, QString::number(attempts));
        if (!retry)
            break;
        Clock::instance().sleepUnless(std::chrono::seconds(kRetryDelays[delays]), anyCancel);
        if (++delays >= int(std::size(kRetryDelays)))
            break;
    }
    return APIResult::fromStatus(status, body);
}

// ---- root document

APIResult ServiceAPI::rootInfo() {
    ApiRequest r = getRequest(plainURL(QStringLiteral("/")));
    r.retry = false;
    return sendSynchronousRequest(r);
}

APIResult ServiceAPI::root() {
    {
        QMutexLocker lock(&m_stateMutex);
        if (!m_root.isNothing() && !m_root.isError())
            return m_root;
    }
    // A failure is kept only until the next read: one lost answer must not hide the user's links for good.
    const APIResult fetched = rootInfo();
    QMutexLocker lock(&m_stateMutex);
    m_root = fetched;
    return fetched;
}

void ServiceAPI::setRoot(const APIResult &root) {
    QMutexLocker lock(&m_stateMutex);
    m_root = root;
}

APIResult ServiceAPI::unauthRoot() {
    const QString url = plainURL(QString());
    nukeCookies(url);
    ApiRequest r = unauthGetRequest(url);
    r.retry = false;
    return sendSynchronousRequest(r);
}

bool ServiceAPI::checkConnection() {
    if (root().isError())
        setRoot({});
    if (!userName().isEmpty()) {
        const APIResult fresh = rootInfo();
        if (fresh.isError())
            return false;
        setRoot(fresh);
        return true;
    }
    ApiRequest r = getRequest(secureURL(QStringLiteral("/signin")));
    r.retry = false;
    return !sendSynchronousRequest(r).isError();
}

} // namespace lf
