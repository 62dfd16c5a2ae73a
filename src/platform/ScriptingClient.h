#pragma once

#include <QDBusConnection>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

namespace lf {

// The other side of the scripting interface: what lanternfish-cli uses to hand a share to the
// running program and to read its state. Calls block briefly; each answers false (or an invalid
// value) with error() when the program did not answer as it should.
class ScriptingClient {
public:
    explicit ScriptingClient(const QDBusConnection &connection = QDBusConnection::sessionBus(),
        const QString &name = QStringLiteral("com.Lanternfish.MacClient"));

    // The program runs and holds its name on the bus.
    bool programRunning() const;
    // Its process, or 0 when it does not run.
    qint64 programPid() const;

    // Files handed over as the desktop opens them with the program.
    bool open(const QStringList &absolutePaths);
    bool call(const QString &method, const QVariantList &arguments = {});
    QVariant property(const QString &name);
    bool setProperty(const QString &name, const QVariant &value);
    // Records of the list properties (CurrentPhotos, CurrentRecipients, CurrentContacts).
    QList<QVariantMap> records(const QString &name);

    QString error() const { return m_error; }

private:
    QDBusConnection m_connection;
    QString m_name;
    QString m_error;
};

} // namespace lf
