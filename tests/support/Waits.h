#pragma once

#include <functional>

namespace lf::test {

// Runs the main thread's event loop until `done` holds or `timeoutMs` passes; whether it held.
// What a test waits for is often set on another thread without a word to the main thread, so the
// wait looks again every few milliseconds as well as after each delivery.
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 20000);
// Delivers the calls other threads have handed to the main thread so far.
void deliverMainThreadWork();

} // namespace lf::test
