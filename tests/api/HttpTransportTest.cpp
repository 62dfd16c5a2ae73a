#include "api/HttpTransport.h"

#include "foundation/Clock.h"
#include "support/ScriptedServer.h"
#include "support/TempHome.h"

#include <QFile>

#include <atomic>
#include <future>
#include <thread>

using namespace lf;
using namespace lf::test;

namespace {

class HttpTransportTest : public TempHomeTest {
protected:
    void TearDown() override { HttpTransport::shared().clearCookies(); }

    HttpRequest request(const QString &path, const QByteArray &method = "GET") const {
        HttpRequest r;
        r.method = method;
        r.url = server.baseUrl() + path;
        return r;
    }

    ScriptedServer server;
};

TEST_F(HttpTransportTest, SendsHeadersInOrderAndReadsStatusHeadersAndBody) {
    server.enqueue({201, "created", "text/plain", {{"X-Answer", "42"}}});
    HttpRequest r = request("/thing?a=1", "POST");
    r.headers = {{"X-One", "1"}, {"accept", "application/json"}, {"Content-Type", "text/plain"},
        {"X-Two", "2\r\nX-Injected: 1"}};
    r.body = "hello";
    const HttpResponse response = HttpTransport::shared().send(r);

    EXPECT_EQ(response.status, 201);
    EXPECT_EQ(response.body, "created");
    EXPECT_EQ(headerValue(response.headers, "x-answer"), "42");
    const RecordedRequest seen = server.requests().value(0);
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.target, "/thing?a=1");
    EXPECT_EQ(seen.body, "hello");
    EXPECT_EQ(seen.header("X-One"), "1");
    EXPECT_EQ(seen.header("Accept"), "application/json"); // ours, not libcurl's */*
    EXPECT_FALSE(seen.hasHeader("Expect"));
    EXPECT_FALSE(seen.hasHeader("X-Injected"));
}

TEST_F(HttpTransportTest, BodylessPutAndDeleteAreFramedWithoutAContentType) {
    for (const QByteArray method : {"PUT", "DELETE"}) {
        server.clearRequests();
        server.enqueue(ScriptedReply::json("{}"));
        EXPECT_EQ(HttpTransport::shared().send(request("/x", method)).status, 200);
        const RecordedRequest seen = server.requests().value(0);
        EXPECT_EQ(seen.method, method);
        EXPECT_EQ(seen.header("Content-Length"), "0");
        EXPECT_FALSE(seen.hasHeader("Content-Type"));
    }
}

TEST_F(HttpTransportTest, StreamsABodyFromAFileAndReportsUploadProgress) {
    const QString path = home.filePath("photo.bin");
    QByteArray bytes(3 * 1024 * 1024, 'p');
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    server.enqueue(ScriptedReply::json("{}"));
    HttpRequest r = request("/upload", "POST");
    r.bodyFile = path;
    qint64 lastSent = 0, total = 0;
    SendOptions options;
    options.uploadProgress = [&](qint64 sent, qint64 all) {
        EXPECT_GE(sent, lastSent);
        lastSent = sent;
        total = all;
    };
    EXPECT_EQ(HttpTransport::shared().send(r, options).status, 200);
    EXPECT_EQ(server.requests().value(0).body, bytes);
    EXPECT_EQ(total, bytes.size());
    EXPECT_EQ(lastSent, bytes.size());

    HttpRequest missing = request("/upload", "POST");
    missing.bodyFile = home.filePath("nothing-here");
    const HttpResponse failed = HttpTransport::shared().send(missing);
    EXPECT_FALSE(failed.hasResponse());
    EXPECT_EQ(failed.errorCode, NetError::Unknown);
}

