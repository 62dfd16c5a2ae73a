#include "foundation/Workers.h"

#include "foundation/Log.h"

#include <exception>

namespace lf {

namespace {
thread_local const std::atomic<bool> *t_cancelFlag = nullptr;
}

Workers &Workers::instance() {
    static Workers workers;
    return workers;
}

Workers::~Workers() {
    shutdown();
}

bool Workers::start(const QString &name, std::function<void()> work) {
    std::unique_lock lock(m_mutex);
    if (m_shutDown) {
        lock.unlock();
        SystemLog(QStringLiteral("%1 refused: the program is stopping").arg(name));
        return false;
    }
    reapFinished(lock);
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    m_entries.push_back(Entry {name, {}, false, cancel});
    auto entry = std::prev(m_entries.end());
    ++m_running;
    entry->thread = std::thread([this, entry, name, cancel, work = std::move(work)] {
        t_cancelFlag = cancel.get();
        try {
            work();
        } catch (const std::exception &e) {
            SystemLog(QStringLiteral("worker %1 ended with an exception: %2")
                          .arg(name, QString::fromUtf8(e.what())));
        } catch (...) {
            SystemLog(QStringLiteral("worker %1 ended with an unknown exception").arg(name));
        }
        {
            std::lock_guard done(m_mutex);
            entry->finished = true;
            --m_running;
        }
        m_idle.notify();
    });
    return true;
}

bool Workers::cancelled() {
    return t_cancelFlag && t_cancelFlag->load();
}

void Workers::cancelAll() {
    // Only the workers running now are cancelled; those started later run normally.
    std::lock_guard lock(m_mutex);
    for (auto &entry : m_entries)
        entry.cancel->store(true);
}

bool Workers::waitForAll(int timeoutMs) {
    const auto idle = [this] {
        std::lock_guard lock(m_mutex);
        return m_running == 0;
    };
    const bool ok = m_idle.wait(idle, timeoutMs);
    std::unique_lock lock(m_mutex);
    reapFinished(lock);
    return ok;
}

void Workers::shutdown() {
    {
        std::lock_guard lock(m_mutex);
        m_shutDown = true;
    }
    cancelAll();
    waitForAll();
}

int Workers::runningCount() const {
    std::lock_guard lock(m_mutex);
    return m_running;
}

QStringList Workers::runningNames() const {
    std::lock_guard lock(m_mutex);
    QStringList names;
    for (const Entry &entry : m_entries) {
        if (!entry.finished)
            names.append(entry.name);
    }
    return names;
}

void Workers::reapFinished(std::unique_lock<std::mutex> &lock) {
    (void)lock;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->finished) {
            it->thread.join();
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace lf
