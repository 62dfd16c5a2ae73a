// Linked sites: records, linking and social sign-in pages, unlinking, external contacts, icons.
#include "Assets.h"
#include "Pages.h"
#include "Service.h"
#include "Sites.h"
#include "Wire.h"

#include <QDateTime>
#include <QUrl>

namespace lf::dev {

namespace {

constexpr qint64 kTicketLifetime = 15 * 60;
constexpr int kDefaultPage = 100;
constexpr int kMaxPage = 10000;

QString formEscape(const QString &text) {
    // Spaces as "+", as the client reads them back.
    return QString::fromLatin1(QUrl::toPercentEncoding(text, " "))
        .replace(QLatin1Char(' '), QLatin1Char('+'));
}

QString callbackUrl(const QString &callback, const QList<std::pair<const char *, QString>> &pairs) {
    QString url = callback;
    QChar joiner = callback.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?');
    for (const auto &[key, value] : pairs) {
        url += joiner + QLatin1String(key) + QLatin1Char('=') + formEscape(value);
        joiner = QLatin1Char('&');
    }
    return url;
}

bool plausibleAddress(const QString &email) {
    const int at = email.indexOf(QLatin1Char('@'));
    return at > 0 && at == email.lastIndexOf(QLatin1Char('@')) && email.indexOf(QLatin1Char('.'), at) > at + 1
        && !email.contains(QLatin1Char(' ')) && email.size() <= 254;
}

} // namespace

QJsonObject Service::siteRecord(const Call &call, const SiteDef &site, bool connected) const {
    const QString name = QLatin1String(site.name);
    QJsonObject record {{QStringLiteral("name"), name},
        {QStringLiteral("display_name"), QLatin1String(site.displayName)},
        {QStringLiteral("connected"), connected},
        {QStringLiteral("capabilities"),
            QJsonObject {{QStringLiteral("destination"), site.destination ? 1 : 0},
                {QStringLiteral("address_source"), site.addressSource ? 1 : 0}}},
        {QStringLiteral("uri"), call.baseUrl + QLatin1String(wire::kSitesPath) + name},
        {QStringLiteral("icon_url"), QLatin1String(wire::kSiteIconsPath) + name + QStringLiteral(".png")},
        {QStringLiteral("signin_icon_url"),
            site.signIn
                ? QJsonValue(QLatin1String(wire::kSiteIconsPath) + name + QStringLiteral("_connect.png"))
                : QJsonValue(QJsonValue::Null)}};
    if (site.addressSource) {
        record.insert(QStringLiteral("contacts"),
            QJsonObject {{QStringLiteral("uri"),
                call.baseUrl + QLatin1String(wire::kServicesPath) + QLatin1Char('/') + name
                    + QStringLiteral("/contacts")}});
    }
    return record;
}

void Service::services(Call &call) {
    QJsonArray list;
    for (const SiteDef &site : siteTable()) {
        if (site.destination || site.addressSource)
            list.append(siteRecord(call, site, m_store.isLinked(call.user->id, QLatin1String(site.name))));
    }
    call.json(200, QJsonObject {{QStringLiteral("services"), list}});
}

void Service::siteContacts(Call &call) {
    const SiteDef *site = findSite(call.args.value(0));
    if (!site || !site->addressSource) {
        call.error(404, QStringLiteral("No such address source"));
        return;
    }
    if (!m_store.isLinked(call.user->id, QLatin1String(site->name))) {
        call.error(
            403, QStringLiteral("Link %1 to your account first").arg(QLatin1String(site->displayName)));
        return;
    }
    bool startOk = true, countOk = true;
    const QString startText = call.query("start");
    const QString countText = call.query("count");
    const int start = startText.isEmpty() ? 0 : startText.toInt(&startOk);
    const int count = countText.isEmpty() ? kDefaultPage : countText.toInt(&countOk);
    if (!startOk || !countOk || start < 0 || count < 1) {
        call.error(422, QStringLiteral("start and count must be whole numbers, count at least 1"));
        return;
    }
    const int total = externalContactCount(*site);
    const int end = int(std::min<qint64>(total, qint64(start) + std::min(count, kMaxPage)));
    QJsonArray items;
    for (int i = start; i < end; ++i)
        items.append(QJsonObject {{QStringLiteral("external_contact"), externalContact(*site, i)}});
    call.json(200,
        QJsonObject {{QStringLiteral("total"), total}, {QStringLiteral("start"), start},
            {QStringLiteral("count"), qint64(items.size())}, {QStringLiteral("external_contacts"), items}});
}

QString Service::newTicket(Ticket ticket) {
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    ticket.expires = now + kTicketLifetime;
    const QString id = randomToken();
    std::lock_guard lock(m_ticketMutex);
    std::erase_if(m_tickets, [now](const auto &item) { return item.second.expires < now; });
    m_tickets.emplace(id, std::move(ticket));
    return id;
}

void Service::signInChoicePage(
    Call &call, const SiteDef &site, const QString &ticket, const QString &problem) {
    const QString shown = htmlEscape(QLatin1String(site.displayName));
    call.html(200, QStringLiteral("Sign in with %1").arg(QLatin1String(site.displayName)),
        QStringLiteral(
            "<p>%1 will tell Lanternfish the e-mail address of your %1 account. A Lanternfish account "
            "is made for it when there is none yet.</p>%2"
            "<form method=\"post\" action=\"/sites/%3/authorize\">"
            "<input type=\"hidden\" name=\"ticket\" value=\"%4\">"
            "<label for=\"email\">E-mail address at %1</label>"
            "<input id=\"email\" name=\"email\" type=\"email\" required>"
            "<p><button name=\"decision\" value=\"allow\">Allow</button>"
            "<button name=\"decision\" value=\"deny\" formnovalidate>Deny</button></p></form>")
            .arg(shown,
                problem.isEmpty() ? QString()
                                  : QStringLiteral("<p class=\"problem\">%1</p>").arg(htmlEscape(problem)),
                QLatin1String(site.name), ticket));
}

void Service::sitePage(Call &call) {
    const SiteDef *site = findSite(call.args.value(0));
    if (!site) {
        call.html(404, QStringLiteral("Unknown site"),
            QStringLiteral("<p>Lanternfish does not know this site.</p>"));
        return;
    }
    QString callback = call.query("callback");
    if (!callback.startsWith(QLatin1String(wire::kCallbackPrefix))) {
        call.html(400, QStringLiteral("Open this page from Lanternfish"),
            QStringLiteral(
                "<p>This page belongs to the Lanternfish application and cannot be used on its own.</p>"));
        return;
    }
    // The client's per-flow state goes back with every answer of this flow, as OAuth does.
    if (const QString state = call.query("state"); !state.isEmpty())
        callback = callbackUrl(callback, {{"state", state}});
    const QString shown = QLatin1String(site->displayName);
    if (call.req.has_param("source")) {
        if (!site->signIn) {
            call.redirect(
                callbackUrl(callback, {{"error", QStringLiteral("%1 does not offer sign-in").arg(shown)}}));
            return;
        }
        Ticket ticket {QLatin1String(site->name), callback, 0,
            call.userHeader.value(QLatin1String(wire::kClientId)).toString(), 0};
        signInChoicePage(call, *site, newTicket(ticket), QString());
        return;
    }
    if (!site->destination && !site->addressSource) {
        call.redirect(callbackUrl(callback, {{"error", QStringLiteral("%1 cannot be linked").arg(shown)}}));
        return;
    }
    const QString email = call.userHeader.value(QLatin1String(wire::kEmail)).toString();
    const std::optional<User> user
        = m_store.userForToken(email, call.userHeader.value(QLatin1String(wire::kUserToken)).toString());
    if (!user) {
        call.redirect(
            callbackUrl(callback, {{"error", QStringLiteral("Please sign in to Lanternfish first")}}));
        return;
    }
    const QString ticket = newTicket(Ticket {QLatin1String(site->name), callback, user->id, QString(), 0});
    const QString use = site->addressSource ? QStringLiteral("read your %1 contacts").arg(shown)
                                            : QStringLiteral("share photos to %1 for you").arg(shown);
    call.html(200, QStringLiteral("Link %1").arg(shown),
        QStringLiteral("<p>Allow Lanternfish to %1? You are signed in to Lanternfish as %2.</p>"
                       "<form method=\"post\" action=\"/sites/%3/authorize\">"
                       "<input type=\"hidden\" name=\"ticket\" value=\"%4\">"
                       "<p><button name=\"decision\" value=\"allow\">Allow</button>"
                       "<button name=\"decision\" value=\"deny\">Deny</button></p></form>")
            .arg(htmlEscape(use), htmlEscape(user->email), QLatin1String(site->name), ticket));
}

void Service::siteAuthorize(Call &call) {
    const QMap<QString, QString> form = call.formBody();
    const SiteDef *site = findSite(call.args.value(0));
    std::optional<Ticket> ticket;
    {
        std::lock_guard lock(m_ticketMutex);
        const auto it = m_tickets.find(form.value(QStringLiteral("ticket")));
        if (it != m_tickets.end()) {
            ticket = it->second;
            m_tickets.erase(it); // one decision per page
        }
    }
    if (!site || !ticket || ticket->site != QLatin1String(site->name)
        || ticket->expires < QDateTime::currentSecsSinceEpoch()) {
        call.html(400, QStringLiteral("This page has expired"),
            QStringLiteral("<p>Please start again from the Lanternfish application.</p>"));
        return;
    }
    if (form.value(QStringLiteral("decision")) != QLatin1String("allow")) {
        call.redirect(callbackUrl(ticket->callback, {{"error", QLatin1String(wire::kAccessDenied)}}));
        return;
    }
    const QString shown = QLatin1String(site->displayName);
    if (ticket->userId != 0) {
        m_store.link(ticket->userId, QLatin1String(site->name));
        call.redirect(callbackUrl(
            ticket->callback, {{"notice", QStringLiteral("%1 is now linked to Lanternfish").arg(shown)}}));
        return;
    }
    const QString email = form.value(QStringLiteral("email")).trimmed();
    if (!plausibleAddress(email)) {
        signInChoicePage(
            call, *site, newTicket(*ticket), QStringLiteral("Please enter a valid e-mail address."));
        return;
    }
    const User user = m_store.socialUser(email, QLatin1String(site->name));
    if (user.id == 0) {
        call.redirect(
            callbackUrl(ticket->callback, {{"error", QStringLiteral("Sign-in failed, please try again")}}));
        return;
    }
    const QString token = m_store.issueToken(user.id, ticket->clientId);
    call.redirect(callbackUrl(ticket->callback,
        {{"notice", QStringLiteral("Signed in with %1").arg(shown)}, {"user_token", token},
            {"email", user.email}}));
}

void Service::unlinkSite(Call &call) {
    const SiteDef *site = findSite(call.args.value(0));
    if (!site) {
        call.error(404, QStringLiteral("No such site"));
        return;
    }
    const bool wasLinked = m_store.unlink(call.user->id, QLatin1String(site->name));
    call.json(200,
        QJsonObject {
            {QStringLiteral("name"), QLatin1String(site->name)}, {QStringLiteral("unlinked"), wasLinked}});
}

void Service::siteIcon(Call &call) {
    const SiteDef *site = findSite(call.args.value(0));
    if (!site) {
        call.error(404, QStringLiteral("No such icon"));
        return;
    }
    call.bytes(200, "image/png", iconPng(site->colour, !call.args.value(1).isEmpty()));
}

} // namespace lf::dev
