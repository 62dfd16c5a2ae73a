#include "foundation/Credentials.h"

#include "foundation/Prefs.h"

#include "BuildConfig.h"

namespace lf {

bool Credentials::loadCredentials(QString &userName, QString &token) {
    const QVariant name = Prefs::prefForKey(QLatin1String(PrefKey::UserName));
    if (!name.isValid())
        return false;
    userName = name.toString();
    const QVariant stored = Prefs::prefForKey(QLatin1String(PrefKey::UserToken));
    token = stored.toString();
    return stored.isValid();
}

void Credentials::saveCredentials(const QString &userName, const QString &token) {
    Prefs::setPref(userName.isNull() ? QVariant() : QVariant(userName), QLatin1String(PrefKey::UserName));
    Prefs::setPref(token.isNull() ? QVariant() : QVariant(token), QLatin1String(PrefKey::UserToken));
}

void Credentials::eraseCredentials() {
    Prefs::clearPrefForKey(QLatin1String(PrefKey::UserName));
    Prefs::clearPrefForKey(QLatin1String(PrefKey::UserToken));
}

void Credentials::eraseToken() {
    const QVariant name = Prefs::prefForKey(QLatin1String(PrefKey::UserName));
    // Through eraseCredentials, wherever the token is kept; then the name goes back.
    eraseCredentials();
    if (name.isValid())
        Prefs::setPref(name, QLatin1String(PrefKey::UserName));
}

QString Credentials::clientVersion() {
    return clientVersionFrom(QStringLiteral(LF_CLIENT_VERSION));
}

QString Credentials::clientVersionFrom(const QString &buildVersion) {
    return buildVersion.trimmed().isEmpty() ? QStringLiteral("0.999.1") : buildVersion.trimmed();
}

} // namespace lf
