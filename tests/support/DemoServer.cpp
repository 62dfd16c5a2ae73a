#include "support/DemoServer.h"

#include "api/ServiceAPI.h"

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

} // namespace lf::test
