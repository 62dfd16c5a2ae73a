#include "platform/LoginItems.h"

#include "foundation/FileRules.h"
#include "foundation/LogCategories.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

#include <algorithm>

namespace lf {

namespace {

// The Exec line of the desktop entry format, in its three layers: the argument quoting of the
// command line, "%%" for a percent sign (a lone one starts a field code), and the backslash
// escapes of every string value. So one backslash in a quoted path is four in the file.
QString execLine(const QString &program) {
    static const QString specials = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    const bool plain
        = std::none_of(program.begin(), program.end(), [](QChar c) { return specials.contains(c); });
    QString word = program;
    if (!plain) {
        for (const char *c : {"\\", "\"", "`", "$"})
            word.replace(QLatin1String(c), QLatin1String("\\") + QLatin1String(c));
        word = QLatin1Char('"') + word + QLatin1Char('"');
    }
    word.replace(QLatin1String("%"), QLatin1String("%%"));
    word.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    word.replace(QLatin1String("\n"), QLatin1String("\\n"));
    word.replace(QLatin1String("\t"), QLatin1String("\\t"));
    return word;
}

// The string value's backslash escapes undone.
QString unescapeValue(const QString &value) {
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        QChar c = value.at(i);
        if (c == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar next = value.at(++i);
            c = next == QLatin1Char('s')   ? QChar(u' ')
                : next == QLatin1Char('n') ? QChar(u'\n')
                : next == QLatin1Char('t') ? QChar(u'\t')
                : next == QLatin1Char('r') ? QChar(u'\r')
                                           : next;
        }
        out += c;
    }
    return out;
}

// The program an Exec line starts: its first argument, unquoted.
QString firstExecWord(const QString &exec) {
    const QString text = unescapeValue(exec).trimmed();
    QString word;
    if (!text.startsWith(QLatin1Char('"'))) {
        word = text.section(QLatin1Char(' '), 0, 0);
    } else {
        for (qsizetype i = 1; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c == QLatin1Char('\\') && i + 1 < text.size())
                word += text.at(++i);
            else if (c == QLatin1Char('"'))
                break;
            else
                word += c;
        }
    }
    return word.replace(QLatin1String("%%"), QLatin1String("%"));
}

struct Entry {
    QString program;
    bool hidden = false;
};

Entry readEntry(const QString &path) {
    Entry entry;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return entry;
    QTextStream in(&file);
    bool inGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == QLatin1String("[Desktop Entry]");
        else if (inGroup && line.startsWith(QLatin1String("Exec=")))
            entry.program = firstExecWord(line.mid(5));
        else if (inGroup && line.startsWith(QLatin1String("Hidden=")))
            entry.hidden = line.mid(7).trimmed() == QLatin1String("true");
    }
    return entry;
}

// Where `program`'s own entry goes when the usual name holds another installation's: a name of
// its own, so that both start at login, as two login items would.
QString ownEntryPath(const QString &program) {
    const QByteArray hash
        = QCryptographicHash::hash(program.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    QString path = LoginItems::entryPath();
    path.insert(path.size() - int(qstrlen(".desktop")), QLatin1Char('-') + QString::fromLatin1(hash));
    return path;
}

// The entries written for `program`, under either name.
QStringList entriesOf(const QString &program) {
    QStringList paths;
    for (const QString &path : {LoginItems::entryPath(), ownEntryPath(program)}) {
        if (QFileInfo::exists(path) && readEntry(path).program == program)
            paths.append(path);
    }
    return paths;
}

} // namespace

QString LoginItems::entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/") + QLatin1String(kEntryName);
}

QString LoginItems::entryProgram() {
    return readEntry(entryPath()).program;
}

bool LoginItems::contains(const QString &program) {
    if (program.isEmpty())
        return false;
    const QStringList paths = entriesOf(program);
    return std::any_of(
        paths.begin(), paths.end(), [](const QString &path) { return !readEntry(path).hidden; });
}

bool LoginItems::add(const QString &program) {
    if (program.isEmpty())
        return false;
    if (contains(program))
        return true;
    // Another installation's entry stays as it is; ours goes beside it.
    const QString path = QFileInfo::exists(entryPath()) && readEntry(entryPath()).program != program
        ? ownEntryPath(program)
        : entryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Lanternfish\n"
                                        "Comment=Start Lanternfish when you log in\n"
                                        "Exec=%1\n"
                                        "Icon=com.Lanternfish.MacClient\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(execLine(program));
    QString error;
    if (!writeFileAtomically(path, text.toUtf8(), &error, 0644)) {
        qCWarning(lfPlatform).noquote() << QStringLiteral("autostart entry not written: %1").arg(error);
        return false;
    }
    return true;
}

bool LoginItems::remove(const QString &program) {
    if (program.isEmpty())
        return true;
    bool removed = true;
    for (const QString &path : entriesOf(program))
        removed = QFile::remove(path) && removed;
    return removed;
}

bool LoginItems::sync(const QString &program, bool startAtLogin) {
    return startAtLogin ? add(program) : remove(program);
}

} // namespace lf
