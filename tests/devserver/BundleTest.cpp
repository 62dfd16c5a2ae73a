#include "DevClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QThread>

namespace lf::test {
namespace {

class BundleTest : public DevServerTest {
protected:
    void SetUp() override {
        DevServerTest::SetUp();
        demo = client->demo();
    }

    QJsonObject bundle(const QString &guid, const QJsonArray &photos) {
        return QJsonObject {{QStringLiteral("bundle_guid"), guid},
            {QStringLiteral("recipients"),
                QJsonArray {QStringLiteral("ann.friend@lanternfish.test"), QStringLiteral("%Family")}},
            {QStringLiteral("message"), QStringLiteral("hello")}, {QStringLiteral("photos"), photos}};
    }
    static QJsonObject photo(const QString &guid, int order, const QString &type) {
        return QJsonObject {{QStringLiteral("photo_guid"), guid}, {QStringLiteral("order"), order},
            {QStringLiteral("caption"), QStringLiteral("c%1").arg(order)}, {QStringLiteral("type"), type},
            {QStringLiteral("url"), QStringLiteral("/tmp/x.jpg")},
            {QStringLiteral("filename"), QStringLiteral("x.jpg")}};
    }
    Answer upload(const QString &guid, const QString &type, const QByteArray &bytes, const QString &hash) {
        return client->post("/api/photo", bytes,
            withParams(demo,
                QJsonObject {{QStringLiteral("photo_guid"), guid}, {QStringLiteral("order"), 0},
                    {QStringLiteral("caption"), QString()}, {QStringLiteral("type"), type},
                    {QStringLiteral("hash"), hash}}));
    }
    QJsonObject bundleState(const QString &guid) {
        for (const QJsonValue &b : client->state().value(QStringLiteral("bundles")).toArray()) {
            if (b.toObject().value(QStringLiteral("bundle_guid")).toString() == guid)
                return b.toObject();
        }
        return {};
    }

