#pragma once

#include <QString>

namespace lf {

// Name of the folder on the user's desktop whose presence at launch switches logging on.
inline constexpr const char *kLogFolderName = "LanternfishLogs";

// Sets the process's log switch once: on when the log folder exists now. Later calls change nothing.
bool CheckReallyWantsLogs();
bool logsWanted();

// Appends "[date] function - message" to the dated log file when the switch is on.
// Safe from any thread: each line is written whole, never interleaved with another.
void DesktopLog(const char *function, const QString &message);

// Messages for the system log (standard error here).
void SystemLog(const QString &message);

// For tests: forget the switch and the file so the next CheckReallyWantsLogs decides anew.
void resetLogStateForTesting();

} // namespace lf

#define LF_LOG(message) ::lf::DesktopLog(Q_FUNC_INFO, (message))
