#include "session/SignIn.h"

#include "foundation/LogCategories.h"
#include "session/Service.h"

#include <exception>

namespace lf {

namespace {
constexpr const char *kRootUser = "user";
}

QVariantMap runSignIn(Service &service, ServiceAPI &api, const QVariantMap &request) {
    const QString email = request.value(SignInKey::Email).toString();
    const QString password = request.value(SignInKey::Password).toString();
    QString token = request.value(SignInKey::UserToken).toString();
    QVariantMap result;

    try {
        bool failed = false;
        if (token.isEmpty()) {
            const APIResult identity = api.verifyIdentity(email, password);
            if (identity.isError()) {
                addFailure(result, identity);
                failed = true;
            } else {
                token = identity.value(SignInKey::UserToken).toString();
                if (token.isEmpty()) {
                    // A verified password without a token would leave a session every request refuses.
                    result.insert(RecordKey::Error, QStringLiteral("The server did not issue a user token."));
                    failed = true;
                }
            }
        }
        if (!failed) {
            // Stores them as the saved credentials too.
            service.setName(email, token);
            const QVariantMap sites = service.loadSites();
            if (isFailureRecord(sites)) {
                for (auto it = sites.begin(); it != sites.end(); ++it)
                    result.insert(it.key(), it.value());
                failed = true;
            } else {
                for (auto it = sites.begin(); it != sites.end(); ++it)
                    result.insert(it.key(), it.value());
            }
        }
        if (!failed) {
            // The server keeps a stored token's links to itself when the token is no longer
            // good; the profile request is then where that shows.
            const APIResult profile = api.getUserProfile();
            if (profile.isError())
                addFailure(result, profile);
            else
                service.setProfile(api.root().value(kRootUser).toMap());
        }
    } catch (const std::exception &e) {
        result.insert(RecordKey::Error, QString::fromUtf8(e.what()));
    } catch (...) {
        result.insert(RecordKey::Error, QStringLiteral("unexpected failure during sign-in"));
    }
    if (result.contains(RecordKey::Error))
        qCWarning(lfSession).noquote() << QStringLiteral("sign-in of %1 failed: %2")
                                              .arg(email, result.value(RecordKey::Error).toString());
    result.insert(RecordKey::ClientAction, ClientAction::Connect);
    return result;
}

} // namespace lf
