#include "CommandHelp.h"

#include "Output.h"

#include <QStringList>

namespace lf::cli {

namespace {

struct Form {
    const char *synopsis; // after the program's name
    const char *summary;
};

struct CommandText {
    const char *name;
    std::initializer_list<Form> forms;
    const char *details; // the command's own help only; may be empty
};

const CommandText kCommands[] = {
    {"use-server", {{"use-server HOST:PORT", "choose the server (port 80: secure connection)"}},
        "The choice is kept for later runs. Choosing another server forgets the sign-in token:\n"
        "sign in again afterwards.\n"},
    {"signin",
        {{"signin EMAIL [--password-stdin]",
            "sign in; the password is asked for, or read from standard input"}},
        "The password is asked for without echo on a terminal; with --password-stdin the first\n"
        "line of standard input is the password. Only the token the server issues is stored: in\n"
        "the desktop's keyring, or in the settings file while no keyring runs.\n"},
    {"signup",
        {{"signup FIRST LAST EMAIL --accept-terms [--password-stdin]",
            "make an account (confirm it from the e-mail, then sign in)"}},
        "--accept-terms says you accept the service's terms; the account is made only with it.\n"
        "The password is asked for twice on a terminal, or read from standard input.\n"},
    {"signout", {{"signout", "sign out"}},
        "The next command that needs the server asks you to sign in again.\n"},
    {"whoami", {{"whoami", "the signed-in user, the server and where the sign-in is kept"}}, ""},
    {"share",
        {{"share --to RECIPIENT... [--message TEXT] FILE...",
            "share photos; a recipient is an e-mail address, %group or @site\n"
            "(repeat --to, or separate recipients with commas)"}},
        "The photos are sent while the progress shows. An interrupted share (Ctrl-C, lost\n"
        "network) is kept: \"lanternfish-cli resume\" finishes it. Use -- before file names\n"
        "that begin with \"-\".\n"},
    {"resume", {{"resume", "finish every interrupted share"}}, ""},
    {"status", {{"status [--json]", "shares waiting to be sent and full-size uploads left"}}, ""},
    {"cancel", {{"cancel", "withdraw every unfinished share (compositions stay)"}}, ""},
    {"contacts",
        {{"contacts [--json]", "your contacts"}, {"contacts add NAME EMAIL", "add a contact"},
            {"contacts delete EMAIL", "delete a contact"}},
        ""},
    {"groups",
        {{"groups [--json]", "your groups"},
            {"groups create NAME MEMBER-NAME...", "make a group of contacts, named as in \"contacts\""},
            {"groups delete NAME", "delete a group"}},
        ""},
    {"complete", {{"complete TEXT [--json]", "addresses that complete TEXT, best first"}}, ""},
    {"config", {{"config [KEY [VALUE]]", "show or change a setting"}},
        "Without a key, every setting with its value; with a key, its value; with a value, the\n"
        "setting is changed (true/false, whole numbers and numbers as the setting takes).\n"},
    {"help", {{"help COMMAND", "the help of one command, as COMMAND --help gives it"}}, ""},
};

constexpr int kSynopsisWidth = 33;

// `lead` and the synopsis, then the summary from `column` on (below a synopsis too long for it).
QString formLines(const QString &lead, const Form &form, qsizetype column) {
    QString out = lead + QLatin1String(form.synopsis);
    qsizetype lineStart = 0;
    for (const QString &line : QString::fromLatin1(form.summary).split(QLatin1Char('\n'))) {
        if (out.size() - lineStart >= column) {
            out += QLatin1Char('\n');
            lineStart = out.size();
        }
        out += QString(column - (out.size() - lineStart), QLatin1Char(' ')) + line + QLatin1Char('\n');
        lineStart = out.size();
    }
    return out;
}

const char *const kExitStatus
    = "Exit status: 0 done, 1 failed (the error says why), 2 wrong usage, 130 interrupted\n"
      "(an interrupted share is kept: \"lanternfish-cli resume\" finishes it).\n";

} // namespace

QString programUsage() {
    QString out = QStringLiteral("Usage: %1 COMMAND [ARGUMENTS]\n\n"
                                 "Share photos with Lanternfish from a shell.\n\nCommands:\n")
                      .arg(QLatin1String(kProgramName));
    for (const CommandText &command : kCommands) {
        for (const Form &form : command.forms)
            out += formLines(QStringLiteral("  "), form, 2 + kSynopsisWidth);
    }
    return out
        + QStringLiteral("\n%1 COMMAND --help shows the help of one command.\n\n")
              .arg(QLatin1String(kProgramName))
        + QLatin1String(kExitStatus);
}

QString commandUsage(const QString &name) {
    for (const CommandText &command : kCommands) {
        if (name != QLatin1String(command.name))
            continue;
        QString out = QStringLiteral("Usage:\n");
        for (const Form &form : command.forms)
            out += formLines(QStringLiteral("  %1 ").arg(QLatin1String(kProgramName)), form, 6);
        if (*command.details)
            out += QLatin1Char('\n') + QLatin1String(command.details);
        return out;
    }
    return {};
}

} // namespace lf::cli
