#include "api/HttpTransport.h"

#include "foundation/Clock.h"
#include "foundation/Credentials.h"
#include "foundation/OSInfo.h"

#include <QFile>
#include <QHash>

#include <curl/curl.h>

#include <array>
#include <memory>
#include <mutex>
#include <set>

namespace lf {

namespace {

// Headers that carry the user's identity never follow a redirect to another origin.
constexpr const char *kPrivateHeaderPrefix = "x-lanternfish-";
constexpr int kPollMs = 100;

struct Phrase {
    int status;
    const char *text;
};
constexpr Phrase kPhrases[] = {{100, "Continue"}, {101, "Switching Protocols"}, {200, "OK"}, {201, "Created"},
    {202, "Accepted"}, {203, "Non-Authoritative Information"}, {204, "No Content"}, {205, "Reset Content"},
    {206, "Partial Content"}, {300, "Multiple Choices"}, {301, "Moved Permanently"}, {302, "Found"},
    {303, "See Other"}, {304, "Not Modified"}, {305, "Use Proxy"}, {307, "Temporary Redirect"},
    {308, "Permanent Redirect"}, {400, "Bad Request"}, {401, "Unauthorized"}, {402, "Payment Required"},
    {403, "Forbidden"}, {404, "Not Found"}, {405, "Method Not Allowed"}, {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"}, {408, "Request Timeout"}, {409, "Conflict"}, {410, "Gone"},
    {411, "Length Required"}, {412, "Precondition Failed"}, {413, "Content Too Large"}, {414, "URI Too Long"},
    {415, "Unsupported Media Type"}, {416, "Range Not Satisfiable"}, {417, "Expectation Failed"},
    {421, "Misdirected Request"}, {422, "Unprocessable Content"}, {423, "Locked"}, {424, "Failed Dependency"},
    {426, "Upgrade Required"}, {428, "Precondition Required"}, {429, "Too Many Requests"},
    {431, "Request Header Fields Too Large"}, {451, "Unavailable For Legal Reasons"},
    {500, "Internal Server Error"}, {501, "Not Implemented"}, {502, "Bad Gateway"},
    {503, "Service Unavailable"}, {504, "Gateway Timeout"}, {505, "HTTP Version Not Supported"},
    {507, "Insufficient Storage"}, {511, "Network Authentication Required"}};

struct EasyCleanup {
    void operator()(CURL *easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
    void operator()(CURLM *multi) const { curl_multi_cleanup(multi); }
};
struct SlistCleanup {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;
using SlistHandle = std::unique_ptr<curl_slist, SlistCleanup>;

int mapCurlError(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
        return NetError::NotConnected;
    case CURLE_OPERATION_TIMEDOUT:
        return NetError::TimedOut;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    // The connection went while the body was on its way and libcurl could not send it again.
    case CURLE_SEND_FAIL_REWIND:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return NetError::ConnectionLost;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_USE_SSL_FAILED:
        return NetError::SecureConnectionFailed;
    case CURLE_ABORTED_BY_CALLBACK:
        return NetError::Cancelled;
    default:
        return NetError::Unknown;
    }
}

QString originOf(const QUrl &url) {
    return url.scheme().toLower() + QLatin1String("://") + url.host().toLower() + QLatin1Char(':')
        + QString::number(
            url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80));
}

bool isHttpScheme(const QUrl &url) {
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// One cookie as libcurl lists it (Netscape format), kept whole so it can be written back.
struct CurlCookie {
    QByteArray domainField; // may carry the "#HttpOnly_" prefix
    QByteArray tailMatch, path, secure, expires, name, value;

    Cookie toCookie() const {
        Cookie c;
        QByteArray domain = domainField;
        if (domain.startsWith("#HttpOnly_"))
            domain = domain.mid(10);
        c.domain = QString::fromUtf8(domain);
        c.path = QString::fromUtf8(path);
        c.name = QString::fromUtf8(name);
        c.value = QString::fromUtf8(value);
        const qint64 secs = expires.toLongLong();
        if (secs > 0)
            c.expires = QDateTime::fromSecsSinceEpoch(secs, Qt::UTC);
        return c;
    }
    bool isSecure() const { return secure == "TRUE"; }
    // The cookie as a line of the Netscape format, with the given expiry.
    QByteArray line(const QByteArray &expiry) const {
        return domainField + '\t' + tailMatch + '\t' + path + '\t' + secure + '\t' + expiry + '\t' + name
            + '\t' + value;
    }
};

// Per-transfer state the libcurl callbacks write into.
struct Transfer {
    const SendOptions *options = nullptr;
    HttpResponse *response = nullptr;
    QFile *bodyFile = nullptr;
    const QByteArray *bodyBytes = nullptr;
    qint64 bodyOffset = 0;
    qint64 lastUp = -1;
    qint64 lastDown = -1;
    qint64 lastActivityMs = 0;
    bool sinkRefused = false;
    bool readFailed = false;
    int requestsStarted = 0;
    bool resendRefused = false;
};

size_t writeBody(char *data, size_t size, size_t count, void *user) {
    auto *t = static_cast<Transfer *>(user);
    const size_t n = size * count;
    t->lastActivityMs = Clock::instance().monotonicMs();
    if (t->options->bodySink) {
        if (!t->options->bodySink(data, qint64(n))) {
            t->sinkRefused = true;
            return 0;
        }
    } else {
        t->response->body.append(data, qsizetype(n));
    }
    return n;
}

size_t writeHeader(char *data, size_t size, size_t count, void *user) {
    auto *t = static_cast<Transfer *>(user);
    const size_t n = size * count;
    const QByteArray line = QByteArray(data, qsizetype(n)).trimmed();
    t->lastActivityMs = Clock::instance().monotonicMs();
    if (line.startsWith("HTTP/")) {
        // A new response (after 100 Continue, or a proxy's answer) replaces the headers seen so far.
        t->response->headers.clear();
    } else if (const int colon = line.indexOf(':'); colon > 0) {
        t->response->headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return n;
}

size_t readBody(char *buffer, size_t size, size_t count, void *user) {
    auto *t = static_cast<Transfer *>(user);
    const qint64 want = qint64(size * count);
    if (t->bodyFile) {
        const qint64 got = t->bodyFile->read(buffer, want);
        if (got < 0) {
            t->readFailed = true;
            return CURL_READFUNC_ABORT;
        }
        return size_t(got);
    }
    const qint64 left = t->bodyBytes->size() - t->bodyOffset;
    const qint64 n = std::min(left, want);
    memcpy(buffer, t->bodyBytes->constData() + t->bodyOffset, size_t(n));
    t->bodyOffset += n;
    return size_t(n);
}

// Called before each request goes out on a connection. A second one within one transfer is
// libcurl re-sending on a fresh connection because the reused one died before any answer: the
// server may have acted on the first. That re-send is refused here and reported as a lost
// connection, so the request layer decides, counts and announces any further attempt.
int beforeRequest(void *user, char *, char *, int, int) {
    auto *t = static_cast<Transfer *>(user);
    if (++t->requestsStarted > 1) {
        t->resendRefused = true;
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}

int progressCallback(void *user, curl_off_t, curl_off_t dlnow, curl_off_t ultotal, curl_off_t ulnow) {
    auto *t = static_cast<Transfer *>(user);
    if (ulnow != t->lastUp || dlnow != t->lastDown) {
        t->lastActivityMs = Clock::instance().monotonicMs();
        if (ulnow != t->lastUp && t->options->uploadProgress && ultotal > 0)
            t->options->uploadProgress(qint64(ulnow), qint64(ultotal));
        t->lastUp = ulnow;
        t->lastDown = dlnow;
    }
    return 0;
}

} // namespace

QString networkErrorDescription(int code) {
    switch (code) {
    case NetError::NotConnected:
        return QStringLiteral("The Internet connection appears to be offline.");
    case NetError::TimedOut:
        return QStringLiteral("The request timed out.");
    case NetError::ConnectionLost:
        return QStringLiteral("The network connection was lost.");
    case NetError::SecureConnectionFailed:
        return QStringLiteral(
            "An SSL error has occurred and a secure connection to the server cannot be made.");
    case NetError::Cancelled:
        return QStringLiteral("cancelled");
    default:
        return QStringLiteral("An unknown error occurred.");
    }
}

QString httpReasonPhrase(int status) {
    for (const Phrase &p : kPhrases) {
        if (p.status == status)
            return QString::fromLatin1(p.text);
    }
    return QStringLiteral("Unknown Status");
}

QByteArray headerValue(const HttpHeaders &headers, const QByteArray &name) {
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second.isNull() ? QByteArray("") : h.second;
    }
    return {};
}

void HttpRequest::setHeader(const QByteArray &name, const QByteArray &value) {
    headers.removeIf([&](const auto &h) { return h.first.compare(name, Qt::CaseInsensitive) == 0; });
    if (!value.isNull())
        headers.append({name, value});
}

// One libcurl share: cookies, DNS answers, connections and TLS sessions, a lock per kind.
struct CurlShare {
    CURLSH *handle = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;

    CurlShare() {
        handle = curl_share_init();
        curl_share_setopt(handle, CURLSHOPT_LOCKFUNC, &CurlShare::lock);
        curl_share_setopt(handle, CURLSHOPT_UNLOCKFUNC, &CurlShare::unlock);
        curl_share_setopt(handle, CURLSHOPT_USERDATA, this);
        for (curl_lock_data kind :
            {CURL_LOCK_DATA_COOKIE, CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION, CURL_LOCK_DATA_CONNECT})
            curl_share_setopt(handle, CURLSHOPT_SHARE, kind);
    }
    // Closes the connections it still holds.
    ~CurlShare() { curl_share_cleanup(handle); }
    CurlShare(const CurlShare &) = delete;
    CurlShare &operator=(const CurlShare &) = delete;

    static void lock(CURL *, curl_lock_data data, curl_lock_access, void *user) {
        static_cast<CurlShare *>(user)->locks[data].lock();
    }
    static void unlock(CURL *, curl_lock_data data, void *user) {
        static_cast<CurlShare *>(user)->locks[data].unlock();
    }

    EasyHandle newEasy() {
        EasyHandle easy(curl_easy_init());
        if (!easy)
            return easy;
        curl_easy_setopt(easy.get(), CURLOPT_SHARE, handle);
        curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy.get(), CURLOPT_COOKIEFILE, ""); // the cookie engine, memory only
        return easy;
    }

    QList<CurlCookie> allCookies() {
        QList<CurlCookie> out;
        const EasyHandle easy = newEasy();
        if (!easy)
            return out;
        curl_slist *raw = nullptr;
        if (curl_easy_getinfo(easy.get(), CURLINFO_COOKIELIST, &raw) != CURLE_OK)
            return out;
        const SlistHandle list(raw);
        for (const curl_slist *item = list.get(); item; item = item->next) {
            const QList<QByteArray> f = QByteArray(item->data).split('\t');
            if (f.size() >= 7)
                out.append({f[0], f[1], f[2], f[3], f[4], f[5], f[6]});
        }
        return out;
    }

    void addCookieLines(const QList<QByteArray> &lines) {
        if (const EasyHandle easy = newEasy()) {
            for (const QByteArray &line : lines)
                curl_easy_setopt(easy.get(), CURLOPT_COOKIELIST, line.constData());
        }
    }
};

struct HttpTransport::Private {
    const QByteArray userAgent
        = "Lanternfish/" + Credentials::clientVersion().toUtf8() + " (" + kPlatformWord + ")";
    std::mutex cookieEdit; // one read-modify-write of the cookie list, or swap of the share, at a time
    std::mutex shareMutex;
    // A send keeps the share it started with; a replaced share goes when its last send ends.
    std::shared_ptr<CurlShare> share = std::make_shared<CurlShare>();

    // Sends in flight, for wakeTransfers; a handle leaves before it is cleaned up.
    std::mutex activeMutex;
    std::set<CURLM *> active;

    std::shared_ptr<CurlShare> currentShare() {
        std::lock_guard lock(shareMutex);
        return share;
    }

    HttpResponse perform(const HttpRequest &request, const SendOptions &options);
};

namespace {

void appendHeader(SlistHandle &list, const char *line) {
    curl_slist *grown = curl_slist_append(list.get(), line);
    if (grown) {
        (void)list.release();
        list.reset(grown);
    }
}

// The request's headers as libcurl takes them; `hasContentType` says whether one names the type.
SlistHandle headerList(const HttpRequest &request, bool *hasContentType) {
    SlistHandle headers;
    *hasContentType = false;
    for (const auto &h : request.headers) {
        // A line break inside a header would start a header of its own.
        QByteArray name = h.first;
        QByteArray value = h.second;
        name.replace('\r', ' ').replace('\n', ' ');
        value.replace('\r', ' ').replace('\n', ' ');
        // libcurl sends "Name;" as a header with an empty value.
        const QByteArray line = value.isEmpty() ? name + ';' : name + ": " + value;
        appendHeader(headers, line.constData());
        *hasContentType |= h.first.compare("Content-Type", Qt::CaseInsensitive) == 0;
    }
    appendHeader(headers, "Expect:");
    return headers;
}

// Sets the method and the body; the headers may gain an empty Content-Type.
void setMethod(CURL *easy, const HttpRequest &request, const QByteArray &method, qint64 bodySize, Transfer *t,
    SlistHandle &headers, bool hasContentType) {
    if (method == "GET" && !request.hasBody()) {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        // Every other method is framed as a POST so a body-less PUT or DELETE still says Content-Length: 0.
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(bodySize));
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, readBody);
        curl_easy_setopt(easy, CURLOPT_READDATA, t);
        if (method != "POST")
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());
        if (!hasContentType)
            appendHeader(headers, "Content-Type:");
    }
}

void setCallbacks(CURL *easy, Transfer *t, char *errorBuffer) {
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, t);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, writeHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, t);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, progressCallback);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, t);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, beforeRequest);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, t);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
}

