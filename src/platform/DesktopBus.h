#pragma once

#include "platform/ScriptingBackend.h"

#include <QDBusConnection>
#include <QDir>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace lf {

class InspectionBackend;
class ScriptingAdaptor;

// The program's name on the session bus (also the desktop entry's and the icon's name) and the
// path of its one object.
inline constexpr const char *kBusName = "com.Lanternfish.MacClient";
inline constexpr const char *kBusObjectPath = "/com/Lanternfish/MacClient";
inline constexpr const char *kApplicationInterface = "org.freedesktop.Application";
// The desktop entry's actions.
inline constexpr const char *kActionNewShare = "new-share";
inline constexpr const char *kActionSettings = "settings";

// What a start or an Open call hands in: local files (absolute paths) and lanternfish: URLs.
struct HandedIn {
    QStringList files;
    QStringList urls;
    bool isEmpty() const { return files.isEmpty() && urls.isEmpty(); }
};

// Sorts command-line arguments or Open's URIs. file: URLs become local paths; a relative path
// is taken against `workingDir`, and dropped when that is empty (a caller on the bus has no
// working folder of ours); lanternfish: URLs are kept as they are; other schemes are dropped.
HandedIn sortHandedIn(const QStringList &items, const QString &workingDir);

// The running program on the session bus: owns the name, exports org.freedesktop.Application
// and the scripting interface, and makes a second start hand its files and URLs to the first.
class DesktopBus : public QObject {
    Q_OBJECT
public:
    enum class Start {
        Primary, // this process owns the name
        HandedOver, // another process owns it and took the arguments: exit 0
        Alone, // no session bus (or the name cannot be had): go on as the only instance
        Failed, // another process owns the name but did not take the arguments; see error()
    };

    struct Receiver {
        std::function<void(const QStringList &files)> openFiles;
        std::function<void(const QString &url)> openUrl;
        std::function<void()> activate;
        // One of the desktop entry's actions, by name.
        std::function<void(const QString &name)> action;
    };

    // `name` is the program's own except in tests, which run beside each other on one bus.
    explicit DesktopBus(const QDBusConnection &connection = QDBusConnection::sessionBus(),
        const QString &name = QString::fromLatin1(kBusName), QObject *parent = nullptr);
    ~DesktopBus() override;

    // Claims the name without queueing, so two starts at once never both win. When another
    // process has it, hands it `arguments` (the command line after the program's name; relative
    // paths against `workingDir`) with Open, or Activate when there are none. As the primary,
    // the arguments wait for the receiver like any Open.
    Start start(const QStringList &arguments, const QString &workingDir = QDir::currentPath());
    QString error() const { return m_error; }

    // What Open and Activate reach. What came before a receiver waits for it, and is delivered
    // on the next turn of the event loop.
    void setReceiver(Receiver receiver);
    void setScriptingBackend(std::shared_ptr<ScriptingBackend> backend);
    ScriptingAdaptor *scripting() const { return m_scripting; }
    // Adds the inspection interface (a testing aid; see InspectionAdaptor.h) to the object.
    void addInspection(std::shared_ptr<InspectionBackend> backend);

    // Called by the org.freedesktop.Application adaptor.
    void open(const QStringList &uris);
    void activate();
    // False for a name that is none of the desktop entry's actions.
    bool activateAction(const QString &name);

private:
    // Calls the owner of the name; nothing when it went away before it answered.
    std::optional<Start> handOver(const HandedIn &items);
    void deliverPending();
    void scheduleDelivery();

    QDBusConnection m_connection;
    QString m_name;
    bool m_registered = false;
    bool m_ownsName = false;
    QString m_error;
    ScriptingAdaptor *m_scripting = nullptr;
    Receiver m_receiver;
    bool m_haveReceiver = false;
    HandedIn m_pending;
    bool m_pendingActivate = false;
    QStringList m_pendingActions;
    bool m_deliveryQueued = false;
};

} // namespace lf
