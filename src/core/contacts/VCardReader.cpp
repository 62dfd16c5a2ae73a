#include "contacts/VCardReader.h"

#include "foundation/TextRules.h"

#include <QDir>
#include <QFile>

namespace lf {

namespace {

// Undoes the text escapes of vCard values: \\ \, \; \n.
QString unescape(const QString &value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar next = value[++i];
            out.append(
                next == QLatin1Char('n') || next == QLatin1Char('N') ? QChar(QLatin1Char('\n')) : next);
        } else {
            out.append(value[i]);
        }
    }
    return out;
}

// Splits a structured value at unescaped ";" and unescapes each part.
QStringList structuredParts(const QString &value) {
    QStringList parts;
    QString current;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\') && i + 1 < value.size()) {
            current.append(value[i]).append(value[i + 1]);
            ++i;
        } else if (value[i] == QLatin1Char(';')) {
            parts.append(unescape(current));
            current.clear();
        } else {
            current.append(value[i]);
        }
    }
    parts.append(unescape(current));
    return parts;
}

// Joins folded lines: a line break followed by a space or tab continues the previous line.
QStringList unfoldedLines(const QString &text) {
    QStringList lines;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (!lines.isEmpty() && !line.isEmpty()
            && (line[0] == QLatin1Char(' ') || line[0] == QLatin1Char('\t')))
            lines.last().append(line.mid(1));
        else
            lines.append(line);
    }
    return lines;
}

} // namespace

QList<AddressBookPerson> readVCards(const QByteArray &text) {
    QList<AddressBookPerson> people;
    AddressBookPerson person;
    QString formattedName;
    bool inCard = false;
    for (const QString &line : unfoldedLines(decodeUtf8Lenient(text))) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        // "group.NAME;param=x:value": the group prefix and the parameters do not matter here.
        QString name = line.left(colon).section(QLatin1Char(';'), 0, 0).trimmed().toUpper();
        name = name.section(QLatin1Char('.'), -1);
        const QString value = line.mid(colon + 1);
        if (name == QLatin1String("BEGIN")
            && value.trimmed().compare(QLatin1String("VCARD"), Qt::CaseInsensitive) == 0) {
            inCard = true;
            person = {};
            formattedName.clear();
        } else if (!inCard) {
            continue;
        } else if (name == QLatin1String("END")) {
            // A card with neither a structured name nor anything else still names somebody by FN.
            if (person.firstName.isEmpty() && person.lastName.isEmpty() && person.nickname.isEmpty()
                && person.organization.isEmpty() && !formattedName.isEmpty())
                person.firstName = formattedName;
            people.append(person);
            inCard = false;
        } else if (name == QLatin1String("N")) {
            const QStringList parts = structuredParts(value);
            person.lastName = parts.value(0).trimmed();
            person.firstName = parts.value(1).trimmed();
        } else if (name == QLatin1String("FN")) {
            formattedName = unescape(value).trimmed();
        } else if (name == QLatin1String("NICKNAME")) {
            person.nickname = unescape(value).section(QLatin1Char(','), 0, 0).trimmed();
        } else if (name == QLatin1String("ORG")) {
            person.organization = structuredParts(value).value(0).trimmed();
        } else if (name == QLatin1String("EMAIL")) {
            QString email = unescape(value).trimmed();
            if (email.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
                email = email.mid(7);
            if (!email.isEmpty())
                person.emails.append(email);
        }
    }
    return people;
}

QList<AddressBookPerson> readVCardFolder(const QString &folder) {
    QList<AddressBookPerson> people;
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral("*.vcf")}, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            people += readVCards(f.read(16 * 1024 * 1024));
    }
    return people;
}

} // namespace lf