// Our own loop rather than curl_easy_perform: cancel and stall are checked every poll, and the
// stall is measured on the Clock so tests can run it in virtual time. Returns the abort code (0
// when the transfer ended by itself) and libcurl's result in `result`.
int runTransfer(CURLM *multi, const SendOptions &options, Transfer &t, qint64 stallMs, CURLcode *result) {
    Clock &clock = Clock::instance();
    t.lastActivityMs = clock.monotonicMs();
    *result = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            *result = CURLE_FAILED_INIT;
            return 0;
        }
        if (running == 0) {
            int queued = 0;
            if (CURLMsg *msg = curl_multi_info_read(multi, &queued); msg && msg->msg == CURLMSG_DONE)
                *result = msg->data.result;
            return 0;
        }
        if (options.cancelled && options.cancelled())
            return NetError::Cancelled;
        if (clock.monotonicMs() - t.lastActivityMs >= stallMs)
            return NetError::TimedOut;
        curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
    }
}

void setFailure(HttpResponse &response, int code, const QString &text) {
    response.status = 0;
    response.errorCode = code;
    response.errorText = text;
}

// Fills in the status, or the failure and why.
void settle(HttpResponse &response, CURL *easy, int abortCode, CURLcode result, const Transfer &t,
    const char *errorBuffer) {
    if (abortCode == 0 && result == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        response.status = int(status);
        if (status <= 0)
            setFailure(response, NetError::ConnectionLost, QStringLiteral("no status line"));
    } else if (abortCode != 0) {
        setFailure(response, abortCode,
            abortCode == NetError::Cancelled ? QStringLiteral("cancelled") : QStringLiteral("stalled"));
    } else if (t.resendRefused) {
        setFailure(response, NetError::ConnectionLost,
            QStringLiteral("the reused connection closed before an answer"));
    } else if (t.readFailed) {
        setFailure(response, NetError::Unknown, QStringLiteral("reading the body file failed"));
    } else if (t.sinkRefused) {
        setFailure(response, NetError::Cancelled, QStringLiteral("the receiver refused the body"));
    } else {
        const QString detail
            = errorBuffer[0] ? QString::fromUtf8(errorBuffer) : QString::fromUtf8(curl_easy_strerror(result));
        setFailure(response, mapCurlError(result), detail);
    }
    if (!response.hasResponse()) {
        response.headers.clear();
        response.body.clear();
    }
}

} // namespace

