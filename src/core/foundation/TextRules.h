#pragma once

#include <QByteArray>
#include <QChar>
#include <QMap>
#include <QString>

namespace lf {

// The e-mail address rules the sign-up, address field and recipient lists share.
bool validEmail(const QString &text);

// UTF-8 bytes as %XX except ASCII letters, digits and - . _ ~
QString percentEscape(const QString &text);
// Every %XX replaced by the byte it encodes, read back as UTF-8 (invalid escapes stay as they are).
QString percentUnescape(const QString &text);
// A query string as key/value pairs: pieces split at "&", each unescaped whole, then split at "=";
// only pieces with exactly two parts count, a later key replaces an earlier one.
QMap<QString, QString> httpParms(const QString &query);

bool hasPrefixCaseIns(const QString &text, const QString &prefix);
bool isEqualToStringCaseIns(const QString &a, const QString &b);
bool containsCaseIns(const QString &text, const QString &part);

// The text after the first `open`, up to the next `close` or the end; null when `open` is
// absent or nothing follows it.
QString stringBetween(const QString &text, const QString &open, const QString &close);

// Every word's first letter upper case, the rest lower case ("mary jane" -> "Mary Jane").
QString capitalizedWords(const QString &text);

// First and last UTF-16 unit, 0 for empty text.
QChar firstCharacter(const QString &text);
QChar lastCharacter(const QString &text);
// "[key]": texts of this form are localization keys.
bool isBracketed(const QString &text);

// Trimmed text read as an unsigned hexadecimal number, "0x" optional; 0 when no digits.
quint32 hexIntValue(const QString &text);

// The current user's login name with every character above code 127 removed.
QString CleanUserName();

// RFC 4648 Base64 with "=" padding.
QString base64EncodedString(const QByteArray &data);
// Null when the text is not valid Base64.
QByteArray dataByBase64DecodingString(const QString &text, bool *ok = nullptr);

// 40 lower-case hexadecimal digits.
QString SHA1(const QByteArray &data);
QString MD5(const QByteArray &data);

// Lenient UTF-8 decoding: invalid sequences become U+FFFD instead of failing.
QString decodeUtf8Lenient(const QByteArray &bytes);

} // namespace lf
