#pragma once

#include <QDateTime>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace lf {

// Every "now", delay, time-out and back-off goes through the installed clock, so tests can
// swap in a FakeClock and run minutes of waiting in milliseconds.
class Clock {
public:
    virtual ~Clock() = default;

    // Wall-clock time.
    virtual QDateTime now() const = 0;
    // Milliseconds on a clock that never goes backwards.
    virtual qint64 monotonicMs() const = 0;
    // Blocks the calling thread for the given time.
    virtual void sleep(std::chrono::milliseconds duration) = 0;

    // Sleeps in slices of at most `slice`, returning early (false) once `cancelled` says so.
    bool sleepUnless(std::chrono::milliseconds duration, const std::function<bool()> &cancelled,
        std::chrono::milliseconds slice = std::chrono::milliseconds(250));

    // Waits up to `duration` on `condition` (with `lock` held), returning early (false) once `stop`
    // holds. Whoever changes what `stop` reads notifies `condition` under the lock, so the wait
    // ends at once. Virtual clocks pass the whole time at once unless `stop` already holds.
    virtual bool waitUnless(std::condition_variable &condition, std::unique_lock<std::mutex> &lock,
        std::chrono::milliseconds duration, const std::function<bool()> &stop);

    double secondsSince(qint64 monotonicStartMs) const { return (monotonicMs() - monotonicStartMs) / 1000.0; }

    // The process-wide clock (a SystemClock unless a test installed another).
    static Clock &instance();
    // Installs `clock` (not owned); nullptr restores the system clock.
    static void install(Clock *clock);
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    qint64 monotonicMs() const override;
    void sleep(std::chrono::milliseconds duration) override;
    bool waitUnless(std::condition_variable &condition, std::unique_lock<std::mutex> &lock,
        std::chrono::milliseconds duration, const std::function<bool()> &stop) override;
};

// Virtual time: sleeps return at once and move time forward. Safe from any thread.
class FakeClock final : public Clock {
public:
    explicit FakeClock(const QDateTime &start = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC));

    QDateTime now() const override;
    qint64 monotonicMs() const override;
    void sleep(std::chrono::milliseconds duration) override;

    void advance(std::chrono::milliseconds duration);
    // Total virtual time spent in sleep() since construction or the last reset.
    std::chrono::milliseconds slept() const { return std::chrono::milliseconds(m_slept.load()); }
    int sleepCount() const { return m_sleeps.load(); }
    void resetCounters();

private:
    QDateTime m_start;
    std::atomic<qint64> m_elapsedMs {0};
    std::atomic<qint64> m_slept {0};
    std::atomic<int> m_sleeps {0};
};

// Installs a FakeClock for the lifetime of the guard.
class ScopedFakeClock {
public:
    ScopedFakeClock() { Clock::install(&clock); }
    // Work started under the fake clock may still read it: it ends before the clock goes.
    ~ScopedFakeClock();
    FakeClock clock;
};

} // namespace lf
