#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

namespace lf {

// The program's own crash reports: a handler that writes "Lanternfish_<date>.crash" (signal,
// backtrace, version) when the program dies of a fatal signal, and the once-per-sign-in upload
// of the newest report not yet sent.
namespace CrashReports {

inline constexpr const char *kLogPrefix = "Lanternfish";
inline constexpr const char *kSentPrefix = "(sent)";

// $XDG_STATE_HOME/Lanternfish/CrashReporter ($HOME/.local/state when XDG_STATE_HOME is unset).
QString folder();

// Installs the handler for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT. Creates the folder now:
// nothing in the handler may allocate.
bool installHandler(const QString &version, const QString &folderPath = folder());

// The first report in `folderPath`, by name, whose name begins with "Lanternfish" (any case)
// and which was modified after `since`; empty when there is none.
QString nextLog(const QString &folderPath, const QDateTime &since);

// Sends the next report after the date of the last one sent ("dateLastCrashlog") with `upload`.
// When that succeeds, records the report's date and renames it to "(sent)<name>"; a failed
// upload changes nothing, so the report goes again after the next sign-in. True when one went.
bool checkCrashLogs(
    const std::function<bool(const QString &path)> &upload, const QString &folderPath = folder());

// Removes the temporary folder of an old version, "/var/tmp/Lanternfish_<user>/", when it is a
// real folder of this user's; anything else under that name is left alone.
void nostalgiaCleanUp(const QString &tmpRoot = QStringLiteral("/var/tmp"));

} // namespace CrashReports

} // namespace lf
