#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

namespace lf {

// Keys of the result forms.
namespace ResultKey {
inline constexpr const char *HttpStatus = "httpstatus";
inline constexpr const char *HttpStatusStr = "httpstatusstr";
inline constexpr const char *HttpStatusBody = "httpstatusbody";
inline constexpr const char *Body = "body";
// Where an error body sent as JSON carries the message to show.
inline constexpr const char *Error = "Error";
} // namespace ResultKey

// What every request to the service returns. Success: the JSON parsed from a 2xx body (normally
// an object), or {"body": text} when the body is not JSON. Failure: {"httpstatus", "httpstatusstr",
// "httpstatusbody"}, with a negative status when no response arrived. A result is an error exactly
// when it holds "httpstatus". "Nothing" (no value) stands for a request that was never sent.
class APIResult {
public:
    APIResult() = default;
    explicit APIResult(const QVariant &value)
        : m_value(value) { }

    // The success form for a 2xx body.
    static APIResult success(const QByteArray &body);
    // The failure form of an HTTP status outside 2xx.
    static APIResult httpFailure(int status, const QByteArray &body);
    // The failure form without a response.
    static APIResult networkFailure(int code, const QString &description);
    // The form for an HTTP status, or for a code of 0 or less when no response arrived.
    static APIResult fromStatus(int status, const QByteArray &body, const QString &networkDescription = {});

    // JSON object or array parsed from UTF-8; invalid UTF-8 is decoded leniently first, so a
    // stray byte costs one character, not the result. Sets `parsed` to false for non-JSON text.
    static QVariant parseJson(const QByteArray &body, bool *parsed = nullptr);

    bool isNothing() const { return !m_value.isValid(); }
    bool isError() const;
    bool isMap() const { return m_value.typeId() == QMetaType::QVariantMap; }
    bool isList() const { return m_value.typeId() == QMetaType::QVariantList; }

    // 0 for a success.
    int httpStatus() const;
    QString httpStatusString() const;
    QVariant httpStatusBody() const;
    // The message the server put in a failure's body: its "Error" when the body is an object,
    // else the body's text; empty when there is none.
    QString bodyMessage() const { return bodyMessage(httpStatusBody()); }
    static QString bodyMessage(const QVariant &body);

    QVariant value(const QString &key) const { return toMap().value(key); }
    bool contains(const QString &key) const { return toMap().contains(key); }
    QVariantMap toMap() const { return m_value.toMap(); }
    QVariantList toList() const { return m_value.toList(); }
    const QVariant &variant() const { return m_value; }

    bool operator==(const APIResult &other) const { return m_value == other.m_value; }

private:
    QVariant m_value;
};

} // namespace lf
