// Root document, accounts and the address book.
#include "Pages.h"
#include "Service.h"
#include "Sites.h"
#include "Wire.h"

namespace lf::dev {

namespace {

constexpr char kEntryField[] = "user_address_book_entry[%1]";

} // namespace

void Service::root(Call &call) {
    QJsonArray signInSites;
    for (const SiteDef &site : siteTable()) {
        if (site.signIn)
            signInSites.append(siteRecord(call, site, false));
    }
    QJsonObject out {
        {QStringLiteral("authentication"), QJsonObject {{QStringLiteral("services"), signInSites}}}};
    const QString email = call.userHeader.value(QLatin1String(wire::kEmail)).toString();
    const QString token = call.userHeader.value(QLatin1String(wire::kUserToken)).toString();
    // Only a valid token gets the user's links; any other caller sees the anonymous document.
    if (const std::optional<User> known
        = email.isEmpty() ? std::nullopt : m_store.userForToken(email, token)) {
        out.insert(QStringLiteral("user"),
            QJsonObject {{QStringLiteral("name"), known->name()}, {QStringLiteral("email"), known->email},
                {QStringLiteral("roles"), QJsonArray::fromStringList(known->roles)},
                {QStringLiteral("bundles"),
                    QJsonObject {{QStringLiteral("uri"), call.baseUrl + QLatin1String(wire::kBundlesPath)}}},
                {QStringLiteral("services"),
                    QJsonObject {
                        {QStringLiteral("uri"), call.baseUrl + QLatin1String(wire::kServicesPath)}}}});
    }
    call.json(200, out);
}

void Service::signInPage(Call &call) {
    call.html(200, QStringLiteral("Sign in to Lanternfish"),
        QStringLiteral(
            "<p>Sign in from the Lanternfish application with your e-mail address and password.</p>"
            "<p><a href=\"/password_resets/new\">Forgot your password?</a></p>"));
}

void Service::verify(Call &call) {
    const QString email = call.userHeader.value(QLatin1String(wire::kEmail)).toString();
    const QJsonValue password = call.userHeader.value(QLatin1String(wire::kPassword));
    if (email.isEmpty() || !password.isString()) {
        call.error(401, QStringLiteral("E-mail address and password are required"));
        return;
    }
    User user;
    switch (m_store.checkPassword(email, password.toString(), &user)) {
    case Store::PasswordCheck::UnknownUser:
    case Store::PasswordCheck::WrongPassword:
        call.error(401, QStringLiteral("Invalid e-mail address or password"));
        return;
    case Store::PasswordCheck::Unconfirmed:
        call.error(
            403, QStringLiteral("Please confirm your e-mail address first: follow the link we sent you"));
        return;
    case Store::PasswordCheck::Ok:
        break;
    }
    const QString clientId = call.userHeader.value(QLatin1String(wire::kClientId)).toString();
    const QJsonObject info = call.userHeader.value(QLatin1String(wire::kClientInfo)).toObject();
    if (!info.isEmpty())
        m_store.storeClientInfo(user.id, clientId, info);
    call.json(200,
        QJsonObject {{QLatin1String(wire::kUserToken), m_store.issueToken(user.id, clientId)},
            {QLatin1String(wire::kEmail), user.email}});
}

void Service::profile(Call &call) {
    const User &u = *call.user;
    call.json(200,
        QJsonObject {{QStringLiteral("al"), u.accessToken}, {QStringLiteral("email"), u.email},
            {QStringLiteral("name"), u.name()}, {QStringLiteral("first_name"), u.firstName},
            {QStringLiteral("last_name"), u.lastName},
            {QStringLiteral("roles"), QJsonArray::fromStringList(u.roles)}});
}

void Service::signUp(Call &call) {
    const std::optional<QJsonObject> body = call.jsonBody();
    if (!body)
        return;
    if (!body->value(QLatin1String("user")).isObject()) {
        call.json(422, QJsonArray {QJsonArray {QStringLiteral("user"), QStringLiteral("is missing")}});
        return;
    }
    call.reply(m_store.signUp(*body));
}

void Service::updateInfo(Call &call) {
    const std::optional<QJsonObject> body = call.jsonBody();
    if (!body)
        return;
    m_store.storeClientInfo(
        call.user->id, call.userHeader.value(QLatin1String(wire::kClientId)).toString(), *body);
    call.json(200, QJsonObject {});
}

void Service::listContacts(Call &call) {
    call.json(200, m_store.addressBook(call.user->id));
}

void Service::addContact(Call &call) {
    call.reply(m_store.addContact(call.user->id, call.query("user_address_book_entry[name]"),
        call.query("user_address_book_entry[email]")));
}

void Service::getContact(Call &call) {
    call.reply(m_store.contact(call.user->id, call.args.value(0)));
}

void Service::updateContact(Call &call) {
    QMap<QString, QString> fields;
    for (const char *field : {"email", "name", "version", "last_used"}) {
        const std::string key = QString::fromLatin1(kEntryField).arg(QLatin1String(field)).toStdString();
        if (call.req.has_param(key.c_str()))
            fields.insert(QLatin1String(field), call.query(key.c_str()));
    }
    if (fields.isEmpty()) {
        call.error(422, QStringLiteral("Nothing to update"));
        return;
    }
    call.reply(m_store.updateContact(call.user->id, call.args.value(0), fields));
}

void Service::deleteContact(Call &call) {
    call.reply(m_store.deleteContact(call.user->id, call.args.value(0)));
}

void Service::addGroup(Call &call) {
    if (const std::optional<QJsonObject> group = call.jsonObject("address_book_group"))
        call.reply(m_store.addGroup(call.user->id, *group));
}

void Service::updateGroup(Call &call) {
    if (const std::optional<QJsonObject> group = call.jsonObject("address_book_group"))
        call.reply(m_store.updateGroup(call.user->id, call.args.value(0), *group));
}

void Service::deleteGroup(Call &call) {
    call.reply(m_store.deleteGroup(call.user->id, call.args.value(0)));
}

} // namespace lf::dev