HttpResponse HttpTransport::Private::perform(const HttpRequest &request, const SendOptions &options) {
    HttpResponse response;
    response.finalUrl = request.url;
    const QUrl url(request.url);
    if (!url.isValid() || !isHttpScheme(url) || url.host().isEmpty()) {
        setFailure(response, NetError::Unknown, QStringLiteral("not an http(s) address with a host"));
        return response;
    }
    QFile file;
    Transfer t;
    t.options = &options;
    t.response = &response;
    qint64 bodySize = 0;
    if (!request.bodyFile.isEmpty()) {
        file.setFileName(request.bodyFile);
        if (!file.open(QIODevice::ReadOnly)) {
            setFailure(response, NetError::Unknown, QStringLiteral("cannot read the body file"));
            return response;
        }
        t.bodyFile = &file;
        bodySize = file.size();
    } else {
        t.bodyBytes = &request.body;
        bodySize = request.body.size();
    }

    const std::shared_ptr<CurlShare> sendShare = currentShare();
    // Declared in this order so the easy handle goes first (it leaves the multi handle as it
    // goes), and the header list it points to last.
    bool hasContentType = false;
    SlistHandle headers = headerList(request, &hasContentType);
    const MultiHandle multi(curl_multi_init());
    const EasyHandle easy(sendShare->newEasy());
    if (!easy || !multi) {
        setFailure(response, NetError::Unknown, QStringLiteral("libcurl could not start a transfer"));
        return response;
    }
    const QByteArray urlBytes = url.toEncoded();
    curl_easy_setopt(easy.get(), CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(easy.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy.get(), CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy.get(), CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(easy.get(), CURLOPT_USERAGENT, userAgent.constData());
    curl_easy_setopt(easy.get(), CURLOPT_CONNECTTIMEOUT, long(std::max(1, request.timeoutSeconds)));
    const QByteArray method = request.method.toUpper();
    setMethod(easy.get(), request, method, bodySize, &t, headers, hasContentType);
    curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers.get());
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    setCallbacks(easy.get(), &t, errorBuffer);

    curl_multi_add_handle(multi.get(), easy.get());
    const qint64 stallMs
        = 1000LL * (options.stallSeconds > 0 ? options.stallSeconds : std::max(1, request.timeoutSeconds));
    CURLcode result = CURLE_OK;
    {
        std::lock_guard lock(activeMutex);
        active.insert(multi.get());
    }
    const int abortCode = runTransfer(multi.get(), options, t, stallMs, &result);
    {
        std::lock_guard lock(activeMutex);
        active.erase(multi.get());
    }
    settle(response, easy.get(), abortCode, result, t, errorBuffer);
    curl_multi_remove_handle(multi.get(), easy.get());
    return response;
}

HttpTransport::HttpTransport() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    d = new Private;
}

