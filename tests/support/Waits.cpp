#include "support/Waits.h"

#include "foundation/MainThread.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>

namespace lf::test {

namespace {
constexpr int kRecheckMs = 5;
} // namespace

bool waitUntil(const std::function<bool()> &done, int timeoutMs) {
    if (done())
        return true;
    QEventLoop loop;
    bool held = false;
    const auto check = [&] {
        if (!held && done()) {
            held = true;
            loop.quit();
        }
    };
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop,
        check, Qt::DirectConnection);
    QTimer recheck;
    QObject::connect(&recheck, &QTimer::timeout, &loop, check);
    recheck.start(kRecheckMs);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return held || done();
}

void deliverMainThreadWork() {
    // A call handed over now runs after everything handed over before it.
    bool reached = false;
    runOnMainThread([&reached] { reached = true; });
    waitUntil([&reached] { return reached; });
}

} // namespace lf::test
