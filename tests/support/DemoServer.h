#pragma once

#include "devserver/DevServer.h"

#include <memory>

namespace lf::test {

// Starts the reference server with the demo seed and the dev API on a free loopback port and
// points the client at it. Null, with `error` set, when it cannot start.
std::unique_ptr<dev::DevServer> startDemoServer(QString *error);

} // namespace lf::test