HttpTransport::~HttpTransport() {
    delete d;
}

HttpTransport &HttpTransport::shared() {
    // Never destroyed: workers may still be finishing a send while static objects go away.
    static HttpTransport *transport = new HttpTransport;
    return *transport;
}

HttpResponse HttpTransport::send(const HttpRequest &request, const SendOptions &options) {
    HttpRequest current = request;
    for (int hop = 0;; ++hop) {
        HttpResponse response = d->perform(current, options);
        const int s = response.status;
        const bool redirect = s == 301 || s == 302 || s == 303 || s == 307 || s == 308;
        const QByteArray location = headerValue(response.headers, "Location");
        if (!redirect || location.isEmpty() || hop >= options.maxRedirects)
            return response;
        const QUrl from(current.url);
        const QUrl to = from.resolved(QUrl::fromEncoded(location));
        if (!isHttpScheme(to))
            return response;
        if (originOf(to) != originOf(from)) {
            current.headers.removeIf(
                [](const auto &h) { return h.first.toLower().startsWith(kPrivateHeaderPrefix); });
        }
        if (s == 303 || ((s == 301 || s == 302) && current.method.toUpper() == "POST")) {
            current.method = "GET";
            current.body.clear();
            current.bodyFile.clear();
            current.setHeader("Content-Length", {});
            current.setHeader("Content-Type", {});
        }
        current.url = QString::fromUtf8(to.toEncoded());
    }
}

