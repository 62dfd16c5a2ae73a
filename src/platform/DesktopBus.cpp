#include "platform/DesktopBus.h"

#include "foundation/LogCategories.h"
#include "platform/InspectionAdaptor.h"
#include "platform/ScriptingAdaptor.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFileInfo>
#include <QMetaObject>
#include <QRegularExpression>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

namespace lf {

namespace {

const QString kUrlScheme = QStringLiteral("lanternfish");
// A running program that does not answer in this time is taken as hung.
constexpr int kHandOverTimeoutMs = 15000;

// A URI scheme as RFC 3986 writes it, followed by its colon.
bool hasScheme(const QString &item) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    return scheme.match(item).hasMatch();
}

} // namespace

HandedIn sortHandedIn(const QStringList &items, const QString &workingDir) {
    HandedIn out;
    for (const QString &item : items) {
        if (item.isEmpty())
            continue;
        // On a command line, a file whose name looks like "scheme:..." is still a file.
        const bool existingFile = !workingDir.isEmpty() && QFileInfo::exists(QDir(workingDir).filePath(item));
        if (item.startsWith(QLatin1Char('/')) || !hasScheme(item) || existingFile) {
            if (QFileInfo(item).isAbsolute())
                out.files.append(QDir::cleanPath(item));
            else if (!workingDir.isEmpty())
                out.files.append(QDir::cleanPath(QDir(workingDir).absoluteFilePath(item)));
            else
                qCInfo(lfPlatform) << "ignoring a relative path handed in:" << item;
            continue;
        }
        const QUrl url(item);
        if (url.scheme().compare(kUrlScheme, Qt::CaseInsensitive) == 0) {
            out.urls.append(item);
        } else if (url.isLocalFile() && (url.host().isEmpty() || url.host() == QLatin1String("localhost"))) {
            out.files.append(QDir::cleanPath(url.toLocalFile()));
        } else {
            // Remote files and other schemes: nothing here fetches or runs them.
            qCInfo(lfPlatform) << "ignoring a URL handed in:" << url.scheme() << "scheme";
        }
    }
    return out;
}

// org.freedesktop.Application on the program's object.
class ApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    ApplicationAdaptor(DesktopBus *bus, const QDBusConnection &connection)
        : QDBusAbstractAdaptor(bus)
        , m_bus(bus)
        , m_connection(connection) { }

public slots:
    void Activate(const QVariantMap &platformData) {
        Q_UNUSED(platformData)
        m_bus->activate();
    }
    void Open(const QStringList &uris, const QVariantMap &platformData) {
        Q_UNUSED(platformData)
        m_bus->open(uris);
    }
    // The desktop entry's actions; any other name is refused.
    void ActivateAction(const QString &name, const QVariantList &parameter, const QVariantMap &platformData,
        const QDBusMessage &message) {
        Q_UNUSED(parameter)
        Q_UNUSED(platformData)
        if (m_bus->activateAction(name))
            return;
        message.setDelayedReply(true);
        m_connection.send(message.createErrorReply(QDBusError::errorString(QDBusError::InvalidArgs),
            QStringLiteral("There is no action \"%1\".").arg(name)));
    }

private:
    DesktopBus *m_bus;
    QDBusConnection m_connection;
};

DesktopBus::DesktopBus(const QDBusConnection &connection, const QString &name, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
    , m_name(name) {
    new ApplicationAdaptor(this, m_connection);
    m_scripting = new ScriptingAdaptor(this, m_connection, QString::fromLatin1(kBusObjectPath));
}

DesktopBus::~DesktopBus() {
    if (m_ownsName)
        m_connection.interface()->unregisterService(m_name);
    if (m_registered)
        m_connection.unregisterObject(QString::fromLatin1(kBusObjectPath));
}

DesktopBus::Start DesktopBus::start(const QStringList &arguments, const QString &workingDir) {
    if (!m_connection.isConnected() || !m_connection.interface()) {
        qCInfo(lfPlatform) << "no session bus; running as the only instance";
        return Start::Alone;
    }
    const HandedIn items = sortHandedIn(arguments, workingDir);
    // A running program may quit between losing the name to it and calling it: then try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        // The object is in place before the name is ours, so the first call to the name finds it.
        if (!m_registered)
            m_registered = m_connection.registerObject(
                QString::fromLatin1(kBusObjectPath), this, QDBusConnection::ExportAdaptors);
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply
            = m_connection.interface()->registerService(m_name, QDBusConnectionInterface::DontQueueService,
                QDBusConnectionInterface::DontAllowReplacement);
        if (!reply.isValid()) {
            qCWarning(lfPlatform) << "cannot claim the bus name:" << reply.error().message();
            return Start::Alone;
        }
        if (reply.value() == QDBusConnectionInterface::ServiceRegistered) {
            m_ownsName = true;
            if (!items.isEmpty()) {
                m_pending.files += items.files;
                m_pending.urls += items.urls;
                scheduleDelivery();
            }
            return Start::Primary;
        }
        if (const std::optional<Start> handed = handOver(items))
            return *handed;
    }
    m_error = QStringLiteral("Lanternfish is starting or quitting in another process; try again.");
    return Start::Failed;
}

