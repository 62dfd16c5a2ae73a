#pragma once

#include <QJsonValue>
#include <QString>

namespace lf::cli {

// What the program returns to the shell.
enum ExitCode {
    kExitOk = 0,
    kExitFailed = 1, // a share given up, a refused sign-in or request, an unreachable server
    kExitUsage = 2,
    kExitInterrupted = 130, // Ctrl-C: whatever was being sent stays resumable
};

inline constexpr const char *kProgramName = "lanternfish-cli";

// A result line on standard output.
void printOut(const QString &line);
// One line "lanternfish-cli: message" on standard error; returns `code` for `return fail(...)`.
int fail(const QString &message, int code = kExitFailed);
int usageError(const QString &message);
// A message for the user on standard error, without the program's name.
void printNote(const QString &line);
// Indented JSON on standard output.
void printJson(const QJsonValue &value);

// Whether standard error is a terminal (progress then updates in place).
bool stderrIsTerminal();

} // namespace lf::cli
