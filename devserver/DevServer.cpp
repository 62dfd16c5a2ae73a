#include "DevServer.h"

#include "Connection.h"
#include "Pages.h"
#include "Service.h"
#include "Store.h"

#include <QDir>
#include <QTemporaryDir>

#include <httplib.h>

#include <chrono>
#include <thread>

namespace lf::dev {

namespace {

// Enough threads that stalled and keep-alive connections do not starve new clients.
constexpr size_t kWorkerThreads = 32;
constexpr size_t kMaxPayload = size_t(1) << 30;

bool isWildcard(const QString &host) {
    return host == QLatin1String("0.0.0.0") || host == QLatin1String("::") || host.isEmpty();
}

} // namespace

struct DevServer::Impl {
    DevServerOptions options;
    std::unique_ptr<QTemporaryDir> tempDir;
    QString dataDir;
    Store store;
    std::unique_ptr<Service> service;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    quint16 port = 0;
};

DevServer::DevServer(DevServerOptions options)
    : d(std::make_unique<Impl>()) {
    d->options = std::move(options);
}

DevServer::~DevServer() {
    stop();
}

bool DevServer::start(QString *error) {
    auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    if (d->server)
        return fail(QStringLiteral("already started"));
    ignoreBrokenPipes();

    // A restart (start after stop) comes back with the same data on the same port.
    if (d->dataDir.isEmpty())
        d->dataDir = d->options.dataDir;
    if (d->dataDir.isEmpty()) {
        d->tempDir = std::make_unique<QTemporaryDir>();
        if (!d->tempDir->isValid())
            return fail(QStringLiteral("cannot create a temporary data folder"));
        d->dataDir = d->tempDir->path();
    }
    d->dataDir = QDir(d->dataDir).absolutePath();
    for (const char *sub : {"", "photos", "logs", "tmp"}) {
        if (!QDir().mkpath(QDir(d->dataDir).filePath(QLatin1String(sub))))
            return fail(QStringLiteral("cannot create the data folder %1").arg(d->dataDir));
    }
    // Uploads cut off by an earlier crash leave partial files behind; none is in flight now.
    QDir tmp(QDir(d->dataDir).filePath(QStringLiteral("tmp")));
    for (const QString &part : tmp.entryList({QStringLiteral("*.part")}, QDir::Files))
        tmp.remove(part);
    QString storeError;
    if (!d->store.open(QDir(d->dataDir).filePath(QStringLiteral("lanternfish.sqlite3")), &storeError))
        return fail(storeError);

    auto server = std::make_unique<httplib::Server>();
    server->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    server->set_read_timeout(60, 0);
    server->set_write_timeout(60, 0);
    server->set_keep_alive_max_count(1000);
    // A response goes out as several writes: without this each waits for the delayed ACK of the
    // one before (40 ms a request on loopback).
    server->set_tcp_nodelay(true);
    server->set_payload_max_length(kMaxPayload);

    const std::string host = d->options.host.toStdString();
    int port = d->port != 0 ? d->port : d->options.port;
    if (port == 0)
        port = server->bind_to_any_port(host);
    else if (!server->bind_to_port(host, port))
        port = -1;
    if (port <= 0)
        return fail(
            QStringLiteral("cannot listen on %1:%2").arg(d->options.host, QString::number(d->options.port)));
    d->port = quint16(port);

    d->service = std::make_unique<Service>(d->options, d->dataDir, d->store, d->port);
    if (d->options.seedDemo)
        d->service->seedDemo();
    if (!d->options.updatePackage.isEmpty() && !d->service->offerPackage(d->options.updatePackage))
        return fail(QStringLiteral("%1 is not a readable Lanternfish-<version>.tar.gz")
                        .arg(d->options.updatePackage));

    Service *service = d->service.get();
    auto plain = [service](const httplib::Request &req, httplib::Response &res) {
        service->handle(req, res, nullptr);
    };
    auto reading = [service](const httplib::Request &req, httplib::Response &res,
                       const httplib::ContentReader &reader) { service->handle(req, res, &reader); };
    server->Get(".*", plain);
    server->Options(".*", plain);
    server->Post(".*", reading);
    server->Put(".*", reading);
    server->Patch(".*", reading);
    server->Delete(".*", reading);
    // Errors httplib answers by itself (a malformed request line, headers over its limits) get
    // the service's error body too.
    server->set_error_handler(httplib::Server::Handler([](const httplib::Request &, httplib::Response &res) {
        if (res.body.empty()) {
            const QByteArray body = QByteArray("{\"Error\":\"") + reasonPhrase(res.status) + "\"}";
            res.set_content(body.toStdString(), "application/json; charset=utf-8");
        }
    }));
    server->set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        res.status = 500;
        res.set_content("{\"Error\":\"Internal Server Error\"}", "application/json; charset=utf-8");
    });

    httplib::Server *raw = server.get();
    d->server = std::move(server);
    d->thread = std::thread([raw] { raw->listen_after_bind(); });
    // stop() only works once the accept loop runs; wait for it so start/stop never races.
    for (int i = 0; i < 5000 && !raw->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void DevServer::stop() {
    if (!d->server)
        return;
    d->service->shutdown();
    d->server->stop();
    if (d->thread.joinable())
        d->thread.join();
    d->server.reset();
    d->service.reset();
}

quint16 DevServer::port() const {
    return d->port;
}

QString DevServer::baseUrl() const {
    const QString host = isWildcard(d->options.host) ? QStringLiteral("127.0.0.1") : d->options.host;
    const QString shown = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return QStringLiteral("http://%1:%2").arg(shown, QString::number(d->port));
}

QString DevServer::dataDir() const {
    return d->dataDir;
}

} // namespace lf::dev
