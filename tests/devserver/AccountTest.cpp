#include "DevClient.h"

namespace lf::test {
namespace {

using AccountTest = DevServerTest;

const QString kDemo = QStringLiteral("demo@lanternfish.test");

TEST_F(AccountTest, UserResourcesNeedAKnownEmailAndItsToken) {
    const QString token = client->signIn(kDemo, QStringLiteral("lanternfish"));
    ASSERT_EQ(token.size(), 40);
    EXPECT_EQ(client->get("/api/user/profile", DevClient::user(kDemo, token)).status, 200);

    const httplib::Headers refused[] = {
        DevClient::versionOnly(),
        DevClient::user(kDemo, QStringLiteral("0000")),
        DevClient::user(QStringLiteral("ann.friend@lanternfish.test"), token),
        DevClient::user(QStringLiteral("nobody@lanternfish.test"), token),
        {{"X-Lanternfish-Version", "0"}, {"X-Lanternfish-User", "{not json"}},
    };
    for (const httplib::Headers &headers : refused) {
        const Answer answer = client->get("/api/user/profile", headers);
        EXPECT_EQ(answer.status, 401);
        EXPECT_FALSE(answer.errorText().isEmpty());
    }
    // The protocol version header is required on the API.
    httplib::Headers noVersion = DevClient::user(kDemo, token);
    noVersion.erase("X-Lanternfish-Version");
    EXPECT_EQ(client->get("/api/user/profile", noVersion).status, 400);
}

TEST_F(AccountTest, VerifyAnswersTokenWrongPasswordAndUnconfirmedAccounts) {
    const Answer ok = client->get(
        "/api/user/verify", DevClient::identity(kDemo.toUpper(), QStringLiteral("lanternfish")));
    EXPECT_EQ(ok.status, 200);
    // The same installation keeps its token; another one gets its own.
    EXPECT_EQ(ok.object().value(QStringLiteral("user_token")).toString(),
        client->signIn(kDemo, QStringLiteral("lanternfish")));
    const Answer other = client->get("/api/user/verify",
        DevClient::identity(kDemo, QStringLiteral("lanternfish"), QStringLiteral("CLIENT-2")));
    EXPECT_NE(
        other.object().value(QStringLiteral("user_token")), ok.object().value(QStringLiteral("user_token")));

    EXPECT_EQ(
        client->get("/api/user/verify", DevClient::identity(kDemo, QStringLiteral("wrong"))).status, 401);
    EXPECT_EQ(client
                  ->get("/api/user/verify",
                      DevClient::identity(QStringLiteral("x@y.z"), QStringLiteral("lanternfish")))
                  .status,
        401);
    // A user object (token instead of password) is not an identity.
    EXPECT_EQ(client->get("/api/user/verify", DevClient::user(kDemo, QStringLiteral("t"))).status, 401);

    const QString pending = QStringLiteral("pending@lanternfish.test");
    const Answer unconfirmed
        = client->get("/api/user/verify", DevClient::identity(pending, QStringLiteral("lanternfish")));
    EXPECT_EQ(unconfirmed.status, 403);
    EXPECT_FALSE(unconfirmed.errorText().isEmpty());
    EXPECT_EQ(
        client->postJson("/__dev/users/confirm", QJsonObject {{QStringLiteral("email"), pending}}).status,
        200);
    EXPECT_FALSE(client->signIn(pending, QStringLiteral("lanternfish")).isEmpty());
}

TEST_F(AccountTest, SignUpMakesAnUnconfirmedAccountOrListsProblems) {
    auto signUp = [this](const QString &email, const QString &password, const QString &confirmation) {
        return client->postJson("/api/user",
            QJsonObject {{QStringLiteral("user"),
                             QJsonObject {{QStringLiteral("request_address"), email},
                                 {QStringLiteral("first_name"), QStringLiteral("New")},
                                 {QStringLiteral("last_name"), QStringLiteral("Person")},
                                 {QStringLiteral("password"), password},
                                 {QStringLiteral("password_confirmation"), confirmation},
                                 {QStringLiteral("tos_accepted"), 1}}},
                {QStringLiteral("client_id"), QStringLiteral("CLIENT-1")},
                {QStringLiteral("client_info"),
                    QJsonObject {{QStringLiteral("os"), QStringLiteral("linux")}}}},
            {{"X-Lanternfish-Version", "0"}, {"X-Lanternfish-User", "{}"}});
    };
    const QString email = QStringLiteral("new.person@example.org");
    EXPECT_EQ(signUp(email, QStringLiteral("secret"), QStringLiteral("secret")).status, 201);
    EXPECT_EQ(
        client->get("/api/user/verify", DevClient::identity(email, QStringLiteral("secret"))).status, 403);

    const Answer taken = signUp(email.toUpper(), QStringLiteral("abc"), QStringLiteral("abd"));
    ASSERT_EQ(taken.status, 422);
    QStringList fields;
    for (const QJsonValue &pair : taken.array()) {
        ASSERT_EQ(pair.toArray().size(), 2);
        fields.append(pair.toArray().at(0).toString());
    }
    EXPECT_EQ(fields,
        (QStringList {QStringLiteral("request_address"), QStringLiteral("password"),
            QStringLiteral("password_confirmation")}));

    EXPECT_EQ(client->post("/api/user", "{\"user\": ", DevClient::versionOnly()).status, 400);
}

TEST_F(AccountTest, RootShowsTheUserOnlyWithAValidToken) {
    const Answer anonymous
        = client->get("/", {{"X-Lanternfish-Version", "0"}, {"X-Lanternfish-User", "{\"client_id\":\"C\"}"}});
    ASSERT_EQ(anonymous.status, 200);
    EXPECT_FALSE(anonymous.object().contains(QStringLiteral("user")));
    const QJsonArray signIn = anonymous.object()
                                  .value(QStringLiteral("authentication"))
                                  .toObject()
                                  .value(QStringLiteral("services"))
                                  .toArray();
    ASSERT_FALSE(signIn.isEmpty());
    EXPECT_TRUE(signIn.at(0).toObject().value(QStringLiteral("signin_icon_url")).isString());

    const QJsonObject user
        = client->get("/", client->demo()).object().value(QStringLiteral("user")).toObject();
    EXPECT_EQ(user.value(QStringLiteral("name")).toString(), QStringLiteral("Demo User"));
    EXPECT_EQ(user.value(QStringLiteral("roles")).toArray(), QJsonArray());
    EXPECT_TRUE(user.value(QStringLiteral("services"))
                    .toObject()
                    .value(QStringLiteral("uri"))
                    .toString()
                    .startsWith(server->baseUrl()));

    // A stale or forged token gets the anonymous document: no links, nothing about the user.
    for (const QString &token : {QStringLiteral("stale"), QString()}) {
        const QJsonObject forged = client->get("/", DevClient::user(kDemo, token)).object();
        EXPECT_FALSE(forged.contains(QStringLiteral("user"))) << token.toStdString();
        EXPECT_EQ(forged.value(QStringLiteral("authentication")),
            anonymous.object().value(QStringLiteral("authentication")));
    }
    EXPECT_EQ(client->get("/api/user/services", DevClient::user(kDemo, QStringLiteral("stale"))).status, 401);

    const QString staff = QStringLiteral("staff@lanternfish.test");
    const QJsonObject staffUser
        = client->get("/", DevClient::user(staff, client->signIn(staff, QStringLiteral("lanternfish"))))
              .object()
              .value(QStringLiteral("user"))
              .toObject();
    EXPECT_EQ(staffUser.value(QStringLiteral("roles")).toArray(), QJsonArray {QStringLiteral("admin")});
}

TEST_F(AccountTest, ClientInfoAndProfileAccessTokenAreKept) {
    const httplib::Headers demo = client->demo();
    const QJsonObject info {{QStringLiteral("os"), QStringLiteral("linux")},
        {QStringLiteral("client_version"), QStringLiteral("9.9")}};
    EXPECT_EQ(client->postJson("/api/client/update_info", info, demo).status, 200);
    const QJsonObject stored = client->state().value(QStringLiteral("users")).toArray().at(0).toObject();
    EXPECT_EQ(
        stored.value(QStringLiteral("client_info")).toObject().value(QStringLiteral("CLIENT-1")).toObject(),
        info);

    const QString al = client->get("/api/user/profile", demo).object().value(QStringLiteral("al")).toString();
    ASSERT_FALSE(al.isEmpty());
    const Answer page
        = client->get(QStringLiteral("/client_browser_session?email=%1&client_id=C&al=%2&url=%3")
                          .arg(QStringLiteral("demo%40lanternfish.test"), al,
                              QStringLiteral("%2F%3Fview%3Dview%26filter%3Dreceived"))
                          .toStdString());
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.body.startsWith("<!DOCTYPE html>"));
    EXPECT_TRUE(page.body.contains("/thumb\"")) << page.body.constData();
    EXPECT_TRUE(page.body.contains("From Ann Friend"));
    EXPECT_EQ(
        client->get("/client_browser_session?email=demo%40lanternfish.test&al=wrong&url=%2F").status, 401);
}

} // namespace
} // namespace lf::test