    httplib::Headers demo;
};

TEST_F(BundleTest, FlowChecksHashesAndTakesFullSizeAfterClose) {
    const QJsonArray photos {photo(QStringLiteral("P0"), 0, QStringLiteral("screen")),
        photo(QStringLiteral("P1"), 1, QStringLiteral("full")),
        QJsonObject {{QStringLiteral("server_guid"), QStringLiteral("OLD")}, {QStringLiteral("order"), 2},
            {QStringLiteral("photo_origin"), QStringLiteral("reshare")}}};
    EXPECT_EQ(client->postJson("/api/bundle", bundle(QStringLiteral("B1"), photos), demo).status, 201);
    // A repeated create (its answer was lost) is accepted and changes nothing.
    EXPECT_EQ(client->postJson("/api/bundle", bundle(QStringLiteral("B1"), photos), demo).status, 200);

    const QByteArray screen = pngOfSize(64, 48);
    const QByteArray full = pngOfSize(640, 480);
    const Answer wrongHash = upload(QStringLiteral("P0"), QStringLiteral("screen"), screen, sha1Hex(full));
    EXPECT_EQ(wrongHash.status, 422);
    EXPECT_FALSE(wrongHash.errorText().isEmpty());
    EXPECT_EQ(
        upload(QStringLiteral("P0"), QStringLiteral("screen"), screen, QStringLiteral("xyz")).status, 422);
    EXPECT_EQ(upload(QStringLiteral("P0"), QStringLiteral("screen"), screen, sha1Hex(screen)).status, 200);
    EXPECT_EQ(upload(QStringLiteral("NOPE"), QStringLiteral("full"), screen, sha1Hex(screen)).status, 404);

    // A photo the client could not read is announced with "error" and no body.
    EXPECT_EQ(client
                  ->post("/api/photo", {},
                      withParams(demo,
                          QJsonObject {{QStringLiteral("photo_guid"), QStringLiteral("P1")},
                              {QStringLiteral("order"), 1}, {QStringLiteral("type"), QStringLiteral("full")},
                              {QStringLiteral("error"), QStringLiteral("unreadable")}}))
                  .status,
        200);
    EXPECT_EQ(client
                  ->postJson("/api/bundle/close",
                      QJsonObject {{QStringLiteral("bundle_guid"), QStringLiteral("B1")}}, demo)
                  .status,
        200);

    EXPECT_EQ(upload(QStringLiteral("P0"), QStringLiteral("screen"), screen, sha1Hex(screen)).status, 409);
    EXPECT_EQ(upload(QStringLiteral("P0"), QStringLiteral("full"), full, sha1Hex(full)).status, 200);

    const QJsonArray stored = bundleState(QStringLiteral("B1")).value(QStringLiteral("photos")).toArray();
    ASSERT_EQ(stored.size(), 3);
    const QJsonObject p0 = stored.at(0).toObject();
    EXPECT_EQ(p0.value(QStringLiteral("type")).toString(), QStringLiteral("full"));
    EXPECT_EQ(p0.value(QStringLiteral("sha1")).toString(), sha1Hex(full));
    EXPECT_EQ(p0.value(QStringLiteral("bytes")).toInteger(), full.size());
    EXPECT_EQ(p0.value(QStringLiteral("width")).toInt(), 640);
    EXPECT_EQ(p0.value(QStringLiteral("height")).toInt(), 480);
    EXPECT_EQ(p0.value(QStringLiteral("uploads")).toArray().size(), 2);
    EXPECT_EQ(
        stored.at(1).toObject().value(QStringLiteral("error")).toString(), QStringLiteral("unreadable"));
    EXPECT_FALSE(stored.at(2).toObject().contains(QStringLiteral("bytes")));

    // The recipient sees the closed bundle among received ones.
    const httplib::Headers ann = DevClient::user(QStringLiteral("ann.friend@lanternfish.test"),
        client->signIn(QStringLiteral("ann.friend@lanternfish.test"), QStringLiteral("lanternfish")));
    const QJsonArray received = client->get("/api/user/bundles?filter=received", ann)
                                    .object()
                                    .value(QStringLiteral("bundles"))
                                    .toArray();
    ASSERT_FALSE(received.isEmpty());
    EXPECT_EQ(
        received.at(0).toObject().value(QStringLiteral("bundle_guid")).toString(), QStringLiteral("B1"));
    // Members of a group among the recipients receive it too.
    const httplib::Headers bob = DevClient::user(QStringLiteral("bob.friend@lanternfish.test"),
        client->signIn(QStringLiteral("bob.friend@lanternfish.test"), QStringLiteral("lanternfish")));
    EXPECT_EQ(client->get("/api/user/bundles?filter=received", bob)
                  .object()
                  .value(QStringLiteral("bundles"))
                  .toArray()
                  .at(0)
                  .toObject()
                  .value(QStringLiteral("bundle_guid"))
                  .toString(),
        QStringLiteral("B1"));
    // Another user cannot take over the guid.
    EXPECT_EQ(client->postJson("/api/bundle", bundle(QStringLiteral("B1"), photos), ann).status, 409);
}

TEST_F(BundleTest, RejectsReshareUploadsAndWorkOnCancelledBundles) {
    const QJsonArray photos {photo(QStringLiteral("Q0"), 0, QStringLiteral("full"))};
    ASSERT_EQ(client->postJson("/api/bundle", bundle(QStringLiteral("B2"), photos), demo).status, 201);
    const QByteArray bytes = pngOfSize(8, 8);
    EXPECT_EQ(client
                  ->post("/api/photo", bytes,
                      withParams(demo,
                          QJsonObject {{QStringLiteral("photo_guid"), QStringLiteral("Q0")},
                              {QStringLiteral("photo_origin"), QStringLiteral("reshare")},
                              {QStringLiteral("hash"), sha1Hex(bytes)}}))
                  .status,
        422);
    EXPECT_EQ(client
                  ->postJson("/api/bundle/cancel",
                      QJsonObject {{QStringLiteral("bundle_guid"), QStringLiteral("B2")}}, demo)
                  .status,
        200);
    EXPECT_EQ(upload(QStringLiteral("Q0"), QStringLiteral("full"), bytes, sha1Hex(bytes)).status, 409);
    EXPECT_EQ(client
                  ->postJson("/api/bundle/close",
                      QJsonObject {{QStringLiteral("bundle_guid"), QStringLiteral("B2")}}, demo)
                  .status,
        409);
    EXPECT_EQ(client
                  ->postJson("/api/bundle/close",
                      QJsonObject {{QStringLiteral("bundle_guid"), QStringLiteral("NONE")}}, demo)
                  .status,
        404);

    for (const QJsonObject &bad :
        {QJsonObject {}, bundle(QString(), photos), bundle(QStringLiteral("B3"), {}),
            QJsonObject {{QStringLiteral("bundle_guid"), QStringLiteral("B3")},
                {QStringLiteral("recipients"), QStringLiteral("x")}, {QStringLiteral("photos"), photos}}}) {
        const Answer answer = client->postJson("/api/bundle", bad, demo);
        EXPECT_EQ(answer.status, 422);
        EXPECT_FALSE(answer.errorText().isEmpty());
    }
}

TEST_F(BundleTest, CutOffBodyStoresNothingAndServerGoesOn) {
    ASSERT_EQ(
        client
            ->postJson("/api/bundle",
                bundle(QStringLiteral("B4"), {photo(QStringLiteral("R0"), 0, QStringLiteral("full"))}), demo)
            .status,
        201);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(server->port());
    inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    std::string head = "POST /api/photo HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n";
    for (const auto &[name, value] : withParams(demo,
             QJsonObject {{QStringLiteral("photo_guid"), QStringLiteral("R0")},
                 {QStringLiteral("hash"), QString(40, QLatin1Char('a'))}}))
        head += name + ": " + value + "\r\n";
    head += "\r\n" + std::string(500, 'x');
    ASSERT_EQ(::send(fd, head.data(), head.size(), MSG_NOSIGNAL), ssize_t(head.size()));
    ::close(fd);

    // The server notices the cut, keeps nothing and answers the next client.
    QJsonObject last;
    for (int i = 0; i < 100 && last.value(QStringLiteral("status")).toInt() == 0; ++i) {
        QThread::msleep(10);
        last = client->requests().last().toObject();
    }
    EXPECT_EQ(last.value(QStringLiteral("path")).toString(), QStringLiteral("/api/photo"));
    EXPECT_EQ(last.value(QStringLiteral("status")).toInt(), 400);
    EXPECT_FALSE(bundleState(QStringLiteral("B4"))
                     .value(QStringLiteral("photos"))
                     .toArray()
                     .at(0)
                     .toObject()
                     .contains(QStringLiteral("bytes")));
    EXPECT_EQ(client->get("/api/user/profile", demo).status, 200);
}

TEST_F(BundleTest, LargePhotoStreamsToDisk) {
    ASSERT_EQ(
        client
            ->postJson("/api/bundle",
                bundle(QStringLiteral("B5"), {photo(QStringLiteral("S0"), 0, QStringLiteral("full"))}), demo)
            .status,
        201);
    QByteArray big(24 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 131) >> 7);
    EXPECT_EQ(upload(QStringLiteral("S0"), QStringLiteral("full"), big, sha1Hex(big)).status, 200);
    const QJsonObject stored
        = bundleState(QStringLiteral("B5")).value(QStringLiteral("photos")).toArray().at(0).toObject();
    EXPECT_EQ(stored.value(QStringLiteral("bytes")).toInteger(), big.size());
    EXPECT_FALSE(stored.contains(QStringLiteral("width"))); // not an image
    EXPECT_EQ(
        client->requests().last().toObject().value(QStringLiteral("body_length")).toInteger(), big.size());
}

} // namespace
} // namespace lf::test
