#include "foundation/MainThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace lf {

namespace {

// Calls handed to the main thread wait in our own queue, guarded by a std::mutex, and a pipe
// wakes the event loop. Nothing of a call crosses threads through Qt's event queue, so the
// hand-over is also visible to the thread sanitizer.
class MainThreadQueue {
public:
    static MainThreadQueue &instance() {
        static MainThreadQueue queue;
        return queue;
    }

    // Creates the notifier; must run on the main thread once the application exists.
    void attach() {
        std::lock_guard lock(m_mutex);
        if (m_notifier || !QCoreApplication::instance())
            return;
        if (m_pipe[0] < 0 && ::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(m_notifier, &QSocketNotifier::activated, [this] { drain(); });
        m_signalled = false;
        if (!m_calls.empty())
            wake();
    }

    bool attached() {
        std::lock_guard lock(m_mutex);
        return !m_notifier.isNull();
    }

    void push(std::function<void()> fn) {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(fn));
        if (!m_signalled)
            wake();
    }

private:
    void wake() {
        m_signalled = true;
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_pipe[1], &byte, 1);
    }

    void drain() {
        char buf[64];
        while (::read(m_pipe[0], buf, sizeof buf) > 0) { }
        {
            std::lock_guard lock(m_mutex);
            m_signalled = false;
        }
        // One call at a time from the front: a call that runs a nested event loop lets the
        // calls after it run there, still in the order they were handed over.
        for (;;) {
            std::function<void()> call;
            {
                std::lock_guard lock(m_mutex);
                if (m_calls.empty())
                    return;
                call = std::move(m_calls.front());
                m_calls.pop_front();
            }
            call();
        }
    }

    std::mutex m_mutex;
    std::deque<std::function<void()>> m_calls;
    QPointer<QSocketNotifier> m_notifier;
    int m_pipe[2] = {-1, -1};
    bool m_signalled = false;
};

void attachQueue() {
    MainThreadQueue::instance().attach();
}
Q_COREAPP_STARTUP_FUNCTION(attachQueue)

} // namespace

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
    auto &queue = MainThreadQueue::instance();
    if (!queue.attached()) {
        if (isMainThread())
            queue.attach();
        else
            QMetaObject::invokeMethod(app, &attachQueue, Qt::BlockingQueuedConnection);
    }
    queue.push(std::move(fn));
}

void runOnMainThreadAndWait(const std::function<void()> &fn) {
    if (isMainThread()) {
        fn();
        return;
    }
    std::mutex mutex;
    std::condition_variable doneChanged;
    bool done = false;
    runOnMainThread([&] {
        fn();
        std::lock_guard lock(mutex);
        done = true;
        doneChanged.notify_one();
    });
    std::unique_lock lock(mutex);
    doneChanged.wait(lock, [&] { return done; });
}

struct MainThreadWaiter::State {
    std::mutex mutex;
    std::condition_variable changed;
    // The main thread's running wait, if any; read and quit only on the main thread.
    QEventLoop *loop = nullptr;
    bool mainWaiting = false;
    const std::function<bool()> *done = nullptr;
};

MainThreadWaiter::MainThreadWaiter()
    : m_state(std::make_shared<State>()) { }

MainThreadWaiter::~MainThreadWaiter() = default;

void MainThreadWaiter::notify() {
    notifier()();
}

std::function<void()> MainThreadWaiter::notifier() const {
    return [state = m_state] {
        bool wakeMain = false;
        {
            std::lock_guard lock(state->mutex);
            state->changed.notify_all();
            wakeMain = state->mainWaiting;
        }
        if (!wakeMain)
            return;
        // The call may arrive after the wait ended: it looks at the wait running then, if any.
        runOnMainThread([state] {
            if (state->loop && state->done && (*state->done)())
                state->loop->quit();
        });
    };
}

bool MainThreadWaiter::wait(const std::function<bool()> &done, int timeoutMs) {
    if (!QCoreApplication::instance() || !isMainThread()) {
        std::unique_lock lock(m_state->mutex);
        if (timeoutMs < 0) {
            m_state->changed.wait(lock, done);
            return true;
        }
        return m_state->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
    }
    {
        std::lock_guard lock(m_state->mutex);
        m_state->mainWaiting = true;
    }
    // Set before looking at `done`: a change made after the look is sure to wake the loop.
    bool held = done();
    if (!held) {
        QEventLoop loop;
        QEventLoop *outer = m_state->loop;
        const std::function<bool()> *outerDone = m_state->done;
        m_state->loop = &loop;
        m_state->done = &done;
        if (timeoutMs >= 0)
            QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        m_state->loop = outer;
        m_state->done = outerDone;
        held = done();
    }
    std::lock_guard lock(m_state->mutex);
    m_state->mainWaiting = m_state->loop != nullptr;
    return held;
}

} // namespace lf
