// Photo upload into the reference server: throughput, and how much the process's peak memory grows
// while a 50 MB body goes through (it should stay far below the body's size: the body is streamed
// from disk by the client and to disk by the server).
#include "devserver/DevServer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <sys/resource.h>

namespace {

constexpr qint64 kPhotoBytes = qint64(50) * 1024 * 1024;

long peakRssKb() {
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string compact(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

void BM_PhotoUpload50MB(benchmark::State &state) {
    QTemporaryDir dir;
    const QString photoPath = dir.filePath(QStringLiteral("photo.bin"));
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    {
        QFile out(photoPath);
        out.open(QIODevice::WriteOnly);
        QByteArray slice(1024 * 1024, Qt::Uninitialized);
        for (qint64 written = 0; written < kPhotoBytes; written += slice.size()) {
            for (qsizetype i = 0; i < slice.size(); ++i)
                slice[i] = char((written + i) * 7 >> 5);
            sha1.addData(slice);
            out.write(slice);
        }
    }
    const QString hash = QString::fromLatin1(sha1.result().toHex());

    lf::dev::DevServerOptions options;
    options.seedDemo = true;
    lf::dev::DevServer server(options);
    if (!server.start()) {
        state.SkipWithError("server did not start");
        return;
    }
    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(120, 0);
    client.set_write_timeout(120, 0);
    httplib::Headers headers {{"X-Lanternfish-Version", "0"},
        {"X-Lanternfish-User",
            R"({"email":"demo@lanternfish.test","client_id":"BENCH","password":"lanternfish"})"}};
    const auto verified = client.Get("/api/user/verify", headers);
    const QString token
        = QJsonDocument::fromJson(QByteArray::fromStdString(verified ? verified->body : std::string()))
              .object()
              .value(QStringLiteral("user_token"))
              .toString();
    headers = {{"X-Lanternfish-Version", "0"},
        {"X-Lanternfish-User",
            compact(QJsonObject {{QStringLiteral("email"), QStringLiteral("demo@lanternfish.test")},
                {QStringLiteral("client_id"), QStringLiteral("BENCH")},
                {QStringLiteral("user_token"), token}})}};
    const std::string bundle
        = compact(QJsonObject {{QStringLiteral("bundle_guid"), QStringLiteral("BENCH-BUNDLE")},
            {QStringLiteral("recipients"), QJsonArray {QStringLiteral("ann.friend@lanternfish.test")}},
            {QStringLiteral("photos"),
                QJsonArray {QJsonObject {{QStringLiteral("photo_guid"), QStringLiteral("BENCH-PHOTO")},
                    {QStringLiteral("order"), 0}, {QStringLiteral("type"), QStringLiteral("full")}}}}});
    client.Post("/api/bundle", headers, bundle, "application/octet-stream");
    httplib::Headers photoHeaders = headers;
    photoHeaders.emplace("X-Lanternfish-Params",
        compact(QJsonObject {{QStringLiteral("photo_guid"), QStringLiteral("BENCH-PHOTO")},
            {QStringLiteral("order"), 0}, {QStringLiteral("type"), QStringLiteral("full")},
            {QStringLiteral("hash"), hash}}));

    const long before = peakRssKb();
    for (auto _ : state) {
        auto in = std::make_shared<QFile>(photoPath);
        in->open(QIODevice::ReadOnly);
        const auto result = client.Post(
            "/api/photo", photoHeaders, size_t(kPhotoBytes),
            [in](size_t offset, size_t length, httplib::DataSink &sink) {
                in->seek(qint64(offset));
                const QByteArray slice = in->read(qint64(std::min<size_t>(length, 256 * 1024)));
                sink.write(slice.constData(), size_t(slice.size()));
                return !slice.isEmpty();
            },
            "application/octet-stream");
        if (!result || result->status != 200) {
            state.SkipWithError("upload failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kPhotoBytes);
    state.counters["peak_rss_growth_MB"] = double(peakRssKb() - before) / 1024.0;
}
BENCHMARK(BM_PhotoUpload50MB)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
