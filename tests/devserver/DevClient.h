#pragma once

#include "devserver/DevServer.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <httplib.h>

#include <memory>

namespace lf::test {

// One answer as the tests look at it.
struct Answer {
    int status = 0; // 0: no answer (connection dropped, timed out)
    QByteArray body;
    QJsonValue json;
    httplib::Headers headers;

    QJsonObject object() const { return json.toObject(); }
    QJsonArray array() const { return json.toArray(); }
    QString errorText() const { return object().value(QStringLiteral("Error")).toString(); }
    std::string header(const char *name) const;
};

// A plain HTTP client of the reference server, speaking the service's headers.
class DevClient {
public:
    explicit DevClient(const dev::DevServer &server);

    // Headers of a signed-in user, of the identity check, and the version header alone.
    static httplib::Headers user(
        const QString &email, const QString &token, const QString &clientId = QStringLiteral("CLIENT-1"));
    static httplib::Headers identity(
        const QString &email, const QString &password, const QString &clientId = QStringLiteral("CLIENT-1"));
    static httplib::Headers versionOnly();

    Answer get(const std::string &target, const httplib::Headers &headers = versionOnly());
    Answer post(const std::string &target, const QByteArray &body,
        const httplib::Headers &headers = versionOnly(), const char *type = "application/octet-stream");
    Answer postJson(
        const std::string &target, const QJsonObject &body, const httplib::Headers &headers = versionOnly());
    Answer put(const std::string &target, const QByteArray &body, const httplib::Headers &headers);
    Answer del(const std::string &target, const httplib::Headers &headers);

    // Signs in through the identity check; empty token when it failed.
    QString signIn(const QString &email, const QString &password);
    // Headers of the demo account, signed in.
    httplib::Headers demo();

    // Dev API.
    Answer fault(const QString &method, const QString &path, const QJsonArray &responses);
    QJsonArray requests();
    QJsonObject state();

    void setReadTimeoutMs(int ms);

private:
    static Answer answerOf(const httplib::Result &result);
    std::unique_ptr<httplib::Client> m_client;
};

// Photo parameters as the client sends them in X-Lanternfish-Params.
httplib::Headers withParams(httplib::Headers headers, const QJsonObject &params);
QString sha1Hex(const QByteArray &bytes);
// A small real PNG of the given size.
QByteArray pngOfSize(int width, int height);

} // namespace lf::test

#include "support/TempHome.h"

namespace lf::test {

// A seeded server with the dev API, started for each test, and a client of it.
class DevServerTest : public TempHomeTest {
protected:
    void SetUp() override {
        dev::DevServerOptions options;
        options.seedDemo = true;
        options.devApi = true;
        server = std::make_unique<dev::DevServer>(options);
        QString error;
        ASSERT_TRUE(server->start(&error)) << error.toStdString();
        client = std::make_unique<DevClient>(*server);
    }

    std::unique_ptr<dev::DevServer> server;
    std::unique_ptr<DevClient> client;
};

} // namespace lf::test
