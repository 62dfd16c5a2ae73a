// lanternfish-devserver [--host H] [--port N] [--data DIR] [--seed demo] [--dev-api] [--update-package FILE]
#include "DevServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <pthread.h>

int main(int argc, char **argv) {
    // Blocked before any thread starts, so only the wait below receives them. A shell starts
    // background jobs with SIGINT ignored, and an ignored signal never reaches sigwait.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lanternfish-devserver"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reference Lanternfish server for local runs, demos and tests."));
    parser.addHelpOption();
    const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("Address to listen on."),
        QStringLiteral("host"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port (0: any free port)."),
        QStringLiteral("port"), QStringLiteral("3000"));
    const QCommandLineOption data(QStringLiteral("data"),
        QStringLiteral(
            "Data folder; state survives restarts with the same folder. Default: a temporary folder."),
        QStringLiteral("dir"));
    const QCommandLineOption seed(
        QStringLiteral("seed"), QStringLiteral("Seed data set: demo."), QStringLiteral("set"));
    const QCommandLineOption devApi(
        QStringLiteral("dev-api"), QStringLiteral("Serve the /__dev/ API on loopback."));
    const QCommandLineOption updatePackage(QStringLiteral("update-package"),
        QStringLiteral("Offer this release archive (Lanternfish-<version>.tar.gz) as the update."),
        QStringLiteral("file"));
    parser.addOptions({host, port, data, seed, devApi, updatePackage});
    parser.process(app);

    lf::dev::DevServerOptions options;
    options.host = parser.value(host);
    bool portOk = false;
    const uint portNumber = parser.value(port).toUInt(&portOk);
    if (!portOk || portNumber > 65535) {
        std::fprintf(stderr, "lanternfish-devserver: invalid port %s\n", qPrintable(parser.value(port)));
        return 2;
    }
    options.port = quint16(portNumber);
    options.dataDir = parser.value(data);
    if (parser.isSet(seed)) {
        if (parser.value(seed) != QLatin1String("demo")) {
            std::fprintf(stderr, "lanternfish-devserver: unknown seed %s (known: demo)\n",
                qPrintable(parser.value(seed)));
            return 2;
        }
        options.seedDemo = true;
    }
    options.devApi = parser.isSet(devApi);
    options.updatePackage = parser.value(updatePackage);

    lf::dev::DevServer server(options);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "lanternfish-devserver: %s\n", qPrintable(error));
        return 1;
    }
    const QString shownHost
        = options.host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(options.host) : options.host;
    std::printf("listening on http://%s:%u\n", qPrintable(shownHost), unsigned(server.port()));
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    return 0;
}
