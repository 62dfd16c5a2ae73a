#include "support/DemoServer.h"

#include "api/HttpTransport.h"
#include "api/ServiceAPI.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace lf::test {

std::unique_ptr<dev::DevServer> startDemoServer(QString *error) {
    dev::DevServerOptions options;
    options.seedDemo = true;
    options.devApi = true;
    auto server = std::make_unique<dev::DevServer>(options);
    if (!server->start(error))
        return nullptr;
    ServiceAPI::setHost(QStringLiteral("127.0.0.1"), QString::number(server->port()));
    return server;
}

QJsonValue devCall(
    const dev::DevServer &server, const QByteArray &method, const QString &path, const QJsonObject &body) {
    HttpRequest r;
    r.method = method;
    r.url = server.baseUrl() + path;
    // Kept-alive connections would each hold one of the server's threads while tests poll.
    r.addHeader("Connection", "close");
    if (method != "GET") {
        r.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
        r.addHeader("Content-Type", "application/json");
    }
    const QJsonDocument doc = QJsonDocument::fromJson(HttpTransport::shared().send(r).body);
    return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
}

} // namespace lf::test
