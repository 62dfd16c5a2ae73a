#pragma once

#include <functional>

namespace lf {

// How the desktop program's process ends once it was asked to: within a fixed time, whatever a
// thread is stuck in (a blocking open() of a FIFO, a server that stalls). The program first
// cancels and waits as far as it can; what is still running when the time is up is left behind,
// as everything worth keeping is on disk by then.
namespace ProcessEnd {

// From the request to end to the end of the process, at most (the desktop allows five seconds).
inline constexpr int kLimitMs = 4500;

// Once, in main(), with the application made: SIGTERM (the session ends), SIGINT and SIGHUP call
// `quit` on the main thread, and the countdown of arm() is readied.
void install(std::function<void()> quit);

// Starts the countdown: when the process still runs kLimitMs later it ends at once with `status`.
// Only the first call counts. Safe in a signal handler.
void arm(int status);

// Ends the process now with `status`, without waiting for any thread or running destructors.
[[noreturn]] void now(int status);

} // namespace ProcessEnd

} // namespace lf
