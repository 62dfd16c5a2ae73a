#include "platform/ProcessEnd.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <semaphore.h>
#include <unistd.h>

namespace lf::ProcessEnd {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

sem_t g_countdown;
std::atomic<bool> g_ready {false};
std::atomic<bool> g_armed {false};
std::atomic<int> g_status {0};
int g_pipe[2] = {-1, -1};
std::function<void()> g_quit;

void writeError(const char *text) {
    const size_t length = std::strlen(text);
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, length);
}

// Waits for arm(), then gives the program the time it has and no more. A thread of its own,
// started before anything can get stuck, so neither a blocked main thread nor a signal handler
// has to start it.
void countdown() {
    while (::sem_wait(&g_countdown) != 0 && errno == EINTR) { }
    std::this_thread::sleep_for(std::chrono::milliseconds(kLimitMs));
    writeError("lanternfish: still busy when ending; leaving the rest behind\n");
    ::_exit(g_status.load());
}

void onSignal(int) {
    const int saved = errno;
    arm(0);
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

void install(std::function<void()> quit) {
    if (g_ready.exchange(true))
        return;
    g_quit = std::move(quit);
    ::sem_init(&g_countdown, 0, 0);
    std::thread(countdown).detach();
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char bytes[16];
        while (::read(g_pipe[0], bytes, sizeof bytes) > 0) { }
        if (g_quit)
            g_quit();
    });
    struct sigaction action { };
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

void arm(int status) {
    if (!g_ready.load() || g_armed.exchange(true))
        return;
    g_status.store(status);
    ::sem_post(&g_countdown);
}

void now(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}

} // namespace lf::ProcessEnd
