#include "api/ServiceAPI.h"

#include "foundation/Clock.h"
#include "foundation/Identity.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Prefs.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <future>
#include <thread>

using namespace lf;
using namespace lf::test;

namespace {

class ServiceAPITest : public TempHomeTest {
protected:
    void SetUp() override {
        Prefs::reloadLocation();
        ServiceAPI::setHost(server.host(), QString::number(server.port()));
        api = std::make_unique<ServiceAPI>();
    }
    void TearDown() override { HttpTransport::shared().clearCookies(); }

    void signIn(const QString &name = "ann@example.com", const QString &token = "tok") {
        api->setUserName(name);
        api->setUserToken(token);
    }
    RecordedRequest last() const { return server.requests().value(server.requestCount() - 1); }

    ScriptedServer server;
    std::unique_ptr<ServiceAPI> api;
};

// A root document whose user links point back at the scripted server.
QByteArray rootDocument(const ScriptedServer &server) {
    return QStringLiteral(R"({"user":{"name":"Ann","roles":[],"bundles":{"uri":"%1/bundles"},)"
                          R"("services":{"uri":"%1/services"}}})")
        .arg(server.baseUrl())
        .toUtf8();
}

TEST_F(ServiceAPITest, UrlFormsFollowThePort) {
    ServiceAPI::setHost("example.test", "80");
    EXPECT_TRUE(ServiceAPI::isSecure());
    EXPECT_EQ(ServiceAPI::plainURL("/api/x"), "http://example.test:80/api/x");
    EXPECT_EQ(ServiceAPI::secureURL("/api/x"), "https://example.test/api/x");
    EXPECT_EQ(ServiceAPI::getFullURL("mac_welcome"), "http://example.test:80/mac_welcome");

    ServiceAPI::setHost("example.test", "3000");
    EXPECT_FALSE(ServiceAPI::isSecure());
    EXPECT_EQ(ServiceAPI::secureURL("/api/x"), "http://example.test:3000/api/x");

    api->setUserName("a+b@example.com");
    api->setAccessToken("al/1");
    EXPECT_EQ(api->createURL("/?view=view&filter=sent"),
        "http://example.test:3000/client_browser_session?email=a%2Bb%40example.com&client_id="
            + api->clientID() + "&al=al%2F1&url=%2F%3Fview%3Dview%26filter%3Dsent");
}

TEST_F(ServiceAPITest, AUrlNeverMixesTwoServerChoices) {
    std::atomic<bool> done {false};
    std::thread chooser([&] {
        for (int i = 0; i < 60; ++i)
            ServiceAPI::setHost(i % 2 ? "a.example.test" : "b.example.test", i % 2 ? "1111" : "2222");
        done = true;
    });
    QStringList mixed;
    while (!done) {
        for (const QString &url : {ServiceAPI::plainURL("/"), ServiceAPI::getFullURL("x")}) {
            if (!url.contains("a.example.test:1111/") && !url.contains("b.example.test:2222/")
                && !url.contains(QString::number(server.port())))
                mixed.append(url);
        }
    }
    chooser.join();
    EXPECT_TRUE(mixed.isEmpty()) << mixed.join(' ').toStdString();
}

TEST_F(ServiceAPITest, HeaderTextsFollowTheUserState) {
    const QByteArray id = api->clientID().toUtf8();
    server.setHandler([](const RecordedRequest &) { return ScriptedReply::json("{}"); });

    // Nobody signed in: a GET carries no user header, a POST carries the empty object.
    api->getAPI("/a");
    EXPECT_FALSE(last().hasHeader("X-Lanternfish-User"));
    EXPECT_EQ(last().header("X-Lanternfish-Version"), "0");
    EXPECT_EQ(last().header("Accept"), "application/json, application/javascript");
    api->postAPI("/b", {}, RequestBody::data("abc"));
    EXPECT_EQ(last().header("X-Lanternfish-User"), "{}");
    EXPECT_EQ(last().header("Accept"), "application/json");
    EXPECT_EQ(last().header("Content-Length"), "3");
    EXPECT_EQ(last().header("Content-Type"), "application/octet-stream");

    // Signed in: the pairs in their fixed order; an absent token ends the object early.
    signIn();
    api->getAPI("/c");
    EXPECT_EQ(last().header("X-Lanternfish-User"),
        R"({"email":"ann@example.com","client_id":")" + id + R"(","user_token":"tok"})");
    api->setUserToken(std::nullopt);
    api->post(ServiceAPI::plainURL("/d"), "DELETE");
    EXPECT_EQ(
        last().header("X-Lanternfish-User"), R"({"email":"ann@example.com","client_id":")" + id + R"("})");
    EXPECT_FALSE(last().hasHeader("Content-Type"));

    api->unauthGetAPI("/e");
    EXPECT_EQ(last().header("X-Lanternfish-User"), R"({"client_id":")" + id + R"("})");
    EXPECT_EQ(last().header("Accept"), "application/json, application/javascript");

    api->uploadPhoto({{"photo_guid", "P1"}}, RequestBody::data("jpeg"));
    EXPECT_EQ(last().header("X-Lanternfish-Params"), R"({"photo_guid":"P1"})");

    // The identity object nests client_info and escapes what the password holds.
    api->verifyIdentity("Ann@Example.com", "pa\"ss wörd");
    const QByteArray identity = last().header("X-Lanternfish-User");
    EXPECT_TRUE(identity.startsWith(R"({"email":"Ann@Example.com","client_id":")" + id
        + R"(","password":"pa\"ss wörd","client_info":{)"));
    const QJsonObject parsed = QJsonDocument::fromJson(identity).object();
    EXPECT_EQ(parsed.value("client_info").toObject().value("os").toString(), "linux");
    EXPECT_EQ(api->userName(), "Ann@Example.com");
    EXPECT_EQ(api->userToken(), std::optional<QString>(""));
}

TEST_F(ServiceAPITest, ADownServerIsTriedNineTimesOver162Seconds) {
    ScopedFakeClock fake;
    ScriptedServer gone;
    ServiceAPI::setHost(gone.host(), QString::number(gone.port()));
    gone.stop();

    const APIResult result = api->getAPI("/api/user_address_book_entries");
    EXPECT_EQ(result.httpStatus(), NetError::NotConnected);
    EXPECT_FALSE(result.httpStatusString().isEmpty());
    EXPECT_EQ(result.httpStatusBody().toString(), "");
    EXPECT_EQ(fake.clock.slept(), std::chrono::seconds(162));
}

TEST_F(ServiceAPITest, SwitchingRetriesOffForOneRequestLeavesOtherThreadsRetrying) {
    ScopedFakeClock fake;
    server.setHandler([](const RecordedRequest &) { return ScriptedReply::drop(); });
    signIn();
    // Both at once: the root request (no retry) and a contact list download (retried).
    auto contacts = std::async(std::launch::async, [&] { return api->getAllContacts(); });
    auto root = std::async(std::launch::async, [&] { return api->rootInfo(); });
    EXPECT_LT(root.get().httpStatus(), 0);
    EXPECT_EQ(contacts.get().httpStatus(), NetError::ConnectionLost);
    EXPECT_EQ(server.requestsTo("/").size(), 1);
    EXPECT_EQ(server.requestsTo("/api/user_address_book_entries").size(), 9);
    EXPECT_EQ(fake.clock.slept(), std::chrono::seconds(162));
    EXPECT_TRUE(api->attemptRetry());
}

TEST_F(ServiceAPITest, HttpStatusesAreAnsweredAtOnce) {
    ScopedFakeClock fake;
    server.enqueue(ScriptedReply::json(R"({"Error":"no such thing"})", 404));
    const APIResult missing = api->getAPI("/api/nothing");
    EXPECT_EQ(missing.httpStatus(), 404);
    EXPECT_EQ(missing.httpStatusString(), "Not Found");
    EXPECT_EQ(missing.httpStatusBody().toMap().value("Error"), "no such thing");
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_EQ(fake.clock.sleepCount(), 0);

    server.enqueue(ScriptedReply::text("<!DOCTYPE html><p>oops</p>", 500));
    EXPECT_EQ(api->getAPI("/x").httpStatusBody().toString(), "<!DOCTYPE html><p>oops</p>");

    // A dropped exchange is retried, and the retry's answer is the result.
    server.enqueue(ScriptedReply::drop());
    server.enqueue(ScriptedReply::json(R"({"ok":1})"));
    EXPECT_EQ(api->getAPI("/y").value("ok"), 1);
    EXPECT_EQ(fake.clock.slept(), std::chrono::seconds(1));
}

TEST_F(ServiceAPITest, SuccessBodiesBecomeJsonOrText) {
    server.enqueue(ScriptedReply::text("OK"));
    EXPECT_EQ(api->getAPI("/").toMap(), (QVariantMap {{"body", "OK"}}));
    server.enqueue(ScriptedReply::json(R"([1,"two"])"));
    EXPECT_EQ(api->getAPI("/").toList(), (QVariantList {1, "two"}));
    server.enqueue(ScriptedReply::text(""));
    EXPECT_EQ(api->getAPI("/").toMap(), (QVariantMap {{"body", ""}}));

    // Bytes that are not UTF-8 cost a character, not the answer.
    server.enqueue(ScriptedReply::json("{\"name\":\"Jos\xE9\"}"));
    const APIResult json = api->getAPI("/");
    EXPECT_FALSE(json.isError());
    EXPECT_EQ(json.value("name").toString(), QString("Jos") + QChar(0xFFFD));
    server.enqueue(ScriptedReply::text("caf\xE9 \xFF"));
    EXPECT_EQ(
        api->getAPI("/").value("body").toString(), QString("caf") + QChar(0xFFFD) + " " + QChar(0xFFFD));
}

class RecordingHandler : public CancelHandler {
public:
    bool cancelled() const override { return m_cancelled || (m_cancelWhen && m_cancelWhen()); }
    void setRetried(bool retried) override {
        m_retried = retried;
        m_calls.append(retried);
    }
    bool m_cancelled = false;
    std::function<bool()> m_cancelWhen;
    bool m_retried = false;
    QList<bool> m_calls;
};

TEST_F(ServiceAPITest, CancelHandlerStopsSendsOfItsThreadOnly) {
    ScopedFakeClock fake;
    RecordingHandler handler;
    handler.m_cancelled = true;
    {
        ScopedCancelHandler scope(&handler);
        // Cancelled before the first attempt: nothing is sent, the empty success form comes back.
        EXPECT_EQ(api->createBundle({{"bundle_guid", "B"}}).toMap(), (QVariantMap {{"body", ""}}));
        EXPECT_EQ(server.requestCount(), 0);
        EXPECT_EQ(handler.m_calls, QList<bool> {false});

        // Another thread's request does not see this thread's handler.
        server.enqueue(ScriptedReply::json("{}"));
        EXPECT_FALSE(std::async(std::launch::async, [&] { return api->getAPI("/other"); }).get().isError());

        // A retry is announced, and a cancel during the retries ends them.
        handler.m_cancelled = false;
        handler.m_cancelWhen = [&] { return server.requestCount() >= 3; };
        handler.m_calls.clear();
        server.setHandler([](const RecordedRequest &) { return ScriptedReply::drop(); });
        const APIResult result = api->createBundle({{"bundle_guid", "B"}});
        EXPECT_LT(result.httpStatus(), 0);
        EXPECT_EQ(handler.m_calls, (QList<bool> {false, true}));
        EXPECT_EQ(server.requestsTo("/api/bundle").size(), 2);
        EXPECT_LT(fake.clock.slept(), std::chrono::seconds(3));
    }
    EXPECT_EQ(ScopedCancelHandler::current(), nullptr);
}

TEST_F(ServiceAPITest, AnonymousRequestsDropTheCookiesOfTheirAddress) {
    server.enqueue({200, "{}", "application/json", {{"Set-Cookie", "sid=1; Path=/"}}});
    server.setHandler([](const RecordedRequest &) { return ScriptedReply::json("{}"); });
    signIn();
    api->getAPI("/a");
    api->getAPI("/b");
    EXPECT_EQ(last().header("Cookie"), "sid=1");
    api->unauthRoot();
    EXPECT_FALSE(last().hasHeader("Cookie"));
    api->getAPI("/c");
    EXPECT_FALSE(last().hasHeader("Cookie"));
}

TEST_F(ServiceAPITest, StoredServerChoiceAndHostTable) {
    QObject observer;
    QStringList announced;
    NotificationCenter::defaultCenter().addObserver(&observer, kHostChangedNotification,
        [&](const Notification &n) { announced.append(n.object.toString()); });

    // Stored by an older version: back to the production entry, and the version is brought up to date.
    Prefs::setPref("staging.example", PrefKey::Host);
    Prefs::setPref("80", PrefKey::Port);
    Prefs::setIntPref(4, PrefKey::HostVersion);
    ServiceAPI fresh;
    EXPECT_EQ(ServiceAPI::currentHost(), ServiceAPI::hostEntry(0).host);
    EXPECT_EQ(Prefs::prefForKey(PrefKey::Host).toString(), ServiceAPI::hostEntry(0).host);
    EXPECT_EQ(Prefs::intPrefForKey(PrefKey::HostVersion, 0), 5);
    EXPECT_EQ(announced.value(0), ServiceAPI::hostEntry(0).host);

    ServiceAPI::chooseHost(3);
    EXPECT_EQ(ServiceAPI::currentHost(), "localhost");
    EXPECT_EQ(ServiceAPI::currentPort(), "3000");
    ServiceAPI kept;
    EXPECT_EQ(ServiceAPI::currentHost(), "localhost");

    // The empty slot leaves no host: requests fail as network errors and the stored host goes.
    ServiceAPI::chooseHost(4);
    EXPECT_FALSE(Prefs::prefForKey(PrefKey::Host).isValid());
    EXPECT_LT(fresh.rootInfo().httpStatus(), 0);
    EXPECT_EQ(announced.size(), 4);
}

TEST_F(ServiceAPITest, AddressBookEndpointsWriteTheirForms) {
    server.setHandler([](const RecordedRequest &) { return ScriptedReply::json("{}"); });
    signIn();

    api->addContact({{"email", "jane@example.com"}});
    EXPECT_EQ(last().method, "POST");
    EXPECT_EQ(last().target,
        "/api/user_address_book_entries?user_address_book_entry%5Bemail%5D=jane%40example.com"
        "&user_address_book_entry%5Bname%5D=Jane");
    EXPECT_TRUE(last().body.isEmpty());

    api->updateContact({{"guid", "G1"}, {"email", "j@x.org"}, {"name", "Jo Jo"}, {"version", 3}});
    EXPECT_EQ(last().method, "PUT");
    EXPECT_EQ(last().target,
        "/api/user_address_book_entries/G1/?user_address_book_entry%5Bemail%5D=j%40x.org"
        "&user_address_book_entry%5Bname%5D=Jo%20Jo&user_address_book_entry%5Bversion%5D=3");
    api->updateContact({{"guid", "G1"}, {"email", "j@x.org"}, {"name", "Jo"}, {"version", 3},
        {"last_used", "2011-03-01T10:00:00Z"}});
    EXPECT_TRUE(last().target.endsWith("&user_address_book_entry%5Blast_used%5D=2011-03-01T10%3A00%3A00Z"));

    // A guid from the server stays one path segment.
    api->deleteContact({{"guid", "../../api/user"}});
    EXPECT_EQ(last().method, "DELETE");
    EXPECT_EQ(last().target, "/api/user_address_book_entries/..%2F..%2Fapi%2Fuser");

    api->addGroup({{"name", "Team"}, {"entries", QVariantList {"G1"}}, {"GROUP", true}, {"members", "Jo"}});
    EXPECT_EQ(last().header("Content-Type"), "application/json");
    EXPECT_EQ(last().body, R"({"address_book_group":{"entries":["G1"],"name":"Team"}})");
}

TEST_F(ServiceAPITest, RootLinksAndProfile) {
    signIn();
    // No services link: nothing is sent and nothing comes back.
    server.enqueue(ScriptedReply::json(R"({"user":{"name":"Ann"}})"));
    EXPECT_TRUE(api->getConsumers().isNothing());
    EXPECT_EQ(server.requestCount(), 1);

    // A failed root is not kept: the next read asks again.
    api->setRoot({});
    server.enqueue(ScriptedReply::text("busy", 503));
    EXPECT_EQ(api->getConsumers().httpStatus(), 503);
    server.enqueue(ScriptedReply::json(rootDocument(server)));
    server.enqueue(ScriptedReply::json(R"({"bundles":[]})"));
    api->requestBundles({"a=1", "b=2"});
    EXPECT_EQ(last().target, "/bundles?a=1&b=2");
    EXPECT_EQ(last().header("X-Lanternfish-User").contains("user_token"), true);

    server.enqueue(ScriptedReply::json(R"({"al":"ACCESS"})"));
    api->getUserProfile();
    EXPECT_EQ(api->accessToken(), "ACCESS");
    EXPECT_TRUE(api->createURL("/").contains("&al=ACCESS&"));
}

TEST_F(ServiceAPITest, CheckConnectionAsksTheRightPage) {
    server.setHandler([](const RecordedRequest &r) {
        return r.path == "/signin" ? ScriptedReply::text("form") : ScriptedReply::json("{}");
    });
    EXPECT_TRUE(api->checkConnection());
    EXPECT_EQ(last().path, "/signin");
    signIn();
    EXPECT_TRUE(api->checkConnection());
    EXPECT_EQ(last().path, "/");
    server.stop();
    EXPECT_FALSE(api->checkConnection());
}

TEST(ServiceAPIForms, FormStringEscapesKeysAndTexts) {
    EXPECT_EQ(ServiceAPI::formString(FormPairs {{"a b", "x&y=z"}, {"n", 5}, {"f", true}}),
        "a%20b=x%26y%3Dz&n=5&f=1");
}

} // namespace
