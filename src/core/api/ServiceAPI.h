#pragma once

#include "api/APIResult.h"
#include "api/HttpTransport.h"

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <optional>

namespace lf {

// Posted (object: the new host text) whenever the server choice is set.
inline constexpr const char *kHostChangedNotification = "hostchanged";

// Header names and values of the service.
namespace ServiceHeader {
inline constexpr const char *Version = "X-Lanternfish-Version";
inline constexpr const char *User = "X-Lanternfish-User";
inline constexpr const char *Params = "X-Lanternfish-Params";
inline constexpr const char *Accept = "accept";
inline constexpr const char *VersionValue = "0";
inline constexpr const char *AcceptGet = "application/json, application/javascript";
inline constexpr const char *AcceptOther = "application/json";
inline constexpr const char *DefaultContentType = "application/octet-stream";
inline constexpr const char *JsonContentType = "application/json";
} // namespace ServiceHeader

// Idle limits of the request builders, in seconds.
inline constexpr int kGetTimeoutSeconds = 75;
inline constexpr int kPostTimeoutSeconds = 240;

// Pairs of a form, in the order they are written.
using FormPairs = QList<QPair<QString, QVariant>>;

// A request body: bytes, or a file streamed from disk.
struct RequestBody {
    QByteArray bytes;
    QString file;

    static RequestBody data(const QByteArray &bytes) { return {bytes, {}}; }
    static RequestBody fromFile(const QString &path) { return {{}, path}; }
    bool isEmpty() const { return bytes.isEmpty() && file.isEmpty(); }
    qint64 size() const;
};

// A request of the service. Whether a missing response is retried belongs to the one request,
// so switching retries off for one send never affects what other threads send meanwhile.
struct ApiRequest {
    HttpRequest http;
    bool retry = true;
};

// Asked between attempts whether the work was cancelled, and told when a request is retried.
class CancelHandler {
public:
    virtual ~CancelHandler() = default;
    virtual bool cancelled() const = 0;
    virtual void setRetried(bool retried) = 0;
};

// Makes `handler` the cancel handler of every request the current thread sends while the guard
// lives. It is per thread: a contact request sent beside a bundle upload is not cancelled with it.
class ScopedCancelHandler {
public:
    explicit ScopedCancelHandler(CancelHandler *handler);
    ~ScopedCancelHandler();
    ScopedCancelHandler(const ScopedCancelHandler &) = delete;
    ScopedCancelHandler &operator=(const ScopedCancelHandler &) = delete;

    static CancelHandler *current();

private:
    CancelHandler *m_previous;
};

// The only code that speaks HTTP to the service: the server choice, the identity every request
// carries, the cached root document, the request builders, sending with bounded retry, and one
// operation per endpoint. Safe to use from several threads at once; no operation throws.
class ServiceAPI {
public:
    struct HostEntry {
        QString host;
        QString port;
        // Requests marked secure go to https exactly when the port is "80".
        bool secure() const { return port == QLatin1String("80"); }
    };
    static constexpr int kHostCount = 5;
    // Retry delays in seconds, one after each failed attempt.
    static constexpr int kRetryDelays[] = {1, 1, 5, 5, 15, 15, 30, 30, 60};

    // Server choice, shared by every ServiceAPI of the process.
    static HostEntry hostEntry(int index);
    // Host and port as one pair: a URL built from two separate reads could mix two choices.
    static HostEntry currentServer();
    static QString currentHost();
    static QString currentPort();
    // True exactly when the port is "80": requests marked secure then go to https.
    static bool isSecure();
    // Sets and stores both (an empty host removes the stored one) and posts "hostchanged".
    static void setHost(const QString &host, const QString &port);
    static void chooseHost(int index);
    // Deletes every cookie of the shared store that a request to `url` would carry.
    static void nukeCookies(const QString &url);

    // Reads the stored server choice (resetting it when stored by an older version) and the client ID.
    ServiceAPI();
    ServiceAPI(const ServiceAPI &) = delete;
    ServiceAPI &operator=(const ServiceAPI &) = delete;

    QString userName() const;
    void setUserName(const QString &userName);
    // Absent (nullopt) and empty are different: an absent token ends the user object early.
    std::optional<QString> userToken() const;
    void setUserToken(const std::optional<QString> &token);
    QString accessToken() const;
    void setAccessToken(const QString &token);
    QString clientID() const { return m_clientID; }
    // Default for every request of this object; a request may still switch retries off for itself.
    bool attemptRetry() const { return m_attemptRetry; }
    void setAttemptRetry(bool retry) { m_attemptRetry = retry; }

    // URL forms.
    static QString plainURL(const QString &path);
    // The https form (no port) when the secure flag is set, else the plain form.
    static QString secureURL(const QString &path);
    static QString getFullURL(const QString &pathWithoutSlash);
    QString createURL(const QString &path, const QString &accessToken) const;
    QString createURL(const QString &path) const;

