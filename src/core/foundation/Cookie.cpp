#include "foundation/Cookie.h"

namespace lf {

bool Cookie::isExpired(const QDateTime &now) const {
    return expires.isValid() && expires < now;
}

bool Cookie::isForHost(const QString &host) const {
    if (domain.compare(host, Qt::CaseInsensitive) == 0)
        return true;
    return domain.startsWith(QLatin1Char('.'))
        && (QLatin1Char('.') + host).endsWith(domain, Qt::CaseInsensitive);
}

bool Cookie::isForPath(const QString &requestPath) const {
    return !requestPath.isEmpty() && requestPath.startsWith(path);
}

bool Cookie::isForRequest(const QUrl &url, const QDateTime &now) const {
    const QString p = url.path().isEmpty() ? QStringLiteral("/") : url.path();
    return !isExpired(now) && isForHost(url.host()) && isForPath(p);
}

bool Cookie::sameCookie(const Cookie &other) const {
    return name == other.name && domain == other.domain && path == other.path;
}

} // namespace lf
