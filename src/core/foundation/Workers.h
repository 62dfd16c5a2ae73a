#pragma once

#include "foundation/MainThread.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace lf {

// Short-lived background threads ("a new detached thread") that the program can still account
// for: each one is known until it ends, can be asked to cancel, and is waited for before the
// objects it uses go away. A worker that throws is logged and ends; nothing else is affected.
class Workers {
public:
    static Workers &instance();

    Workers() = default;
    ~Workers();
    Workers(const Workers &) = delete;
    Workers &operator=(const Workers &) = delete;

    // Starts `work` on a new thread. Refused (returns false, and logged) after shutdown().
    bool start(const QString &name, std::function<void()> work);

    // True inside a worker once cancelAll() or shutdown() was called; long work polls it.
    static bool cancelled();

    // Asks every running worker to stop at its next check.
    void cancelAll();

    // Waits until no worker runs. On the main thread it keeps delivering queued calls meanwhile,
    // so a worker waiting for the main thread cannot deadlock the wait. timeoutMs < 0: no limit.
    bool waitForAll(int timeoutMs = -1);

    // Cancels, waits for every worker and refuses new ones. The application calls it before quitting.
    void shutdown();

    int runningCount() const;
    // The names of the workers still running, for the log of a program that ends without them.
    QStringList runningNames() const;

private:
    struct Entry {
        QString name;
        std::thread thread;
        bool finished = false;
        std::shared_ptr<std::atomic<bool>> cancel;
    };
    void reapFinished(std::unique_lock<std::mutex> &lock);

    mutable std::mutex m_mutex;
    MainThreadWaiter m_idle;
    std::list<Entry> m_entries;
    bool m_shutDown = false;
    int m_running = 0;
};

} // namespace lf
