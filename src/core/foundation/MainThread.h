#pragma once

#include <functional>

namespace lf {

// True on the thread that runs the application's event loop (or when there is no application).
bool isMainThread();

// Hands `fn` to the main thread and returns at once; calls run there in the order handed over.
void runOnMainThread(std::function<void()> fn);

// Runs `fn` on the main thread and waits for it. On the main thread it runs directly.
void runOnMainThreadAndWait(const std::function<void()> &fn);

// Runs the main thread's pending events until `done` says so or `timeoutMs` passes
// (negative: no limit). Returns whether `done` held. Used where the main thread must wait
// for a worker that may itself wait for the main thread.
bool pumpMainThreadUntil(const std::function<bool()> &done, int timeoutMs = -1);

} // namespace lf
