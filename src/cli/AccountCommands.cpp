#include "CliClient.h"
#include "Commands.h"
#include "Output.h"

#include "api/ServiceAPI.h"
#include "foundation/Credentials.h"
#include "foundation/Keyring.h"
#include "foundation/Prefs.h"
#include "foundation/Strings.h"
#include "foundation/TextRules.h"
#include "session/SignUp.h"
#include "session/SiteResources.h"

#include <QRegularExpression>

#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace lf::cli {

namespace {

// One line of standard input, without its line end; on a terminal asked for without echo.
std::optional<QString> readPasswordLine(const QString &prompt, bool terminal) {
    termios saved {};
    if (terminal) {
        std::cerr << prompt.toStdString() << std::flush;
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    const bool read = bool(std::getline(std::cin, line));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::cerr << std::endl;
    }
    if (!read && line.empty())
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromStdString(line);
}

// The password, from standard input or asked for on a terminal (twice with `confirm`: nothing
// when the two differ).
std::optional<QString> readPassword(const QString &email, bool fromStdin, bool confirm = false) {
    const bool terminal = !fromStdin && isatty(STDIN_FILENO) == 1;
    std::optional<QString> first = readPasswordLine(QStringLiteral("Password for %1: ").arg(email), terminal);
    if (!first || !confirm || !terminal)
        return first;
    if (readPasswordLine(QStringLiteral("Once more: "), terminal) != first)
        return std::nullopt;
    return first;
}

QString valueText(const QVariant &value) {
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char('\n'));
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().toUTC().toString(Qt::ISODate);
    if (value.typeId() == QMetaType::QVariantMap) {
        QStringList pairs;
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            pairs.append(it.key() + QLatin1Char('=') + it.value().toString());
        return pairs.join(QStringLiteral(", "));
    }
    return value.toString();
}

// The stored user name, when a sign-in (name and token) is stored.
std::optional<QString> storedUser() {
    QString user;
    QString token;
    if (!Credentials::loadCredentials(user, token))
        return std::nullopt;
    return user;
}

bool isSecret(const QString &key) {
    return key == QLatin1String(PrefKey::UserToken);
}

} // namespace

int useServerCommand(CliClient &client, QStringList args) {
    if (args.size() != 1)
        return usageError(QStringLiteral("use-server takes one argument, HOST:PORT"));
    static const QRegularExpression form(
        QStringLiteral(R"(^(\[[0-9A-Fa-f:.]{2,45}\]|[A-Za-z0-9.-]{1,253}):([0-9]{1,5})$)"));
    const QRegularExpressionMatch match = form.match(args.first());
    const int port = match.hasMatch() ? match.captured(2).toInt() : 0;
    if (port < 1 || port > 65535)
        return usageError(QStringLiteral("not a server address of the form HOST:PORT: %1").arg(args.first()));
    const QString host = match.captured(1);
    const QString portText = QString::number(port);
    const ServiceAPI::HostEntry current = ServiceAPI::currentServer();
    const bool changed = host != current.host || portText != current.port;
    const std::optional<QString> user = storedUser();
    // A token is only good with the server that issued it.
    if (changed)
        client.service().forgetToken();
    ServiceAPI::setHost(host, portText);
    printOut(
        QStringLiteral("Server set to %1%2")
            .arg(CliClient::serverText(), port == 80 ? QStringLiteral(" (secure connection)") : QString()));
    if (changed && user)
        printNote(
            QStringLiteral("Sign in again with \"%1 signin %2\".").arg(QLatin1String(kProgramName), *user));
    return kExitOk;
}

