#include "DevClient.h"

#include <QImage>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

namespace lf::test {
namespace {

class SitesTest : public DevServerTest {
protected:
    // Opens a web flow page and answers it; returns the redirect target.
    QUrl decide(const std::string &page, const httplib::Headers &headers, const QString &decision,
        const QString &email = {}) {
        const Answer shown = client->get(page, headers);
        EXPECT_EQ(shown.status, 200) << shown.body.constData();
        const QRegularExpressionMatch ticket
            = QRegularExpression(QStringLiteral(R"re(name="ticket" value="([0-9a-f]+)")re"))
                  .match(QString::fromUtf8(shown.body));
        const QRegularExpressionMatch action = QRegularExpression(QStringLiteral(R"re(action="([^"]+)")re"))
                                                   .match(QString::fromUtf8(shown.body));
        if (!ticket.hasMatch() || !action.hasMatch())
            return {};
        const QByteArray form = "ticket=" + ticket.captured(1).toLatin1() + "&decision=" + decision.toLatin1()
            + "&email=" + QUrl::toPercentEncoding(email);
        const Answer answer
            = client->post(action.captured(1).toStdString(), form, {}, "application/x-www-form-urlencoded");
        EXPECT_EQ(answer.status, 302);
        return QUrl(QString::fromStdString(answer.header("Location")));
    }
    static QString param(const QUrl &url, const char *key) {
        return QUrlQuery(url)
            .queryItemValue(QLatin1String(key), QUrl::FullyDecoded)
            .replace(QLatin1Char('+'), QLatin1Char(' '));
    }
    QJsonObject site(const httplib::Headers &headers, const QString &name) {
        for (const QJsonValue &s :
            client->get("/api/user/services", headers).object().value(QStringLiteral("services")).toArray()) {
            if (s.toObject().value(QStringLiteral("name")).toString() == name)
                return s.toObject();
        }
        return {};
    }
};

TEST_F(SitesTest, ServicesListDestinationsAndAddressSources) {
    const httplib::Headers demo = client->demo();
    const QJsonArray services
        = client->get("/api/user/services", demo).object().value(QStringLiteral("services")).toArray();
    ASSERT_GE(services.size(), 3);
    int connected = 0;
    for (const QJsonValue &value : services) {
        const QJsonObject s = value.toObject();
        connected += s.value(QStringLiteral("connected")).toBool();
        EXPECT_TRUE(s.value(QStringLiteral("uri")).toString().startsWith(server->baseUrl()));
        const QString icon = s.value(QStringLiteral("icon_url")).toString();
        ASSERT_TRUE(icon.startsWith(QLatin1Char('/')));
        const Answer png = client->get(icon.toStdString(), {});
        EXPECT_EQ(png.header("Content-Type"), "image/png");
        EXPECT_FALSE(QImage::fromData(png.body, "PNG").isNull());
    }
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(site(demo, QStringLiteral("photostream"))
                  .value(QStringLiteral("capabilities"))
                  .toObject()
                  .value(QStringLiteral("destination"))
                  .toInt(),
        1);
}

TEST_F(SitesTest, LinkingPageLinksOnAllowAndReportsDeny) {
    const httplib::Headers demo = client->demo();
    const std::string page = "/sites/addressly?callback=lanternfish%3A%2F%2Fcallback%2Faddressly";
    const QUrl denied = decide(page, demo, QStringLiteral("deny"));
    EXPECT_EQ(denied.toString(QUrl::RemoveQuery), QStringLiteral("lanternfish://callback/addressly"));
    EXPECT_EQ(param(denied, "error"), QStringLiteral("access_denied"));
    EXPECT_FALSE(site(demo, QStringLiteral("addressly")).value(QStringLiteral("connected")).toBool());

    const QUrl allowed = decide(page, demo, QStringLiteral("allow"));
    EXPECT_FALSE(param(allowed, "notice").isEmpty());
    EXPECT_FALSE(QUrlQuery(allowed).hasQueryItem(QStringLiteral("error")));
    EXPECT_TRUE(site(demo, QStringLiteral("addressly")).value(QStringLiteral("connected")).toBool());

    // Without a signed-in user the flow ends at once with an error; other schemes are refused.
    const Answer anonymous = client->get(page, {});
    EXPECT_EQ(anonymous.status, 302);
    EXPECT_FALSE(param(QUrl(QString::fromStdString(anonymous.header("Location"))), "error").isEmpty());
    EXPECT_EQ(client->get("/sites/addressly?callback=http%3A%2F%2Fevil.example%2F", demo).status, 400);
    // A ticket is good for one decision only.
    EXPECT_EQ(client
                  ->post("/sites/addressly/authorize", "ticket=0123&decision=allow", {},
                      "application/x-www-form-urlencoded")
                  .status,
        400);

    const std::string uri = site(demo, QStringLiteral("addressly"))
                                .value(QStringLiteral("uri"))
                                .toString()
                                .mid(server->baseUrl().size())
                                .toStdString();
    EXPECT_EQ(client->del(uri, demo).status, 200);
    EXPECT_FALSE(site(demo, QStringLiteral("addressly")).value(QStringLiteral("connected")).toBool());
    EXPECT_EQ(client->del("/sites/nosuchsite", demo).status, 404);
}

TEST_F(SitesTest, SocialSignInGivesATokenForTheVouchedAddress) {
    const std::string page = "/sites/chirp?source=linux&callback=lanternfish%3A%2F%2Fcallback.chirp";
    const httplib::Headers anonymous {
        {"X-Lanternfish-Version", "0"}, {"X-Lanternfish-User", "{\"client_id\":\"CLIENT-9\"}"}};
    const QUrl callback
        = decide(page, anonymous, QStringLiteral("allow"), QStringLiteral("new.bird@example.org"));
    EXPECT_EQ(callback.toString(QUrl::RemoveQuery), QStringLiteral("lanternfish://callback.chirp"));
    const QString email = param(callback, "email");
    const QString token = param(callback, "user_token");
    EXPECT_EQ(email, QStringLiteral("new.bird@example.org"));
    EXPECT_EQ(
        client->get("/api/user/profile", DevClient::user(email, token, QStringLiteral("CLIENT-9"))).status,
        200);

    EXPECT_EQ(
        param(decide(page, anonymous, QStringLiteral("deny")), "error"), QStringLiteral("access_denied"));
}

TEST_F(SitesTest, ExternalContactsComeInPagesWithTotal) {
    const httplib::Headers demo = client->demo();
    const std::string contacts = site(demo, QStringLiteral("addressly"))
                                     .value(QStringLiteral("contacts"))
                                     .toObject()
                                     .value(QStringLiteral("uri"))
                                     .toString()
                                     .mid(server->baseUrl().size())
                                     .toStdString();
    ASSERT_FALSE(contacts.empty());
    EXPECT_EQ(client->get(contacts + "?start=0&count=10000", demo).status, 403); // not linked yet
    decide(
        "/sites/addressly?callback=lanternfish%3A%2F%2Fcallback%2Faddressly", demo, QStringLiteral("allow"));

    int start = 0;
    int total = -1;
    int withoutEmail = 0;
    do {
        const QJsonObject page
            = client->get(contacts + "?start=" + std::to_string(start) + "&count=50", demo).object();
        total = page.value(QStringLiteral("total")).toInt();
        const QJsonArray items = page.value(QStringLiteral("external_contacts")).toArray();
        ASSERT_FALSE(items.isEmpty());
        for (const QJsonValue &item : items) {
            const QJsonObject contact = item.toObject().value(QStringLiteral("external_contact")).toObject();
            EXPECT_FALSE(contact.value(QStringLiteral("name")).toString().isEmpty());
            withoutEmail += contact.value(QStringLiteral("email")).isNull();
        }
        start += int(items.size());
    } while (start < total);
    EXPECT_EQ(start, total);
    EXPECT_GT(withoutEmail, 0);
    EXPECT_EQ(client->get(contacts + "?start=" + std::to_string(total) + "&count=10", demo)
                  .object()
                  .value(QStringLiteral("external_contacts"))
                  .toArray()
                  .size(),
        0);
    EXPECT_EQ(client->get(contacts + "?start=-1&count=10", demo).status, 422);
    EXPECT_EQ(client->get(contacts + "?start=0&count=ten", demo).status, 422);
}

} // namespace
} // namespace lf::test
