#include "session/SignUp.h"

#include "foundation/Log.h"
#include "foundation/Strings.h"

#include <QJsonDocument>
#include <QStringList>

namespace lf {

QVariantMap registrationFields(
    const QString &email, const QString &firstName, const QString &lastName, const QString &password) {
    return {{SignUpKey::User,
        QVariantMap {{SignUpKey::RequestAddress, email}, {SignUpKey::FirstName, firstName},
            {SignUpKey::LastName, lastName}, {SignUpKey::Password, password},
            {SignUpKey::PasswordConfirmation, password}, {SignUpKey::TosAccepted, 1}}}};
}

namespace {

// The field's name for people: its text in the table, else the key in words.
QString fieldName(const QString &field) {
    const QString key = QLatin1Char('[') + field + QLatin1Char(']');
    const QString text = localizedString(key);
    return text == key ? QString(field).replace(QLatin1Char('_'), QLatin1Char(' ')) : text;
}

} // namespace

QString registrationErrorText(const APIResult &failure) {
    const QVariant body = failure.httpStatusBody();
    if (failure.httpStatus() != 422 || body.typeId() != QMetaType::QVariantList) {
        const QString text = failure.bodyMessage();
        return text.isEmpty() ? failure.httpStatusString() : text;
    }
    QString message;
    int index = 0;
    for (const QVariant &item : body.toList()) {
        const QVariantList pair = item.toList();
        const QString field = pair.value(0).toString();
        if (field.compare(QLatin1String(SignUpKey::RequestAddress), Qt::CaseInsensitive) == 0)
            return localizedString("[exists]");
        message += localizedFormat(
            index++ == 0 ? "[regerror]" : "[regerror2]", {fieldName(field), pair.value(1).toString()});
    }
    SystemLog(QStringLiteral("body = %1")
                  .arg(QString::fromUtf8(QJsonDocument::fromVariant(body).toJson(QJsonDocument::Compact))));
    return message + QLatin1Char('.');
}

} // namespace lf
