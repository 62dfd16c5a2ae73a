#include "api/APIResult.h"

#include "api/HttpTransport.h"
#include "foundation/TextRules.h"

#include <QJsonDocument>

namespace lf {

QVariant APIResult::parseJson(const QByteArray &body, bool *parsed) {
    QJsonParseError error;
    QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error == QJsonParseError::IllegalUTF8String)
        doc = QJsonDocument::fromJson(decodeUtf8Lenient(body).toUtf8(), &error);
    const bool ok = error.error == QJsonParseError::NoError && (doc.isObject() || doc.isArray());
    if (parsed)
        *parsed = ok;
    if (!ok)
        return {};
    return doc.toVariant();
}

APIResult APIResult::success(const QByteArray &body) {
    bool parsed = false;
    QVariant json = parseJson(body, &parsed);
    if (parsed)
        return APIResult(json);
    return APIResult(QVariantMap {{ResultKey::Body, decodeUtf8Lenient(body)}});
}

APIResult APIResult::httpFailure(int status, const QByteArray &body) {
    bool parsed = false;
    QVariant json = parseJson(body, &parsed);
    return APIResult(
        QVariantMap {{ResultKey::HttpStatus, status}, {ResultKey::HttpStatusStr, httpReasonPhrase(status)},
            {ResultKey::HttpStatusBody, parsed ? json : QVariant(decodeUtf8Lenient(body))}});
}

APIResult APIResult::networkFailure(int code, const QString &description) {
    return APIResult(QVariantMap {{ResultKey::HttpStatus, code},
        {ResultKey::HttpStatusStr, description.isEmpty() ? networkErrorDescription(code) : description},
        {ResultKey::HttpStatusBody, QString()}});
}

APIResult APIResult::fromStatus(int status, const QByteArray &body, const QString &networkDescription) {
    if (status >= 200 && status <= 299)
        return success(body);
    if (status >= 1)
        return httpFailure(status, body);
    return networkFailure(status, networkDescription);
}

bool APIResult::isError() const {
    return isMap() && toMap().contains(ResultKey::HttpStatus);
}

int APIResult::httpStatus() const {
    return isError() ? toMap().value(ResultKey::HttpStatus).toInt() : 0;
}

QString APIResult::httpStatusString() const {
    return isError() ? toMap().value(ResultKey::HttpStatusStr).toString() : QString();
}

QString APIResult::bodyMessage(const QVariant &body) {
    if (body.typeId() == QMetaType::QVariantMap)
        return body.toMap().value(ResultKey::Error).toString();
    return body.toString().trimmed();
}

QVariant APIResult::httpStatusBody() const {
    return isError() ? toMap().value(ResultKey::HttpStatusBody) : QVariant();
}

} // namespace lf