    // The three user objects as compact JSON, pairs in their fixed order, cut at the first absent value.
    QByteArray userObject() const;
    QByteArray identityObject(const QString &email, const QString &password) const;
    QByteArray anonymousObject() const;
    // Header sets for pages a web view loads on the user's behalf, or anonymously.
    HttpHeaders personalizeHeaders() const;
    HttpHeaders upersonalizeHeaders() const;
    void personalizeRequest(HttpRequest &request) const;
    void upersonalizeRequest(HttpRequest &request) const;

    // "key=value" pairs joined by "&": keys and text values percent-escaped, others as plain text.
    static QString formString(const FormPairs &pairs);
    static QString formString(const QVariantMap &pairs);

    // Builders (unsent) and senders.
    ApiRequest getRequest(const QString &url, const QByteArray &params = {}) const;
    ApiRequest unauthGetRequest(const QString &url) const;
    ApiRequest postRequest(const QString &url, const QByteArray &params, const RequestBody &content,
        const QByteArray &contentType = {}, const QByteArray &method = "POST") const;
    ApiRequest requestPostAPI(
        const QString &path, const QByteArray &params, const RequestBody &content) const;

    APIResult get(const QString &url, const HttpHeaders &headers);
    APIResult get(const QString &url, const QByteArray &params);
    APIResult getAPI(const QString &path, bool secure = false);
    APIResult unauthGet(const QString &url);
    APIResult unauthGetAPI(const QString &path);
    APIResult post(const QString &url, const QByteArray &params, const RequestBody &content,
        const QByteArray &contentType = {}, const QByteArray &method = "POST");
    APIResult post(const QString &url, const QByteArray &method);
    APIResult postAPI(const QString &path, const QByteArray &params, const RequestBody &content,
        const QByteArray &contentType = {}, const QByteArray &method = "POST");
    APIResult postAPI(const QString &path, const QByteArray &params, const QByteArray &method);
    APIResult postAPIsecure(const QString &path, const QByteArray &params, const RequestBody &content);

    // Sends with up to nine attempts while no response arrives (sleeping the retry delays on the
    // Clock), never retrying an HTTP status; honours the thread's cancel handler.
    APIResult sendSynchronousRequest(const ApiRequest &request);

    // Root document.
    APIResult rootInfo();
    // The cached root; fetched when there is none, or when the cached one is a failure.
    APIResult root();
    void setRoot(const APIResult &root);
    APIResult unauthRoot();
    bool checkConnection();

    // Endpoint catalogue.
    APIResult verifyIdentity(const QString &email, const QString &password);
    APIResult getUserProfile();
    APIResult registration(const QVariantMap &fields);
    APIResult updateInfo();
    APIResult getConsumers();
    APIResult unlinkConsumer(const QString &uri);
    APIResult checkForUpdate();
    APIResult requestBundles(const QStringList &parameters);
    APIResult getAllContacts();
    APIResult addContact(const QVariantMap &entry);
    APIResult refreshContact(const QVariantMap &entry);
    APIResult updateContact(const QVariantMap &entry);
    APIResult deleteContact(const QVariantMap &entry);
    APIResult addGroup(const QVariantMap &group);
    APIResult updateGroup(const QVariantMap &group);
    APIResult deleteGroup(const QString &guid);
    ApiRequest createBundleRequest(const QVariantMap &bundle) const;
    APIResult createBundle(const QVariantMap &bundle);
    ApiRequest uploadPhotoRequest(const QVariantMap &photo, const RequestBody &content) const;
    APIResult uploadPhoto(const QVariantMap &photo, const RequestBody &content);
    ApiRequest closeBundleRequest(const QVariantMap &bundle) const;
    APIResult closeBundle(const QVariantMap &bundle);
    ApiRequest cancelBundleRequest(const QVariantMap &bundle) const;
    APIResult cancelBundle(const QVariantMap &bundle);
    APIResult uploadLog(const QVariantMap &record, const RequestBody &content);
    APIResult getURI(const QString &url);

private:
    ApiRequest userGetRequest(const QString &url, const QByteArray &userHeader) const;
    // A user-linked address from the root document ("user" -> key -> "uri"); the root's failure
    // when the root could not be fetched, nothing when it has no such link.
    APIResult rootLink(const QString &key, QString &uri);

    mutable QMutex m_stateMutex; // the identity fields and the root cache
    QString m_userName;
    std::optional<QString> m_userToken;
    QString m_accessToken;
    APIResult m_root;
    std::atomic<bool> m_attemptRetry {true};
    QString m_clientID;
    // Held by the contact-list download and contact deletion for their request.
    QMutex m_requestLock;
};

// Compact JSON of `value` (an object, list, text or number) in UTF-8.
QByteArray compactJson(const QVariant &value);

} // namespace lf
