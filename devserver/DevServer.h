#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

namespace lf::dev {

struct DevServerOptions {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 0; // 0: any free port
    QString dataDir; // empty: a fresh temporary folder, removed when the server is destroyed
    bool seedDemo = false; // demo accounts, contacts, sites and bundles
    bool devApi = false; // the /__dev/ endpoints (answered only on loopback)
    // A release archive (scripts/make-release) to offer as the update, "Lanternfish-<version>.tar.gz".
    QString updatePackage;
};

// The reference Lanternfish service: HTTP on its own threads, state in SQLite under the data
// folder, photos on disk. Tests run it in-process; lanternfish-devserver wraps it.
class DevServer {
public:
    explicit DevServer(DevServerOptions options = {});
    ~DevServer(); // stops and joins its threads
    DevServer(const DevServer &) = delete;
    DevServer &operator=(const DevServer &) = delete;

    bool start(QString *error = nullptr); // returns once it is listening
    // Ends every connection; start() again restarts it on the same port with the same data.
    void stop();
    quint16 port() const;
    QString baseUrl() const; // "http://127.0.0.1:PORT"
    QString dataDir() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace lf::dev
