#include "DevClient.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>
#include <QJsonDocument>

namespace lf::test {

namespace {

QByteArray compact(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

std::string Answer::header(const char *name) const {
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

DevClient::DevClient(const dev::DevServer &server)
    : m_client(std::make_unique<httplib::Client>("127.0.0.1", server.port())) {
    m_client->set_read_timeout(10, 0);
}

httplib::Headers DevClient::versionOnly() {
    return {{"X-Lanternfish-Version", "0"}};
}

httplib::Headers DevClient::user(const QString &email, const QString &token, const QString &clientId) {
    return {{"X-Lanternfish-Version", "0"},
        {"X-Lanternfish-User",
            QStringLiteral(R"({"email":"%1","client_id":"%2","user_token":"%3"})")
                .arg(email, clientId, token)
                .toStdString()}};
}

httplib::Headers DevClient::identity(const QString &email, const QString &password, const QString &clientId) {
    const QJsonObject info {{QStringLiteral("os"), QStringLiteral("linux")}};
    return {{"X-Lanternfish-Version", "0"},
        {"X-Lanternfish-User",
            QStringLiteral(R"({"email":"%1","client_id":"%2","password":"%3","client_info":%4})")
                .arg(email, clientId, password, QString::fromUtf8(compact(info)))
                .toStdString()}};
}

Answer DevClient::answerOf(const httplib::Result &result) {
    Answer answer;
    if (!result)
        return answer;
    answer.status = result->status;
    answer.body = QByteArray::fromStdString(result->body);
    answer.headers = result->headers;
    const QJsonDocument doc = QJsonDocument::fromJson(answer.body);
    answer.json = doc.isArray() ? QJsonValue(doc.array())
        : doc.isObject()        ? QJsonValue(doc.object())
                                : QJsonValue();
    return answer;
}

Answer DevClient::get(const std::string &target, const httplib::Headers &headers) {
    return answerOf(m_client->Get(target, headers));
}

Answer DevClient::post(
    const std::string &target, const QByteArray &body, const httplib::Headers &headers, const char *type) {
    return answerOf(m_client->Post(target, headers, body.constData(), size_t(body.size()), type));
}

Answer DevClient::postJson(
    const std::string &target, const QJsonObject &body, const httplib::Headers &headers) {
    return post(target, compact(body), headers);
}

Answer DevClient::put(const std::string &target, const QByteArray &body, const httplib::Headers &headers) {
    return answerOf(
        m_client->Put(target, headers, body.constData(), size_t(body.size()), "application/json"));
}

Answer DevClient::del(const std::string &target, const httplib::Headers &headers) {
    return answerOf(m_client->Delete(target, headers));
}

QString DevClient::signIn(const QString &email, const QString &password) {
    return get("/api/user/verify", identity(email, password))
        .object()
        .value(QStringLiteral("user_token"))
        .toString();
}

httplib::Headers DevClient::demo() {
    return user(QStringLiteral("demo@lanternfish.test"),
        signIn(QStringLiteral("demo@lanternfish.test"), QStringLiteral("lanternfish")));
}

Answer DevClient::fault(const QString &method, const QString &path, const QJsonArray &responses) {
    return postJson("/__dev/faults",
        QJsonObject {{QStringLiteral("method"), method}, {QStringLiteral("path"), path},
            {QStringLiteral("responses"), responses}});
}

QJsonArray DevClient::requests() {
    return get("/__dev/requests").array();
}

QJsonObject DevClient::state() {
    return get("/__dev/state").object();
}

void DevClient::setReadTimeoutMs(int ms) {
    m_client->set_read_timeout(ms / 1000, (ms % 1000) * 1000);
    m_client->set_write_timeout(ms / 1000, (ms % 1000) * 1000);
}

httplib::Headers withParams(httplib::Headers headers, const QJsonObject &params) {
    headers.emplace("X-Lanternfish-Params", compact(params).toStdString());
    return headers;
}

QString sha1Hex(const QByteArray &bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
}

QByteArray pngOfSize(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(qRgb(10, 120, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace lf::test
