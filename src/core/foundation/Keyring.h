#pragma once

#include <QString>

#include <chrono>

namespace lf {

// The desktop's keyring (the Secret Service: GNOME Keyring, KeePassXC, KWallet) through QtKeychain.
// Each call is synchronous for its caller and safe from any thread, the main thread included: the
// keyring's asynchronous jobs run on a thread of their own, and the caller waits at most
// waitLimit(). A keyring that does not answer in time makes every call fail at once until its
// late answer arrives, so a hung keyring costs one wait, not one per call.
class Keyring {
public:
    // The service name under which the entries are kept.
    static constexpr const char *kService = "com.Lanternfish.MacClient";
    // Set to 1: behave as if no keyring ran. Tests set it so that they never touch the keyring of
    // whoever runs them, unless they start one of their own.
    static constexpr const char *kNoKeyringVariable = "LANTERNFISH_NO_KEYRING";

    enum class Outcome {
        Done, // read: the secret is in `secret`
        NotFound, // read: no such entry (remove treats this as Done)
        Absent, // no keyring runs on the session bus
        Failed, // the keyring answered with an error: locked, refused, ...
        TimedOut, // no answer within waitLimit()
    };
    struct Answer {
        Outcome outcome = Outcome::Failed;
        QString secret;
        QString error; // for Failed and TimedOut: why, in words for the user
    };

    static Answer read(const QString &account);
    static Answer write(const QString &account, const QString &secret);
    static Answer remove(const QString &account);

    // How long a caller waits for the keyring: 5 seconds, or LANTERNFISH_KEYRING_WAIT_MS.
    static std::chrono::milliseconds waitLimit();
};

} // namespace lf
