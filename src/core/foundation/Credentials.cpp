#include "foundation/Credentials.h"

#include "foundation/Keyring.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "foundation/Strings.h"

#include "BuildConfig.h"

#include <atomic>

namespace lf {

namespace {

QString key(const char *name) {
    return QLatin1String(name);
}

void problem(const QString &text) {
    NotificationCenter::defaultCenter().postNotificationMainThread(
        key(kCredentialsProblemNotification), text);
}

bool keyringFailed(const Keyring::Answer &answer) {
    return answer.outcome == Keyring::Outcome::Failed || answer.outcome == Keyring::Outcome::TimedOut;
}

// Copies a token found in the file into the keyring and, once it reads back the same, takes it
// out of the file: a crash at any point leaves it in at least one of the two.
void moveToKeyring(StoredCredentials &stored) {
    const QString account = Credentials::keyringAccount(*stored.userName);
    const QString token = *stored.token;
    const Keyring::Answer written = Keyring::write(account, token);
    if (written.outcome != Keyring::Outcome::Done) {
        if (keyringFailed(written)) {
            stored.problem = written.error;
            problem(written.error);
        }
        return;
    }
    const Keyring::Answer check = Keyring::read(account);
    if (check.outcome != Keyring::Outcome::Done || check.secret != token) {
        stored.problem = check.error.isEmpty() ? localizedFormat(QStringLiteral("[KeyringFailed]"),
                             {QStringLiteral("the token did not read back")})
                                               : check.error;
        return;
    }
    // Only the token just copied: another process may have stored a newer one meanwhile.
    Prefs::clearPrefIfEqual(key(PrefKey::UserToken), token);
    stored.place = TokenPlace::Keyring;
}

// Removes a user's keyring entry; a keyring that fails is reported, one that is absent holds none.
void removeFromKeyring(const QString &userName) {
    const Keyring::Answer removed = Keyring::remove(Credentials::keyringAccount(userName));
    if (keyringFailed(removed))
        problem(removed.error);
}

} // namespace

StoredCredentials Credentials::storedCredentials() {
    StoredCredentials stored;
    const QVariant name = Prefs::prefForKey(key(PrefKey::UserName));
    if (!name.isValid())
        return stored;
    stored.userName = name.toString();
    const QVariant inFile = Prefs::prefForKey(key(PrefKey::UserToken));
    if (inFile.isValid()) {
        stored.token = inFile.toString();
        stored.place = TokenPlace::File;
        if (!stored.token->isEmpty())
            moveToKeyring(stored);
        return stored;
    }
    const Keyring::Answer read = Keyring::read(keyringAccount(*stored.userName));
    if (read.outcome == Keyring::Outcome::Done) {
        stored.token = read.secret;
        stored.place = TokenPlace::Keyring;
    } else if (keyringFailed(read)) {
        stored.problem = read.error;
        problem(read.error);
    }
    return stored;
}

bool Credentials::loadCredentials(QString &userName, QString &token) {
    const StoredCredentials stored = storedCredentials();
    if (!stored.userName)
        return false;
    userName = *stored.userName;
    token = stored.token.value_or(QString());
    return stored.token.has_value();
}

bool Credentials::saveCredentials(const QString &userName, const QString &token) {
    const QVariant previous = Prefs::prefForKey(key(PrefKey::UserName));
    if (previous.isValid() && previous.toString() != userName)
        removeFromKeyring(previous.toString());
    Prefs::setPref(userName.isNull() ? QVariant() : QVariant(userName), key(PrefKey::UserName));
    if (token.isNull()) {
        forgetToken();
        return true;
    }
    const Keyring::Answer written = Keyring::write(keyringAccount(userName), token);
    if (written.outcome == Keyring::Outcome::Done) {
        Prefs::clearPrefForKey(key(PrefKey::UserToken));
        return true;
    }
    if (written.outcome == Keyring::Outcome::Absent) {
        const bool isNew = Prefs::prefForKey(key(PrefKey::UserToken)) != QVariant(token);
        Prefs::setPref(token, key(PrefKey::UserToken));
        // Said when the token is put there, not at every start that finds it there.
        static std::atomic<bool> told {false};
        if (isNew && !told.exchange(true))
            NotificationCenter::defaultCenter().postNotificationMainThread(
                key(kCredentialsNoticeNotification),
                localizedFormat(QStringLiteral("[TokenInFile]"), {Prefs::storePath()}));
        return true;
    }
    // An older token left in the file would come back at the next start, perhaps for another user.
    Prefs::clearPrefForKey(key(PrefKey::UserToken));
    problem(localizedFormat(QStringLiteral("[TokenNotKept]"), {written.error}));
    return false;
}

void Credentials::forgetToken() {
    const QVariant name = Prefs::prefForKey(key(PrefKey::UserName));
    if (name.isValid())
        removeFromKeyring(name.toString());
    Prefs::clearPrefForKey(key(PrefKey::UserToken));
}

void Credentials::eraseCredentials() {
    forgetToken();
    Prefs::clearPrefForKey(key(PrefKey::UserName));
}

QString Credentials::keyringAccount(const QString &userName) {
    const QString host = Prefs::prefForKey(key(PrefKey::Host), QStringLiteral(LF_HOST_PRODUCTION)).toString();
    const QString port = Prefs::prefForKey(key(PrefKey::Port), QStringLiteral("80")).toString();
    const bool usualPort = port.isEmpty() || port == QLatin1String("80") || port == QLatin1String("443");
    return (usualPort ? host : host + QLatin1Char(':') + port) + QLatin1Char('/') + userName;
}

QString Credentials::clientVersion() {
    return clientVersionFrom(QStringLiteral(LF_CLIENT_VERSION));
}

QString Credentials::clientVersionFrom(const QString &buildVersion) {
    return buildVersion.trimmed().isEmpty() ? QStringLiteral("0.999.1") : buildVersion.trimmed();
}

} // namespace lf
