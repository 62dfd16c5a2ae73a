#pragma once

#include <QVariantMap>

namespace lf {

// What the session tells the application. Both calls arrive on the main thread.
class ServiceDelegate {
public:
    virtual ~ServiceDelegate() = default;

    // A session operation ended; `result` is its result record ("clientAction", and "error",
    // "status", "body" on failure). Sign-in waits until this returns.
    virtual void serviceThreadCompleted(const QVariantMap &result) = 0;

    // Progress of work in flight ({"what", and "value" or "string"}); the session does not wait.
    virtual void serviceThreadProgress(const QVariantMap &progress) { (void)progress; }
};

} // namespace lf