int signInCommand(CliClient &client, QStringList args) {
    const bool fromStdin = takeFlag(args, QStringLiteral("--password-stdin"));
    if (!unknownOption(args).isEmpty())
        return usageError(QStringLiteral("unknown option %1").arg(unknownOption(args)));
    if (args.size() != 1)
        return usageError(QStringLiteral("signin takes one e-mail address"));
    const QString email = args.first().trimmed();
    if (!validEmail(email))
        return usageError(QStringLiteral("not an e-mail address: %1").arg(email));
    const std::optional<QString> password = readPassword(email, fromStdin);
    if (!password || password->isEmpty())
        return usageError(QStringLiteral("no password given"));
    if (const int code = client.signIn(email, *password))
        return code;
    client.service().updateInfo();
    printOut(QStringLiteral("Signed in as %1 on %2").arg(email, CliClient::serverText()));
    // Every later command starts from what is stored: a sign-in kept nowhere is worth nothing to them.
    if (!Credentials::storedCredentials().token)
        return fail(
            QStringLiteral("the sign-in could not be kept, so the next command will not be signed in"));
    return kExitOk;
}

int signUpCommand(CliClient &client, QStringList args) {
    const bool fromStdin = takeFlag(args, QStringLiteral("--password-stdin"));
    const bool accepted = takeFlag(args, QStringLiteral("--accept-terms"));
    if (!unknownOption(args).isEmpty())
        return usageError(QStringLiteral("unknown option %1").arg(unknownOption(args)));
    if (args.size() != 3)
        return usageError(QStringLiteral("signup takes FIRST-NAME LAST-NAME EMAIL"));
    const QString email = args.at(2).trimmed();
    if (!validEmail(email))
        return usageError(QStringLiteral("not an e-mail address: %1").arg(email));
    if (const int code = client.reachServer())
        return code;
    if (!accepted) {
        // The update check is where the service announces its terms.
        const APIResult update = client.service().fetchUpdateInfo();
        QString terms = update.value(QString::fromLatin1(TermsKey::Tos))
                            .toMap()
                            .value(QString::fromLatin1(TermsKey::Uri))
                            .toString();
        if (!terms.isEmpty())
            terms = SiteResources::resolveServiceURL(terms);
        printNote(QStringLiteral("Signing up means accepting the terms of service%1.")
                      .arg(terms.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(terms)));
        return usageError(QStringLiteral("add --accept-terms to accept them"));
    }
    const std::optional<QString> password = readPassword(email, fromStdin, true);
    if (!password)
        return usageError(QStringLiteral("no password given, or the two did not match"));
    if (password->size() < kMinimumPasswordLength)
        return usageError(
            QStringLiteral("the password needs at least %1 characters").arg(kMinimumPasswordLength));
    const APIResult answer
        = client.service().registration(registrationFields(email, args.at(0), args.at(1), *password));
    if (answer.isError())
        return fail(QStringLiteral("signing up %1 failed: %2").arg(email, registrationErrorText(answer)));
    // The new account takes over from whoever was signed in here.
    if (storedUser()) {
        client.service().forgetToken();
        client.service().disconnect();
    }
    Prefs::setPref(email, QString::fromLatin1(PrefKey::UserName));
    printOut(QStringLiteral("Created the account %1").arg(email));
    printNote(localizedFormat("[YouGotMail]", {email}));
    printNote(QStringLiteral("Then sign in with \"%1 signin %2\".").arg(QLatin1String(kProgramName), email));
    return kExitOk;
}

int signOutCommand(CliClient &client, QStringList args) {
    if (!args.isEmpty())
        return usageError(QStringLiteral("signout takes no arguments"));
    const std::optional<QString> user = storedUser();
    if (!user) {
        printOut(QStringLiteral("Not signed in"));
        return kExitOk;
    }
    client.service().forgetToken();
    client.service().disconnect();
    printOut(QStringLiteral("Signed out %1").arg(*user));
    return kExitOk;
}

