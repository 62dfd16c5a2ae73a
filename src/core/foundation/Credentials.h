#pragma once

#include <QString>

namespace lf {

// The signed-in user's e-mail address and server-issued token, kept in the preferences.
// No password is ever stored.
class Credentials {
public:
    // False when no user name is stored (the token is then left alone) or no token is stored.
    static bool loadCredentials(QString &userName, QString &token);
    static void saveCredentials(const QString &userName, const QString &token);
    static void eraseCredentials();
    // Forgets the token and keeps the user name (a sign-out: the sheet offers the address again).
    static void eraseToken();

    static QString clientVersion();
    static QString clientVersionUI() { return clientVersion(); }
    // The version text to report for a build version: "0.999.1" when it is empty.
    static QString clientVersionFrom(const QString &buildVersion);
};

} // namespace lf
