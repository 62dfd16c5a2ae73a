#include "foundation/Clock.h"
#include "foundation/Workers.h"

#include <QElapsedTimer>

#include <thread>

namespace lf {

namespace {
SystemClock g_systemClock;
std::atomic<Clock *> g_clock {&g_systemClock};
} // namespace

Clock &Clock::instance() {
    return *g_clock.load();
}

void Clock::install(Clock *clock) {
    g_clock.store(clock ? clock : &g_systemClock);
}

bool Clock::sleepUnless(std::chrono::milliseconds duration, const std::function<bool()> &cancelled,
    std::chrono::milliseconds slice) {
    auto left = duration;
    while (left.count() > 0) {
        if (cancelled && cancelled())
            return false;
        const auto step = std::min(left, slice);
        sleep(step);
        left -= step;
    }
    return !(cancelled && cancelled());
}

bool Clock::waitUnless(std::condition_variable &, std::unique_lock<std::mutex> &lock,
    std::chrono::milliseconds duration, const std::function<bool()> &stop) {
    if (stop())
        return false;
    lock.unlock();
    sleep(duration);
    lock.lock();
    return !stop();
}

QDateTime SystemClock::now() const {
    return QDateTime::currentDateTimeUtc();
}

qint64 SystemClock::monotonicMs() const {
    static const QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return started.elapsed();
}

void SystemClock::sleep(std::chrono::milliseconds duration) {
    if (duration.count() > 0)
        std::this_thread::sleep_for(duration);
}

bool SystemClock::waitUnless(std::condition_variable &condition, std::unique_lock<std::mutex> &lock,
    std::chrono::milliseconds duration, const std::function<bool()> &stop) {
    return !condition.wait_for(lock, duration, stop);
}

FakeClock::FakeClock(const QDateTime &start)
    : m_start(start.toUTC()) { }

QDateTime FakeClock::now() const {
    return m_start.addMSecs(m_elapsedMs.load());
}

qint64 FakeClock::monotonicMs() const {
    return m_elapsedMs.load();
}

void FakeClock::sleep(std::chrono::milliseconds duration) {
    m_sleeps.fetch_add(1);
    if (duration.count() > 0) {
        m_slept.fetch_add(duration.count());
        m_elapsedMs.fetch_add(duration.count());
    }
    // Let other threads run: a polling loop on virtual time must not starve them.
    std::this_thread::yield();
}

void FakeClock::advance(std::chrono::milliseconds duration) {
    m_elapsedMs.fetch_add(duration.count());
}

void FakeClock::resetCounters() {
    m_slept.store(0);
    m_sleeps.store(0);
}

ScopedFakeClock::~ScopedFakeClock() {
    Workers::instance().waitForAll(10000);
    Clock::install(nullptr);
}

} // namespace lf
