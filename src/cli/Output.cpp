#include "Output.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <unistd.h>

namespace lf::cli {

void printOut(const QString &line) {
    std::fputs(line.toUtf8().append('\n').constData(), stdout);
    std::fflush(stdout);
}

void printNote(const QString &line) {
    std::fputs(line.toUtf8().append('\n').constData(), stderr);
    std::fflush(stderr);
}

int fail(const QString &message, int code) {
    printNote(QStringLiteral("%1: %2").arg(QLatin1String(kProgramName), message));
    return code;
}

int usageError(const QString &message) {
    return fail(message + QStringLiteral(" (see %1 --help)").arg(QLatin1String(kProgramName)), kExitUsage);
}

void printJson(const QJsonValue &value) {
    const QJsonDocument doc
        = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    std::fputs(doc.toJson(QJsonDocument::Indented).constData(), stdout);
    std::fflush(stdout);
}

bool stderrIsTerminal() {
    static const bool terminal = isatty(STDERR_FILENO) == 1;
    return terminal;
}

} // namespace lf::cli
