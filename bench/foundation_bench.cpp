// How long the preference store and the log take per call: both are used from hot paths
// (the share worker saves progress through them).
#include "foundation/Log.h"
#include "foundation/Prefs.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QTemporaryDir *g_home = nullptr;

void useTemporaryHome() {
    if (g_home)
        return;
    g_home = new QTemporaryDir;
    qputenv("HOME", QFile::encodeName(g_home->path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(g_home->filePath(QStringLiteral(".config"))));
    lf::Prefs::reloadLocation();
}

void BM_PrefsRead(benchmark::State &state) {
    useTemporaryHome();
    for (int i = 0; i < 50; ++i)
        lf::Prefs::setIntPref(i, QStringLiteral("key%1").arg(i));
    for (auto _ : state)
        benchmark::DoNotOptimize(lf::Prefs::intPrefForKey(QStringLiteral("key25"), 0));
}
BENCHMARK(BM_PrefsRead);

void BM_PrefsWrite(benchmark::State &state) {
    useTemporaryHome();
    int i = 0;
    for (auto _ : state)
        lf::Prefs::setIntPref(++i, QStringLiteral("counter"));
}
BENCHMARK(BM_PrefsWrite);

void BM_DesktopLogLine(benchmark::State &state) {
    useTemporaryHome();
    QDir().mkpath(g_home->filePath(QStringLiteral("Desktop/LanternfishLogs")));
    lf::resetLogStateForTesting();
    lf::CheckReallyWantsLogs();
    for (auto _ : state)
        lf::DesktopLog("void bench()", QStringLiteral("a line of about sixty characters for the benchmark"));
}
BENCHMARK(BM_DesktopLogLine);

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete g_home;
    return 0;
}
