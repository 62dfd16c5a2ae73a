#pragma once

#include <QString>

namespace lf {

// Starting the program at login, as an XDG autostart entry in the user's configuration folder.
// The entry is ours only while its Exec names the program it was written for: another
// installation's entry is left alone, and ours then goes beside it under a name of its own.
class LoginItems {
public:
    static constexpr const char *kEntryName = "com.Lanternfish.MacClient.desktop";

    // $XDG_CONFIG_HOME/autostart/<entry>: the usual name.
    static QString entryPath();
    // The program an existing entry starts (its Exec's first word), else empty.
    static QString entryProgram();
    // An entry for `program`, under either name, exists and is not hidden.
    static bool contains(const QString &program);
    // Writes the entry for `program` unless one for it exists; false when it could not be written.
    static bool add(const QString &program);
    // Removes the entries for `program`; an entry for another program stays.
    static bool remove(const QString &program);
    // Adds or removes as `startAtLogin` says.
    static bool sync(const QString &program, bool startAtLogin);
};

} // namespace lf
