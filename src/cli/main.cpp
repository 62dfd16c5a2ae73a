// lanternfish-cli: sign in, share photos, resume shares and edit the address book from a shell.
#include "CliClient.h"
#include "Commands.h"
#include "Output.h"

#include "foundation/Credentials.h"

#include <QCoreApplication>

#include <map>

using namespace lf::cli;

namespace {

const char *const kUsage = R"(Usage: lanternfish-cli COMMAND [ARGUMENTS]

Share photos with Lanternfish from a shell.

Commands:
  use-server HOST:PORT             choose the server (port 80: secure connection)
  signin EMAIL [--password-stdin]  sign in; the password is asked for, or read from standard input
  signup FIRST LAST EMAIL --accept-terms [--password-stdin]
                                   make an account (confirm it from the e-mail, then sign in)
  signout                          sign out
  whoami                           the signed-in user and the server
  share --to RECIPIENT... [--message TEXT] FILE...
                                   share photos; a recipient is an e-mail address, %group or @site
                                   (repeat --to, or separate recipients with commas)
  resume                           finish every interrupted share
  status [--json]                  shares waiting to be sent and full-size uploads left
  cancel                           withdraw every unfinished share (compositions stay)
  contacts [--json]                your contacts
  contacts add NAME EMAIL          add a contact
  contacts delete EMAIL            delete a contact
  groups [--json]                  your groups
  groups create NAME MEMBER-NAME...
                                   make a group of contacts, named as in "contacts"
  groups delete NAME               delete a group
  complete TEXT [--json]           addresses that complete TEXT, best first
  config [KEY [VALUE]]             show or change a setting

Exit status: 0 done, 1 failed (the error says why), 2 wrong usage, 130 interrupted
(an interrupted share is kept: "lanternfish-cli resume" finishes it).
)";

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lanternfish-cli"));
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h")
        || args.first() == QLatin1String("help")) {
        std::fputs(kUsage, args.isEmpty() ? stderr : stdout);
        return args.isEmpty() ? kExitUsage : kExitOk;
    }
    if (args.first() == QLatin1String("--version")) {
        printOut(QStringLiteral("lanternfish-cli %1").arg(lf::Credentials::clientVersion()));
        return kExitOk;
    }
    using Command = int (*)(CliClient &, QStringList);
    static const std::map<QString, Command> commands {
        {QStringLiteral("use-server"), useServerCommand},
        {QStringLiteral("signin"), signInCommand},
        {QStringLiteral("signup"), signUpCommand},
        {QStringLiteral("signout"), signOutCommand},
        {QStringLiteral("whoami"), whoAmICommand},
        {QStringLiteral("share"), shareCommand},
        {QStringLiteral("resume"), resumeCommand},
        {QStringLiteral("cancel"), cancelCommand},
        {QStringLiteral("status"), statusCommand},
        {QStringLiteral("contacts"), contactsCommand},
        {QStringLiteral("groups"), groupsCommand},
        {QStringLiteral("complete"), completeCommand},
        {QStringLiteral("config"), configCommand},
    };
    const QString name = args.takeFirst();
    const auto command = commands.find(name);
    if (command == commands.end())
        return usageError(QStringLiteral("unknown command %1").arg(name));
    int code;
    {
        CliClient client;
        code = command->second(client, args);
    }
    return code;
}
