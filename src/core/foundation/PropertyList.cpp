#include "foundation/PropertyList.h"

#include "foundation/FileRules.h"

#include <QDateTime>
#include <QFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace lf {

namespace {

// XML 1.0 cannot carry these characters at all, escaped or not: a text holding one would make
// the whole file unreadable.
bool isXmlText(const QString &text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r')
            return false;
        if (c == 0xFFFE || c == 0xFFFF)
            return false;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= text.size() || !QChar::isLowSurrogate(text.at(i + 1).unicode()))
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
    }
    return true;
}

QString dateText(const QDateTime &date) {
    return date.toUTC().toString(Qt::ISODate);
}

bool refuse(QString *why, const QString &reason) {
    if (why)
        *why = reason;
    return false;
}

void writeValue(QXmlStreamWriter &w, const QVariant &v) {
    switch (v.typeId()) {
    case QMetaType::QString:
        w.writeTextElement(QStringLiteral("string"), v.toString());
        break;
    case QMetaType::Bool:
        w.writeEmptyElement(v.toBool() ? QStringLiteral("true") : QStringLiteral("false"));
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        w.writeTextElement(QStringLiteral("integer"), QString::number(v.toLongLong()));
        break;
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        w.writeTextElement(QStringLiteral("integer"), QString::number(v.toULongLong()));
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        w.writeTextElement(QStringLiteral("real"), QString::number(v.toDouble(), 'g', 17));
        break;
    case QMetaType::QDateTime:
        w.writeTextElement(QStringLiteral("date"), dateText(v.toDateTime()));
        break;
    case QMetaType::QByteArray:
        w.writeTextElement(QStringLiteral("data"), QString::fromLatin1(v.toByteArray().toBase64()));
        break;
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        w.writeStartElement(QStringLiteral("array"));
        for (const QVariant &item : v.toList()) {
            if (isPropertyListValue(item))
                writeValue(w, item);
        }
        w.writeEndElement();
        break;
    }
    case QMetaType::QVariantMap: {
        w.writeStartElement(QStringLiteral("dict"));
        const QVariantMap map = v.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            // A key without its value would make the whole list unreadable.
            if (!isXmlText(it.key()) || !isPropertyListValue(it.value()))
                continue;
            w.writeTextElement(QStringLiteral("key"), it.key());
            writeValue(w, it.value());
        }
        w.writeEndElement();
        break;
    }
    default:
        break;
    }
}

class Parser {
public:
    explicit Parser(const QByteArray &xml)
        : r(xml) { }

    QVariant parse(QString *error) {
        QVariant result;
        bool sawPlist = false;
        while (!r.atEnd()) {
            r.readNext();
            if (!r.isStartElement())
                continue;
            if (r.name() == QLatin1String("plist")) {
                sawPlist = true;
                continue;
            }
            result = value();
            break;
        }
        if (!r.hasError()) {
            // The rest must still be well-formed; a cut-off file is not a valid list.
            while (!r.atEnd())
                r.readNext();
        }
        if (r.hasError() || !sawPlist || !result.isValid()) {
            if (error)
                *error = r.hasError() ? r.errorString() : QStringLiteral("not a property list");
            return {};
        }
        return result;
    }

private:
    // Called with the reader on a start element; leaves it on the matching end element.
    QVariant value() {
        // Each level of nesting is a level of recursion: a hostile file must not run the stack out.
        if (m_depth >= kMaxPropertyListDepth)
            return fail(QStringLiteral("nested deeper than %1 levels").arg(kMaxPropertyListDepth));
        ++m_depth;
        QVariant result = element();
        --m_depth;
        return result;
    }

