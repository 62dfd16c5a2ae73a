#include "toolkit/ClockTimer.h"

#include "foundation/Clock.h"

#include <QList>
#include <QPointer>

namespace lf {

namespace {

// The timers of the main thread (interface timers live there).
QList<ClockTimer *> &registry() {
    static thread_local QList<ClockTimer *> timers;
    return timers;
}

} // namespace

ClockTimer::ClockTimer(QObject *parent)
    : QObject(parent) {
    m_wake.setSingleShot(true);
    m_wake.setTimerType(Qt::PreciseTimer);
    connect(&m_wake, &QTimer::timeout, this, &ClockTimer::check);
    registry().append(this);
}

ClockTimer::~ClockTimer() {
    registry().removeAll(this);
}

void ClockTimer::start(int intervalMs) {
    m_intervalMs = std::max(1, intervalMs);
    m_dueMs = Clock::instance().monotonicMs() + m_intervalMs;
    m_active = true;
    arm();
}

void ClockTimer::stop() {
    m_active = false;
    m_wake.stop();
}

void ClockTimer::arm() {
    const qint64 left = m_dueMs - Clock::instance().monotonicMs();
    m_wake.start(int(std::clamp<qint64>(left, 0, m_intervalMs)));
}

void ClockTimer::check() {
    if (!m_active)
        return;
    const qint64 now = Clock::instance().monotonicMs();
    if (now < m_dueMs) {
        arm();
        return;
    }
    // Next due time on the original grid, past now.
    const qint64 missed = (now - m_dueMs) / m_intervalMs;
    m_dueMs += (missed + 1) * m_intervalMs;
    arm();
    // Last: the receiver may stop or delete this timer.
    emit timeout();
}

void ClockTimer::checkDueTimers() {
    // A copy: a timeout may create or delete timers.
    const QList<ClockTimer *> timers = registry();
    QList<QPointer<ClockTimer>> live;
    for (ClockTimer *t : timers)
        live << QPointer<ClockTimer>(t);
    for (const auto &t : live) {
        if (t && t->m_active)
            t->check();
    }
}

} // namespace lf