std::optional<DesktopBus::Start> DesktopBus::handOver(const HandedIn &items) {
    if (m_registered) {
        m_connection.unregisterObject(QString::fromLatin1(kBusObjectPath));
        m_registered = false;
    }
    const QString &name = m_name;
    const QString path = QString::fromLatin1(kBusObjectPath);
    const QString interface = QString::fromLatin1(kApplicationInterface);
    QDBusMessage call;
    if (items.isEmpty()) {
        call = QDBusMessage::createMethodCall(name, path, interface, QStringLiteral("Activate"));
        call << QVariantMap();
    } else {
        QStringList uris;
        for (const QString &file : items.files)
            uris.append(QString::fromUtf8(QUrl::fromLocalFile(file).toEncoded()));
        uris += items.urls;
        call = QDBusMessage::createMethodCall(name, path, interface, QStringLiteral("Open"));
        call << uris << QVariantMap();
    }
    call.setAutoStartService(false);
    // BlockWithGui keeps this thread's events flowing, so a program that answers from this same
    // process (the tests) is not deadlocked.
    const QDBusMessage reply = m_connection.call(call, QDBus::BlockWithGui, kHandOverTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return Start::HandedOver;
    const QString error = reply.errorName();
    if (error == QDBusError::errorString(QDBusError::ServiceUnknown)
        || error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        // The owner went away meanwhile: the name may be free now.
        return std::nullopt;
    }
    m_error = QStringLiteral("Lanternfish is already running but did not take the files (%1).")
                  .arg(reply.errorMessage());
    return Start::Failed;
}

void DesktopBus::setReceiver(Receiver receiver) {
    m_receiver = std::move(receiver);
    m_haveReceiver = true;
    scheduleDelivery();
}

void DesktopBus::setScriptingBackend(std::shared_ptr<ScriptingBackend> backend) {
    m_scripting->setBackend(std::move(backend));
}

void DesktopBus::addInspection(std::shared_ptr<InspectionBackend> backend) {
    // Adaptors added after the object was registered are found on the next call.
    new InspectionAdaptor(this, std::move(backend));
}

void DesktopBus::open(const QStringList &uris) {
    const HandedIn items = sortHandedIn(uris, {});
    if (items.isEmpty()) {
        m_pendingActivate = true;
    } else {
        m_pending.files += items.files;
        m_pending.urls += items.urls;
    }
    scheduleDelivery();
}

void DesktopBus::activate() {
    m_pendingActivate = true;
    scheduleDelivery();
}

bool DesktopBus::activateAction(const QString &name) {
    if (name != QLatin1String(kActionNewShare) && name != QLatin1String(kActionSettings))
        return false;
    m_pendingActions.append(name);
    scheduleDelivery();
    return true;
}

void DesktopBus::scheduleDelivery() {
    // A call is answered first and carried out afterwards, so a caller waiting for the answer
    // never waits for a window or an alert.
    if (!m_haveReceiver || m_deliveryQueued)
        return;
    m_deliveryQueued = true;
    QMetaObject::invokeMethod(
        this, [this] { deliverPending(); }, Qt::QueuedConnection);
}

void DesktopBus::deliverPending() {
    m_deliveryQueued = false;
    const HandedIn items = std::exchange(m_pending, {});
    const bool activateNow = std::exchange(m_pendingActivate, false);
    if (!items.files.isEmpty() && m_receiver.openFiles)
        m_receiver.openFiles(items.files);
    for (const QString &url : items.urls) {
        if (m_receiver.openUrl)
            m_receiver.openUrl(url);
    }
    if (activateNow && m_receiver.activate)
        m_receiver.activate();
    for (const QString &action : std::exchange(m_pendingActions, {})) {
        if (m_receiver.action)
            m_receiver.action(action);
    }
}

} // namespace lf

#include "DesktopBus.moc"
