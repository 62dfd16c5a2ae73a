#pragma once

#include "ProgramRun.h"

#include "devserver/DevServer.h"
#include "support/TempHome.h"

#include <QJsonArray>
#include <QJsonObject>

#include <memory>

namespace lf::test {

inline constexpr char kDemoEmail[] = "demo@lanternfish.test";
inline constexpr char kDemoPassword[] = "lanternfish";
inline constexpr char kErrorPrefix[] = "lanternfish-cli: ";

QString cliPath();
// One run of lanternfish-cli in the current temporary home.
RunResult cli(const QStringList &args, const QByteArray &input = {}, int timeoutMs = kRunTimeoutMs);
// The lines of standard error that report an error.
QStringList errorLines(const RunResult &result);
QJsonValue parseJson(const QString &text);

// Every test: its own temporary home, and the seeded reference server in-process on a free
// loopback port with the client pointed at it.
class CliTest : public TempHomeTest {
protected:
    void SetUp() override;
    void TearDown() override;

    QString hostPort() const; // "127.0.0.1:PORT"
    void signIn(); // as the demo user; fails the test when it does not work
    void stopServer();

    // The server's dev API.
    QJsonObject devState();
    QJsonObject demoUser(); // the demo user's record in the state
    QJsonArray bundlesWithMessage(const QString &message);
    // Requests since the last reset, optionally only those of one method and path.
    QList<QJsonObject> requests(const QString &method = {}, const QString &path = {});
    void addFaults(const QString &method, const QString &path, const QJsonArray &responses);
    void resetDev(); // empties the request log and the faults, releases stalled requests

    std::unique_ptr<dev::DevServer> server;
    quint16 port = 0;
};

} // namespace lf::test
