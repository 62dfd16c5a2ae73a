#include "foundation/MainThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <thread>

namespace lf {

bool isMainThread() {
    auto *app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void runOnMainThread(std::function<void()> fn) {
    auto *app = QCoreApplication::instance();
    if (!app) {
        fn();
        return;
    }
    // Queued calls to one receiver are delivered in the order they were posted.
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void runOnMainThreadAndWait(const std::function<void()> &fn) {
    if (isMainThread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), fn, Qt::BlockingQueuedConnection);
}

bool pumpMainThreadUntil(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    const bool pump = QCoreApplication::instance() && isMainThread();
    while (!done()) {
        if (timeoutMs >= 0 && timer.elapsed() >= timeoutMs)
            return done();
        if (pump) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace lf
