#pragma once

#include "devserver/DevServer.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>

#include <memory>

namespace lf::test {

// Starts the reference server with the demo seed and the dev API on a free loopback port and
// points the client at it. Null, with `error` set, when it cannot start.
std::unique_ptr<dev::DevServer> startDemoServer(QString *error);

// One call of the server's dev API; the answer's JSON (array or object).
QJsonValue devCall(const dev::DevServer &server, const QByteArray &method, const QString &path,
    const QJsonObject &body = {});

} // namespace lf::test
