#pragma once

#include <QObject>
#include <QTimer>

namespace lf {

// A repeating timer on the process clock (`Clock::instance()`), for interface timers whose
// period matters to behaviour. With the system clock it is an ordinary QTimer; with the fake
// clock of the tests it fires when virtual time has passed its due time and checkDueTimers()
// (or the real timer) looks. A late check fires once and keeps to the original schedule,
// skipping the periods it missed.
class ClockTimer : public QObject {
    Q_OBJECT
public:
    explicit ClockTimer(QObject *parent = nullptr);
    ~ClockTimer() override;

    void start(int intervalMs);
    void stop();
    bool isActive() const { return m_active; }
    int interval() const { return m_intervalMs; }

    // Fires every started timer of this thread whose due time has come on the clock. Needed only
    // where the clock jumps (the fake clock); the system clock gets there through the real timer.
    static void checkDueTimers();

signals:
    void timeout();

private:
    void check();
    void arm();

    QTimer m_wake;
    qint64 m_dueMs = 0;
    int m_intervalMs = 0;
    bool m_active = false;
};

} // namespace lf