TEST_F(HttpTransportTest, TransportFailuresBecomeTheirCodes) {
    // Refused: the port was open a moment ago and is closed now.
    ScriptedServer closed;
    const QString closedUrl = closed.baseUrl();
    closed.stop();
    HttpRequest refused;
    refused.url = closedUrl + "/";
    EXPECT_EQ(HttpTransport::shared().send(refused).errorCode, NetError::NotConnected);

    HttpRequest unresolvable;
    unresolvable.url = "http://no-such-host.invalid/";
    EXPECT_EQ(HttpTransport::shared().send(unresolvable).errorCode, NetError::NotConnected);

    server.enqueue(ScriptedReply::drop());
    const HttpResponse dropped = HttpTransport::shared().send(request("/drop"));
    EXPECT_EQ(dropped.status, 0);
    EXPECT_EQ(dropped.errorCode, NetError::ConnectionLost);

    // Only http and https: a server-supplied file: or ftp: address is never followed.
    for (const char *url : {"file:///etc/passwd", "ftp://127.0.0.1/x", "http:///nohost"}) {
        HttpRequest odd;
        odd.url = url;
        const HttpResponse r = HttpTransport::shared().send(odd);
        EXPECT_FALSE(r.hasResponse()) << url;
        EXPECT_TRUE(r.body.isEmpty()) << url;
    }
}

TEST_F(HttpTransportTest, StallLimitAndCancelStopAHangingExchange) {
    ScopedFakeClock fake;
    server.enqueue(ScriptedReply::stall());
    auto stalled = std::async(std::launch::async, [&] {
        HttpRequest r = request("/stall");
        r.timeoutSeconds = 60;
        return HttpTransport::shared().send(r);
    });
    ASSERT_TRUE(server.waitForRequests(1));
    fake.clock.advance(std::chrono::seconds(61));
    EXPECT_EQ(stalled.get().errorCode, NetError::TimedOut);

    server.enqueue(ScriptedReply::stall());
    std::atomic<bool> cancel {false};
    auto cancelled = std::async(std::launch::async, [&] {
        SendOptions options;
        options.cancelled = [&] { return cancel.load(); };
        return HttpTransport::shared().send(request("/stall"), options);
    });
    ASSERT_TRUE(server.waitForRequests(2));
    cancel = true;
    EXPECT_EQ(cancelled.get().errorCode, NetError::Cancelled);
    server.release();
}

TEST_F(HttpTransportTest, CookiesAreKeptSentBackAndNukedByUrl) {
    server.enqueue({200, "{}", "application/json",
        {{"Set-Cookie", "session=abc; Path=/"}, {"Set-Cookie", "scoped=xyz; Path=/api"}}});
    HttpTransport::shared().send(request("/login"));
    server.enqueue(ScriptedReply::json("{}"));
    HttpTransport::shared().send(request("/api/list"));
    const QByteArray sent = server.requests().value(1).header("Cookie");
    EXPECT_TRUE(sent.contains("session=abc"));
    EXPECT_TRUE(sent.contains("scoped=xyz"));
    EXPECT_EQ(HttpTransport::shared().cookiesForUrl(server.baseUrl() + "/").size(), 1);

    // Letting go of the pooled connections keeps the cookies.
    HttpTransport::shared().closeIdleConnections();
    EXPECT_EQ(HttpTransport::shared().cookiesForUrl(server.baseUrl() + "/api/list").size(), 2);

    // Only the cookies that "/" would receive go; the one scoped to /api stays.
    HttpTransport::shared().nukeCookies(server.baseUrl() + "/");
    server.enqueue(ScriptedReply::json("{}"));
    HttpTransport::shared().send(request("/api/list"));
    EXPECT_EQ(server.requests().value(2).header("Cookie"), "scoped=xyz");
}

TEST_F(HttpTransportTest, RedirectsKeepIdentityHeadersOnlyWithinTheOrigin) {
    ScriptedServer other;
    other.enqueue(ScriptedReply::json("{}"));
    server.enqueue({302, {}, "text/plain", {{"Location", "/moved"}}});
    server.enqueue({302, {}, "text/plain", {{"Location", (other.baseUrl() + "/elsewhere").toUtf8()}}});
    HttpRequest r = request("/start");
    r.headers = {{"X-Lanternfish-User", "{\"email\":\"a@b.c\"}"}, {"accept", "application/json"}};
    const HttpResponse response = HttpTransport::shared().send(r);

    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(server.requests().value(1).path, "/moved");
    EXPECT_TRUE(server.requests().value(1).hasHeader("X-Lanternfish-User"));
    EXPECT_FALSE(other.requests().value(0).hasHeader("X-Lanternfish-User"));
    EXPECT_EQ(other.requests().value(0).header("accept"), "application/json");
}

} // namespace
