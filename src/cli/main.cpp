// lanternfish-cli: sign in, share photos, resume shares and edit the address book from a shell.
#include "CliClient.h"
#include "CommandHelp.h"
#include "Commands.h"
#include "Output.h"

#include "foundation/Credentials.h"
#include "foundation/Log.h"

#include <QCoreApplication>
#include <QTimer>

#include <map>

using namespace lf::cli;

namespace {

// "--help" or "-h" among a command's arguments (before a "--" that ends the options).
bool asksForHelp(const QStringList &args) {
    for (const QString &arg : args) {
        if (arg == QLatin1String("--"))
            return false;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lanternfish-cli"));
    // Before anything can log: the switch is read once, at launch.
    lf::CheckReallyWantsLogs();
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h")
        || (args.first() == QLatin1String("help") && args.size() == 1)) {
        std::fputs(programUsage().toUtf8().constData(), args.isEmpty() ? stderr : stdout);
        return args.isEmpty() ? kExitUsage : kExitOk;
    }
    // "help COMMAND" and "COMMAND --help" give that command's usage.
    if (args.first() == QLatin1String("help") || asksForHelp(args.mid(1))) {
        const QString name = args.first() == QLatin1String("help") ? args.at(1) : args.first();
        const QString usage = commandUsage(name);
        if (usage.isEmpty())
            return usageError(QStringLiteral("unknown command %1").arg(name));
        std::fputs(usage.toUtf8().constData(), stdout);
        return kExitOk;
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
        {QStringLiteral("complete-names"), completeNamesCommand},
        {QStringLiteral("config"), configCommand},
    };
    const QString name = args.takeFirst();
    const auto command = commands.find(name);
    if (command == commands.end())
        return usageError(QStringLiteral("unknown command %1").arg(name));
    // The command runs inside the application's event loop, which ends with it.
    int code = kExitFailed;
    QTimer::singleShot(0, &app, [&] {
        {
            CliClient client;
            code = command->second(client, args);
        }
        QCoreApplication::exit(code);
    });
    QCoreApplication::exec();
    return code;
}
