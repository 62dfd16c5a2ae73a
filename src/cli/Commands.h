#pragma once

#include <QString>
#include <QStringList>

namespace lf::cli {

class CliClient;

// Each command gets the arguments after its name and returns the exit code.
int useServerCommand(CliClient &client, QStringList args);
int signInCommand(CliClient &client, QStringList args);
int signUpCommand(CliClient &client, QStringList args);
int signOutCommand(CliClient &client, QStringList args);
int whoAmICommand(CliClient &client, QStringList args);
int configCommand(CliClient &client, QStringList args);
int shareCommand(CliClient &client, QStringList args);
int resumeCommand(CliClient &client, QStringList args);
int cancelCommand(CliClient &client, QStringList args);
int statusCommand(CliClient &client, QStringList args);
int contactsCommand(CliClient &client, QStringList args);
int groupsCommand(CliClient &client, QStringList args);
int completeCommand(CliClient &client, QStringList args);
// Hidden, for shell completion: every %group and @site recipient, one a line.
int completeNamesCommand(CliClient &client, QStringList args);

// Removes every `flag` from `args`; whether there was one.
bool takeFlag(QStringList &args, const QString &flag);
// The first argument that looks like an option ("-x", "--xyz"), or empty.
QString unknownOption(const QStringList &args);

} // namespace lf::cli
