#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QProcess>
#include <QString>

#include <memory>
#include <optional>

namespace lf::test {

// A session bus of the test's own (a dbus-daemon that starts nothing by activation), so that a
// keyring started on it is seen by this test's programs only, not by tests running beside it.
// While the object lives, DBUS_SESSION_BUS_ADDRESS names it: the programs a test starts use it.
// The test process's own bus connection, if it has one already, stays where it was.
class PrivateBus {
public:
    // `folder`: where the bus socket and the keyring's files go (the test's temporary home).
    // With `address`, the keyring goes on that bus (one the test made itself), which is left as it is.
    explicit PrivateBus(const QString &folder, const QString &address = {});
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    bool started() const { return !m_address.isEmpty(); }
    QString error() const { return m_error; }
    QString address() const { return m_address; }

    // GNOME Keyring's Secret Service, its login keyring created and unlocked with a password given
    // on standard input. False (see error()) when it does not take its bus name in time.
    bool startKeyring();
    // Takes the Secret Service's bus name and never answers a call made to it.
    bool startSilentKeyring();
    void stopKeyring();
    // Locks the login keyring: reading it then needs a prompt, which this bus cannot show.
    bool lockKeyring();

    // The secret stored for `account` under the client's service name, read with secret-tool.
    std::optional<QString> lookup(const QString &account) const;

private:
    bool waitForKeyringName();
    QDBusConnection connection();

    QString m_folder;
    QString m_address;
    QString m_error;
    QByteArray m_previousAddress;
    bool m_hadAddress = false;
    bool m_ownBus = false;
    QByteArray m_noKeyring; // the variable's value before, to put back
    QProcess m_daemon;
    QProcess m_keyring;
    QString m_connectionName;
    std::unique_ptr<QObject> m_silentObject;
};

} // namespace lf::test
