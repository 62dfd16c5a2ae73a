#pragma once

#include <QString>
#include <QVariantMap>

namespace lf {

class Service;
class ServiceAPI;

// Keys of the sign-in request record.
namespace SignInKey {
inline constexpr const char *Email = "email";
inline constexpr const char *Password = "password";
inline constexpr const char *UserToken = "user_token";
} // namespace SignInKey

// The sign-in sequence, run on a worker: verify the identity (only without a stored token),
// store name and token, load the sites, fetch the profile. Returns the result record with
// "clientAction" "connect"; a failure, or anything thrown on the way, leaves "error" in it.
// `api` is the session's own request layer.
QVariantMap runSignIn(Service &service, ServiceAPI &api, const QVariantMap &request);

} // namespace lf
