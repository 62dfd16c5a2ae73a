#pragma once

#include "foundation/Cookie.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>

namespace lf {

// Error codes of a send that got no HTTP response. The session logic branches on them.
namespace NetError {
inline constexpr int NotConnected = -1009; // cannot resolve or connect: no usable network
inline constexpr int TimedOut = -1001; // time-out or stall limit
inline constexpr int ConnectionLost = -1005; // dropped during the exchange
inline constexpr int SecureConnectionFailed = -1200; // TLS handshake or certificate
inline constexpr int Cancelled = -999;
inline constexpr int Unknown = -1;
} // namespace NetError

// The standard English description of one of the codes above.
QString networkErrorDescription(int code);
// The standard English reason phrase of an HTTP status ("Not Found"); "Unknown Status" otherwise.
QString httpReasonPhrase(int status);

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

// Case-insensitive lookup of the first header of that name; null when absent.
QByteArray headerValue(const HttpHeaders &headers, const QByteArray &name);

struct HttpRequest {
    QByteArray method = "GET";
    QString url;
    // Sent in this order, exactly as given; the transport adds only Host, Cookie and framing.
    HttpHeaders headers;
    // The body: bytes, or streamed from `bodyFile` when that is set (never read whole into memory).
    QByteArray body;
    QString bodyFile;
    // Idle limit: the send fails with TimedOut when nothing moves for this long (as measured by the Clock).
    int timeoutSeconds = 75;

    bool hasBody() const { return !bodyFile.isEmpty() || !body.isEmpty(); }
    void addHeader(const QByteArray &name, const QByteArray &value) { headers.append({name, value}); }
    // Replaces every header of that name (case-insensitive) by one, or removes them for a null value.
    void setHeader(const QByteArray &name, const QByteArray &value);
};

struct HttpResponse {
    int status = 0; // HTTP status; 0 when no response arrived
    int errorCode = 0; // one of NetError when status is 0
    QString errorText; // transport detail for logs (never shown as the description)
    HttpHeaders headers;
    QByteArray body;
    QString finalUrl;

    bool hasResponse() const { return status > 0; }
};

struct SendOptions {
    // Polled several times a second; true aborts the send with Cancelled.
    std::function<bool()> cancelled;
    // Bytes of the body sent so far and in all.
    std::function<void(qint64 sent, qint64 total)> uploadProgress;
    // Receives the body in pieces instead of HttpResponse::body; false aborts the send.
    std::function<bool(const char *data, qint64 size)> bodySink;
    // Overrides the request's idle limit when positive.
    int stallSeconds = 0;
    int maxRedirects = 10;
};

// HTTP over libcurl. One process-wide share holds cookies, DNS answers, connections and TLS
// sessions. Sends are synchronous, safe from any thread, and never throw.
class HttpTransport {
public:
    static HttpTransport &shared();

    HttpResponse send(const HttpRequest &request, const SendOptions &options = {});

    // Cookies that a request to `url` would carry now.
    QList<Cookie> cookiesForUrl(const QString &url);
    // Deletes every cookie a request to `url` would carry.
    void nukeCookies(const QString &url);
    // Removes every cookie of the store.
    void clearCookies();
    // Lets go of every pooled connection (the cookies stay); sends in flight finish on theirs.
    // A server being stopped then need not wait for idle keep-alive connections.
    void closeIdleConnections();
    // Wakes every send waiting on its connection, so that its cancel check runs now rather than
    // at the next poll. Whoever raises a cancel flag calls it.
    void wakeTransfers();

    HttpTransport(const HttpTransport &) = delete;
    HttpTransport &operator=(const HttpTransport &) = delete;

private:
    HttpTransport();
    ~HttpTransport();
    struct Private;
    Private *d;
};

} // namespace lf
