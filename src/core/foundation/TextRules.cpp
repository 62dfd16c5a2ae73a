#include "foundation/TextRules.h"

#include <QCryptographicHash>
#include <QStringDecoder>

#include <pwd.h>
#include <unistd.h>

namespace lf {

namespace {

bool isAsciiAlnum(QChar c) {
    const ushort u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
}

} // namespace

bool validEmail(const QString &text) {
    if (text.contains(QLatin1Char(' ')))
        return false;
    const QStringList parts = text.split(QLatin1Char('@'));
    if (parts.size() != 2 || parts[0].isEmpty() || parts[1].isEmpty())
        return false;
    const QString &local = parts[0];
    const QString &domain = parts[1];
    const QStringList labels = domain.split(QLatin1Char('.'));
    if (labels.size() < 2)
        return false;
    for (const QString &label : labels) {
        if (label.isEmpty())
            return false;
    }
    static const QString localExtras = QStringLiteral("!#$%&'*+-./=?^_`");
    for (const QChar c : local) {
        if (!isAsciiAlnum(c) && !localExtras.contains(c))
            return false;
    }
    for (const QChar c : domain) {
        if (!isAsciiAlnum(c) && c != QLatin1Char('-') && c != QLatin1Char('.'))
            return false;
    }
    return true;
}

QString percentEscape(const QString &text) {
    return QString::fromLatin1(text.toUtf8().toPercentEncoding());
}

QString percentUnescape(const QString &text) {
    // Not QByteArray::fromPercentEncoding: it turns "%zz" or "%4" into a byte of its own making.
    const auto hex = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    const QByteArray in = text.toUtf8();
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '%' && i + 2 < in.size() && hex(in[i + 1]) >= 0 && hex(in[i + 2]) >= 0) {
            out += char(hex(in[i + 1]) * 16 + hex(in[i + 2]));
            i += 2;
        } else {
            out += in[i];
        }
    }
    return decodeUtf8Lenient(out);
}

QMap<QString, QString> httpParms(const QString &query) {
    QMap<QString, QString> result;
    for (const QString &piece : query.split(QLatin1Char('&'))) {
        const QStringList kv = percentUnescape(piece).split(QLatin1Char('='));
        if (kv.size() == 2)
            result.insert(kv[0], kv[1]);
    }
    return result;
}

bool hasPrefixCaseIns(const QString &text, const QString &prefix) {
    return text.startsWith(prefix, Qt::CaseInsensitive);
}

bool isEqualToStringCaseIns(const QString &a, const QString &b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool containsCaseIns(const QString &text, const QString &part) {
    return text.contains(part, Qt::CaseInsensitive);
}

QString stringBetween(const QString &text, const QString &open, const QString &close) {
    const qsizetype start = text.indexOf(open);
    if (start < 0)
        return {};
    const qsizetype from = start + open.size();
    if (from >= text.size())
        return {};
    const qsizetype end = close.isEmpty() ? -1 : text.indexOf(close, from);
    return end < 0 ? text.mid(from) : text.mid(from, end - from);
}

QString capitalizedWords(const QString &text) {
    QString out = text.toLower();
    bool wordStart = true;
    for (QChar &c : out) {
        if (c.isSpace()) {
            wordStart = true;
        } else if (wordStart) {
            c = c.toUpper();
            wordStart = false;
        }
    }
    return out;
}

QChar firstCharacter(const QString &text) {
    return text.isEmpty() ? QChar(0) : text.front();
}

QChar lastCharacter(const QString &text) {
    return text.isEmpty() ? QChar(0) : text.back();
}

bool isBracketed(const QString &text) {
    return text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']'));
}

quint32 hexIntValue(const QString &text) {
    QString t = text.trimmed();
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        t = t.mid(2);
    quint32 value = 0;
    for (const QChar c : t) {
        const int digit = QStringLiteral("0123456789abcdef").indexOf(c.toLower());
        if (digit < 0)
            break;
        value = value * 16 + quint32(digit);
    }
    return value;
}

QString CleanUserName() {
    QString name;
    if (const passwd *pw = ::getpwuid(::getuid()))
        name = QString::fromLocal8Bit(pw->pw_name);
    else
        name = qEnvironmentVariable("USER");
    QString out;
    for (const QChar c : name) {
        if (c.unicode() <= 127)
            out.append(c);
    }
    return out;
}

QString base64EncodedString(const QByteArray &data) {
    return QString::fromLatin1(data.toBase64());
}

QByteArray dataByBase64DecodingString(const QString &text, bool *ok) {
    const auto result
        = QByteArray::fromBase64Encoding(text.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (ok)
        *ok = bool(result);
    return result ? *result : QByteArray();
}

QString SHA1(const QByteArray &data) {
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex());
}

QString MD5(const QByteArray &data) {
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

QString decodeUtf8Lenient(const QByteArray &bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    return decoder.decode(bytes);
}

} // namespace lf