int whoAmICommand(CliClient &client, QStringList args) {
    if (!args.isEmpty())
        return usageError(QStringLiteral("whoami takes no arguments"));
    const StoredCredentials stored = Credentials::storedCredentials();
    if (!stored.userName || !stored.token) {
        printOut(QStringLiteral("Not signed in (server %1)").arg(CliClient::serverText()));
        return kExitFailed;
    }
    const QString user = *stored.userName;
    const QString kept = stored.place == TokenPlace::Keyring
        ? QStringLiteral("Sign-in kept in the keyring (%1, account %2)")
              .arg(QLatin1String(Keyring::kService), Credentials::keyringAccount(user))
        : QStringLiteral("Sign-in kept in %1 (no keyring is running)").arg(Prefs::storePath());
    Service &service = client.service();
    service.useIdentity(user, *stored.token);
    const APIResult root = service.rootInfo();
    if (root.isError()) {
        printOut(QStringLiteral("%1 on %2").arg(user, CliClient::serverText()));
        printOut(kept);
        printNote(QStringLiteral("The server cannot be reached right now: %1").arg(describeFailure(root)));
        return kExitOk;
    }
    const QString name = root.value(QStringLiteral("user")).toMap().value(QStringLiteral("name")).toString();
    if (name.isEmpty()) {
        printOut(QStringLiteral("%1 on %2").arg(user, CliClient::serverText()));
        printOut(kept);
        return fail(QStringLiteral("the server no longer accepts this sign-in; run \"%1 signin %2\"")
                        .arg(QLatin1String(kProgramName), user));
    }
    printOut(QStringLiteral("%1 <%2> on %3").arg(name, user, CliClient::serverText()));
    printOut(kept);
    return kExitOk;
}

int configCommand(CliClient &, QStringList args) {
    if (args.size() > 2)
        return usageError(QStringLiteral("config takes at most a key and a value"));
    if (args.isEmpty()) {
        for (const PrefKeyInfo &info : Prefs::keyTable()) {
            const QVariant stored = Prefs::prefForKey(info.key);
            QString shown;
            if (stored.isValid())
                shown = isSecret(info.key)
                    ? QStringLiteral("(hidden)")
                    : valueText(stored).replace(QLatin1Char('\n'), QStringLiteral(", "));
            else if (info.defaultValue.isValid())
                shown = valueText(info.defaultValue).replace(QLatin1Char('\n'), QStringLiteral(", "))
                    + QStringLiteral(" (default)");
            else
                shown = QStringLiteral("(not set)");
            printOut(QStringLiteral("%1 = %2").arg(info.key, shown));
        }
        return kExitOk;
    }
    const QString key = args.first();
    const PrefKeyInfo *info = Prefs::keyInfo(key);
    if (!info)
        return usageError(QStringLiteral("no such setting: %1").arg(key));
    if (isSecret(key))
        return fail(QStringLiteral("%1 is kept secret").arg(key), kExitUsage);
    const QString storedKey = info->userScoped ? Prefs::userKey(key) : key;
    if (args.size() == 1) {
        const QVariant value = Prefs::prefForKey(storedKey, info->defaultValue);
        if (value.isValid())
            printOut(valueText(value));
        return kExitOk;
    }
    const QString text = args.at(1);
    using T = PrefKeyInfo::Type;
    QVariant value;
    bool ok = true;
    switch (info->type) {
    case T::String:
        value = text;
        break;
    case T::Integer:
        value = text.toInt(&ok);
        break;
    case T::Real:
        value = text.toDouble(&ok);
        break;
    case T::Boolean: {
        const QString t = text.toLower();
        ok = QStringList {"true", "false", "yes", "no", "1", "0", "on", "off"}.contains(t);
        value = t == QLatin1String("true") || t == QLatin1String("yes") || t == QLatin1String("1")
            || t == QLatin1String("on");
        break;
    }
    case T::Date:
    case T::Array:
    case T::Dictionary:
        return fail(QStringLiteral("%1 is not set from the command line").arg(key), kExitUsage);
    }
    if (!ok)
        return usageError(QStringLiteral("%1 takes %2, not \"%3\"")
                              .arg(key,
                                  info->type == T::Boolean       ? QStringLiteral("true or false")
                                      : info->type == T::Integer ? QStringLiteral("a whole number")
                                                                 : QStringLiteral("a number"),
                                  text));
    if (!Prefs::setPref(value, storedKey))
        return fail(QStringLiteral("could not store %1 in %2").arg(key, Prefs::storePath()));
    return kExitOk;
}

bool takeFlag(QStringList &args, const QString &flag) {
    return args.removeAll(flag) > 0;
}

QString unknownOption(const QStringList &args) {
    for (const QString &arg : args) {
        if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1)
            return arg;
    }
    return {};
}

} // namespace lf::cli