QList<Cookie> HttpTransport::cookiesForUrl(const QString &url) {
    const QUrl u(url);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const bool https = u.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    QList<Cookie> out;
    for (const CurlCookie &c : d->currentShare()->allCookies()) {
        if ((!c.isSecure() || https) && c.toCookie().isForRequest(u, now))
            out.append(c.toCookie());
    }
    return out;
}

void HttpTransport::nukeCookies(const QString &url) {
    const QUrl u(url);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const bool https = u.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    std::lock_guard edit(d->cookieEdit);
    const std::shared_ptr<CurlShare> share = d->currentShare();
    QList<QByteArray> expired;
    for (const CurlCookie &c : share->allCookies()) {
        // Writing the same cookie back already expired makes libcurl drop it; the others stay untouched.
        if ((!c.isSecure() || https) && c.toCookie().isForRequest(u, now))
            expired.append(c.line("1"));
    }
    share->addCookieLines(expired);
}

void HttpTransport::wakeTransfers() {
    std::lock_guard lock(d->activeMutex);
    for (CURLM *multi : d->active)
        curl_multi_wakeup(multi);
}

void HttpTransport::closeIdleConnections() {
    std::lock_guard edit(d->cookieEdit);
    auto fresh = std::make_shared<CurlShare>();
    std::shared_ptr<CurlShare> old = d->currentShare();
    QList<QByteArray> lines;
    for (const CurlCookie &c : old->allCookies())
        lines.append(c.line(c.expires));
    fresh->addCookieLines(lines);
    std::lock_guard lock(d->shareMutex);
    d->share = fresh;
}

void HttpTransport::clearCookies() {
    std::lock_guard edit(d->cookieEdit);
    d->currentShare()->addCookieLines({"ALL"});
}

} // namespace lf
