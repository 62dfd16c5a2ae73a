#include "platform/LoginItems.h"

#include "foundation/FileRules.h"
#include "foundation/LogCategories.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

namespace lf {

namespace {

// Exec quoting of the desktop entry format: a path with spaces or specials goes in double quotes.
QString quotedExec(const QString &program) {
    static const QString specials = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    bool plain = true;
    for (const QChar c : program)
        plain = plain && !specials.contains(c);
    if (plain)
        return program;
    QString quoted = program;
    for (const char *c : {"\\", "\"", "`", "$"})
        quoted.replace(QLatin1String(c), QLatin1String("\\") + QLatin1String(c));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString firstExecWord(const QString &exec) {
    const QString text = exec.trimmed();
    if (!text.startsWith(QLatin1Char('"')))
        return text.section(QLatin1Char(' '), 0, 0);
    QString word;
    for (qsizetype i = 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\') && i + 1 < text.size())
            word += text.at(++i);
        else if (c == QLatin1Char('"'))
            break;
        else
            word += c;
    }
    return word;
}

struct Entry {
    QString program;
    bool hidden = false;
};

Entry readEntry() {
    Entry entry;
    QFile file(LoginItems::entryPath());
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

} // namespace

QString LoginItems::entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/") + QLatin1String(kEntryName);
}

QString LoginItems::entryProgram() {
    return readEntry().program;
}

bool LoginItems::contains(const QString &program) {
    const Entry entry = readEntry();
    return !entry.hidden && !program.isEmpty() && entry.program == program;
}

bool LoginItems::add(const QString &program) {
    if (contains(program))
        return true;
    const QString path = entryPath();
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
                             .arg(quotedExec(program));
    QString error;
    if (!writeFileAtomically(path, text.toUtf8(), &error, 0644)) {
        qCWarning(lfPlatform).noquote() << QStringLiteral("autostart entry not written: %1").arg(error);
        return false;
    }
    return true;
}

bool LoginItems::remove(const QString &program) {
    if (program.isEmpty() || readEntry().program != program)
        return true;
    return QFile::remove(entryPath());
}

bool LoginItems::sync(const QString &program, bool startAtLogin) {
    return startAtLogin ? add(program) : remove(program);
}

} // namespace lf
