#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>

namespace lf {

// An HTTP cookie as the embedded web views and the transport's cookie store exchange it.
struct Cookie {
    QString name;
    QString value;
    QString domain;
    QString path;
    QDateTime expires; // invalid: a session cookie, never expired

    // The expiry date lies before `now`.
    bool isExpired(const QDateTime &now) const;
    // The domain is the host, or begins with "." and "." + host ends with it.
    bool isForHost(const QString &host) const;
    // The path is non-empty and begins with the cookie's path.
    bool isForPath(const QString &requestPath) const;
    // Not expired, for the URL's host and for its path.
    bool isForRequest(const QUrl &url, const QDateTime &now) const;
    // Same name, domain and path.
    bool sameCookie(const Cookie &other) const;
};

} // namespace lf
