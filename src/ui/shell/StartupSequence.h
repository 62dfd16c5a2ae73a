#pragma once

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class QTimer;

namespace lf {

class ClockTimer;
class Service;

// The self-updater's part in start-up; without one there is never an update to offer.
class UpdateChecker {
public:
    virtual ~UpdateChecker() = default;
    // Asks for an update without waiting; `done` hears, on the main thread, whether an update is
    // being offered or installed (then start-up does not sign in).
    virtual void checkForUpdate(std::function<void(bool updating)> done) = 0;
};

// What start-up does besides building the application's parts: the record of its steps, the
// developer reset, the first-run defaults, and the two timers: a one-shot that asks the updater
// and then signs in, and the periodic housekeeping. Main thread only.
class StartupSequence : public QObject {
    Q_OBJECT
public:
    static constexpr int kOneShotMs = 50;
    static constexpr int kPeriodicMs = 2500;

    explicit StartupSequence(std::shared_ptr<Service> service, QObject *parent = nullptr);
    ~StartupSequence() override;

    void step(const char *name) { m_steps.append(QLatin1String(name)); }
    // Steps done so far, by name, in order.
    QStringList steps() const { return m_steps; }
    // The developer reset when Ctrl, Alt and Meta are held at launch.
    void checkReVirgin();
    void checkReVirgin(Qt::KeyboardModifiers held);
    void setUpDefaultPrefs();
    // Starts both timers; `signIn` runs once no update is on offer.
    void startTimers(std::function<void()> signIn);
    // No housekeeping once the application is being taken apart.
    void stopTimers();

    void setUpdateChecker(std::unique_ptr<UpdateChecker> checker) { m_updater = std::move(checker); }
    // The updater goes first at the end: its callbacks must not outlive the program.
    void dropUpdateChecker() { m_updater.reset(); }
    void setHousekeeping(std::function<void()> housekeeping) { m_housekeeping = std::move(housekeeping); }

private:
    void oneShot();

    std::shared_ptr<Service> m_service;
    std::unique_ptr<UpdateChecker> m_updater;
    std::function<void()> m_signIn;
    std::function<void()> m_housekeeping;
    QTimer *m_oneShotTimer = nullptr;
    ClockTimer *m_periodicTimer = nullptr;
    QStringList m_steps;
};

} // namespace lf