    QVariant element() {
        const auto name = r.name().toString();
        if (name == QLatin1String("string"))
            return r.readElementText();
        if (name == QLatin1String("integer")) {
            bool ok = false;
            const QString t = r.readElementText().trimmed();
            const qlonglong n = t.toLongLong(&ok);
            if (ok)
                return n;
            const qulonglong u = t.toULongLong(&ok);
            return ok ? QVariant(u) : fail(QStringLiteral("bad integer"));
        }
        if (name == QLatin1String("real")) {
            bool ok = false;
            const double d = r.readElementText().trimmed().toDouble(&ok);
            return ok ? QVariant(d) : fail(QStringLiteral("bad real"));
        }
        if (name == QLatin1String("true") || name == QLatin1String("false")) {
            r.skipCurrentElement();
            return name == QLatin1String("true");
        }
        if (name == QLatin1String("date")) {
            const QDateTime d = QDateTime::fromString(r.readElementText().trimmed(), Qt::ISODate);
            return d.isValid() ? QVariant(d.toUTC()) : fail(QStringLiteral("bad date"));
        }
        if (name == QLatin1String("data"))
            return QByteArray::fromBase64(r.readElementText().toLatin1());
        if (name == QLatin1String("array")) {
            QVariantList list;
            while (r.readNextStartElement()) {
                QVariant item = value();
                if (!item.isValid())
                    return {};
                list.append(item);
            }
            return r.hasError() ? QVariant() : QVariant(list);
        }
        if (name == QLatin1String("dict")) {
            QVariantMap map;
            while (r.readNextStartElement()) {
                if (r.name() != QLatin1String("key"))
                    return fail(QStringLiteral("dict entry without key"));
                const QString key = r.readElementText();
                if (!r.readNextStartElement())
                    return fail(QStringLiteral("key without value"));
                QVariant item = value();
                if (!item.isValid())
                    return {};
                map.insert(key, item);
            }
            return r.hasError() ? QVariant() : QVariant(map);
        }
        return fail(QStringLiteral("unknown element ") + name);
    }

    QVariant fail(const QString &message) {
        if (!r.hasError())
            r.raiseError(message);
        return {};
    }

    QXmlStreamReader r;
    int m_depth = 0;
};

} // namespace

bool isPropertyListValue(const QVariant &value, QString *why) {
    switch (value.typeId()) {
    case QMetaType::QString:
        return isXmlText(value.toString()) || refuse(why, QStringLiteral("a text with a control character"));
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::QByteArray:
        return true;
    case QMetaType::QDateTime: {
        // The text form must read back: no invalid dates, no years ISO 8601 text cannot carry.
        const QDateTime date = value.toDateTime();
        return (date.isValid() && QDateTime::fromString(dateText(date), Qt::ISODate).isValid())
            || refuse(why, QStringLiteral("a date that cannot be written"));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        const QVariantList list = value.toList();
        for (const QVariant &item : list) {
            if (!isPropertyListValue(item, why))
                return false;
        }
        return true;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (!isXmlText(it.key()))
                return refuse(why, QStringLiteral("a key with a control character"));
            // An empty entry is left out, as an absent key.
            if ((it.value().isValid() && !it.value().isNull()) && !isPropertyListValue(it.value(), why))
                return false;
        }
        return true;
    }
    default:
        return refuse(why,
            QStringLiteral("a value of type %1")
                .arg(QLatin1String(value.isValid() ? value.metaType().name() : "none")));
    }
}

QByteArray writePropertyList(const QVariant &root) {
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.setAutoFormattingIndent(1);
    w.writeStartDocument();
    w.writeDTD(QStringLiteral("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"));
    w.writeStartElement(QStringLiteral("plist"));
    w.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    writeValue(w, root);
    w.writeEndElement();
    w.writeEndDocument();
    return out;
}

QVariant readPropertyList(const QByteArray &xml, QString *error) {
    return Parser(xml).parse(error);
}

bool readPropertyListFile(const QString &path, QVariantMap &out, QString *error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = f.errorString();
        return false;
    }
    const QVariant root = readPropertyList(f.readAll(), error);
    if (root.typeId() != QMetaType::QVariantMap) {
        if (error && root.isValid())
            *error = QStringLiteral("root is not a dictionary");
        return false;
    }
    out = root.toMap();
    return true;
}

bool writePropertyListFile(const QString &path, const QVariantMap &map, QString *error) {
    return writeFileAtomically(path, writePropertyList(map), error);
}

} // namespace lf
