#pragma once

#include "api/APIResult.h"

#include <QString>
#include <QVariantMap>

namespace lf {

// Keys of the sign-up request's "user" object.
namespace SignUpKey {
inline constexpr const char *User = "user";
inline constexpr const char *RequestAddress = "request_address";
inline constexpr const char *FirstName = "first_name";
inline constexpr const char *LastName = "last_name";
inline constexpr const char *Password = "password";
inline constexpr const char *PasswordConfirmation = "password_confirmation";
inline constexpr const char *TosAccepted = "tos_accepted";
} // namespace SignUpKey

// The shortest password the sign-up accepts.
inline constexpr int kMinimumPasswordLength = 4;

// The fields of a sign-up whose terms were accepted: {"user": {...}}.
QVariantMap registrationFields(
    const QString &email, const QString &firstName, const QString &lastName, const QString &password);

// What to tell the user about a failed sign-up. A 422 answer lists [field, message] pairs: a
// taken address becomes "[exists]", anything else one sentence naming each field.
QString registrationErrorText(const APIResult &failure);

} // namespace lf
