#include "CliTest.h"

#include "api/HttpTransport.h"
#include "support/DemoServer.h"

#include <QJsonDocument>

namespace lf::test {

QString cliPath() {
    return QStringLiteral(LF_CLI_PATH);
}

RunResult cli(const QStringList &args, const QByteArray &input, int timeoutMs) {
    return runProgram(cliPath(), args, input, timeoutMs);
}

QStringList errorLines(const RunResult &result) {
    QStringList lines;
    for (const QString &line : result.errLines()) {
        if (line.startsWith(QLatin1String(kErrorPrefix)))
            lines.append(line);
    }
    return lines;
}

QJsonValue parseJson(const QString &text) {
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
    if (doc.isArray())
        return doc.array();
    if (doc.isObject())
        return doc.object();
    return QJsonValue::Undefined;
}

void CliTest::SetUp() {
    QString error;
    server = startDemoServer(&error);
    ASSERT_TRUE(server) << error.toStdString();
    port = server->port();
    const RunResult r = cli({QStringLiteral("use-server"), hostPort()});
    ASSERT_EQ(r.exitCode, 0) << r;
}

void CliTest::TearDown() {
    stopServer();
}

void CliTest::stopServer() {
    // Pooled connections of the dev API calls would keep the server waiting.
    HttpTransport::shared().closeIdleConnections();
    server.reset();
}

QString CliTest::hostPort() const {
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

void CliTest::signIn() {
    const RunResult r
        = cli({QStringLiteral("signin"), QLatin1String(kDemoEmail), QStringLiteral("--password-stdin")},
            QByteArray(kDemoPassword) + '\n');
    ASSERT_EQ(r.exitCode, 0) << r;
}

QJsonObject CliTest::devState() {
    return devCall(*server, "GET", QStringLiteral("/__dev/state")).toObject();
}

QJsonObject CliTest::demoUser() {
    for (const QJsonValue &user : devState().value(QLatin1String("users")).toArray()) {
        if (user.toObject().value(QLatin1String("email")).toString() == QLatin1String(kDemoEmail))
            return user.toObject();
    }
    return {};
}

QJsonArray CliTest::bundlesWithMessage(const QString &message) {
    QJsonArray found;
    for (const QJsonValue &bundle : devState().value(QLatin1String("bundles")).toArray()) {
        if (bundle.toObject().value(QLatin1String("message")).toString() == message)
            found.append(bundle);
    }
    return found;
}

QList<QJsonObject> CliTest::requests(const QString &method, const QString &path) {
    QList<QJsonObject> found;
    for (const QJsonValue &value : devCall(*server, "GET", QStringLiteral("/__dev/requests")).toArray()) {
        const QJsonObject request = value.toObject();
        if ((method.isEmpty() || request.value(QLatin1String("method")).toString() == method)
            && (path.isEmpty() || request.value(QLatin1String("path")).toString() == path))
            found.append(request);
    }
    return found;
}

void CliTest::addFaults(const QString &method, const QString &path, const QJsonArray &responses) {
    const QJsonObject answer = devCall(*server, "POST", QStringLiteral("/__dev/faults"),
        {{QStringLiteral("method"), method}, {QStringLiteral("path"), path},
            {QStringLiteral("responses"),
                responses}}).toObject();
    ASSERT_EQ(answer.value(QLatin1String("queued")).toInt(), responses.size());
}

void CliTest::resetDev() {
    devCall(*server, "POST", QStringLiteral("/__dev/reset"));
}

} // namespace lf::test
