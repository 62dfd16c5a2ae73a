#pragma once

#include <QString>

namespace lf::cli {

// The program's usage: every command with its arguments and what it does.
QString programUsage();
// The usage of one command ("share", "contacts", ...) with a few lines on how it behaves;
// empty for a name that is not a command.
QString commandUsage(const QString &command);

} // namespace lf::cli
