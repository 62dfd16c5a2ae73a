#pragma once

#include <QString>

#include <optional>

namespace lf {

// Posted on the main thread with a text for the user as the object: the token had to go to the
// preference file (once per process, when it is put there) ...
inline constexpr const char *kCredentialsNoticeNotification = "credentialsNotice";
// ... and the keyring failed: it refused, or did not answer in time.
inline constexpr const char *kCredentialsProblemNotification = "credentialsProblem";

// Where the sign-in token is kept.
enum class TokenPlace { None, Keyring, File };

struct StoredCredentials {
    std::optional<QString> userName;
    std::optional<QString> token;
    TokenPlace place = TokenPlace::None;
    QString problem; // why the keyring could not be used; empty when it could, or when none runs
};

// The signed-in user's e-mail address (in the preferences) and server-issued token (in the
// desktop's keyring; in the preferences only while no keyring runs). No password is ever stored.
// Every call may wait for the keyring, boundedly (Keyring::waitLimit()).
class Credentials {
public:
    // False when no user name is stored (the token is then left alone) or no token is stored.
    static bool loadCredentials(QString &userName, QString &token);
    // False when the keyring refused the token or did not answer: it is then kept nowhere.
    static bool saveCredentials(const QString &userName, const QString &token);
    static void eraseCredentials();
    // Removes the token from wherever it is kept; the user name stays.
    static void forgetToken();

    // What loadCredentials reads, and where the token was found. A token found in the preference
    // file while a keyring runs is moved into the keyring on the way.
    static StoredCredentials storedCredentials();
    // The keyring entry's account: the chosen server's host (with a port other than 80 or 443),
    // a slash and the e-mail address.
    static QString keyringAccount(const QString &userName);

    static QString clientVersion();
    static QString clientVersionUI() { return clientVersion(); }
    // The version text to report for a build version: "0.999.1" when it is empty.
    static QString clientVersionFrom(const QString &buildVersion);
};

} // namespace lf
