#pragma once

#include <functional>
#include <memory>

namespace lf {

// True on the thread that runs the application's event loop (or when there is no application).
bool isMainThread();

// Hands `fn` to the main thread and returns at once; calls run there in the order handed over.
void runOnMainThread(std::function<void()> fn);

// Runs `fn` on the main thread and waits for it. On the main thread it runs directly.
void runOnMainThreadAndWait(const std::function<void()> &fn);

// A wait for something another thread brings about, ended by that thread rather than by polling.
// On the main thread wait() runs a local event loop, so queued main-thread calls (which the
// other thread may be waiting for) keep being delivered; elsewhere it blocks.
class MainThreadWaiter {
public:
    MainThreadWaiter();
    ~MainThreadWaiter();
    MainThreadWaiter(const MainThreadWaiter &) = delete;
    MainThreadWaiter &operator=(const MainThreadWaiter &) = delete;

    // From any thread, after changing what `done` reads: a wait looks at it again.
    void notify();
    // notify() as a call that stays safe after the waiter is gone: for a thread whose last act
    // ends the wait, and with it maybe the waiter's owner.
    std::function<void()> notifier() const;
    // Waits until `done` holds or `timeoutMs` passes (negative: no limit). Returns whether it held.
    bool wait(const std::function<bool()> &done, int timeoutMs = -1);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace lf
