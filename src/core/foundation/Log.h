#pragma once

#include <QString>

namespace lf {

// Name of the folder on the user's desktop whose presence at launch switches logging on.
inline constexpr const char *kLogFolderName = "LanternfishLogs";

// Sets the process's log switch once: on when the log folder exists now. Later calls change nothing.
// While it is on, messages in our categories (foundation/LogCategories.h) go to the dated log
// file and nowhere else; while it is off they are dropped. Other messages take their usual way.
bool CheckReallyWantsLogs();
bool logsWanted();

// Appends "[date] source - message" to the dated log file when the switch is on.
// Safe from any thread: each line is written whole, never interleaved with another.
void DesktopLog(const char *source, const QString &message);

// Puts the switch in force for our categories; runs once at start-up, before anything logs.
void installLogCategoryFilter();

// Messages for the system log (standard error here).
void SystemLog(const QString &message);

// For tests: forget the switch and the file so the next CheckReallyWantsLogs decides anew.
void resetLogStateForTesting();

} // namespace lf
