#include "platform/ScriptingAdaptor.h"

#include "foundation/LogCategories.h"

#include <QDBusError>
#include <QDBusMetaType>
#include <QMetaObject>
#include <QMetaProperty>
#include <QPointer>

#include <limits>

namespace lf {

namespace {
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kNotReadyError = QStringLiteral("com.Lanternfish.MacClient.Error.NotReady");
const QString kNotSignedInError = QStringLiteral("com.Lanternfish.MacClient.Error.NotSignedIn");
} // namespace

ScriptingAdaptor::ScriptingAdaptor(QObject *object, const QDBusConnection &connection, const QString &path)
    : QDBusAbstractAdaptor(object)
    , m_connection(connection)
    , m_path(path) {
    qDBusRegisterMetaType<QList<QVariantMap>>();
}

ScriptingAdaptor::~ScriptingAdaptor() {
    if (m_backend)
        m_backend->setChangeHandler({});
}

void ScriptingAdaptor::setBackend(std::shared_ptr<ScriptingBackend> backend) {
    if (m_backend)
        m_backend->setChangeHandler({});
    m_backend = std::move(backend);
    m_last = snapshot();
    if (m_backend) {
        // The announcement may come from a worker while the adaptor goes away.
        QPointer<ScriptingAdaptor> self(this);
        m_backend->setChangeHandler([self] {
            if (self)
                self->scheduleCheck();
        });
    }
}

// ---- properties ----

QList<QVariantMap> ScriptingAdaptor::currentContacts() const {
    return m_backend ? m_backend->currentContacts() : QList<QVariantMap> {};
}

QList<QVariantMap> ScriptingAdaptor::currentRecipients() const {
    return m_backend ? m_backend->currentRecipients() : QList<QVariantMap> {};
}

QList<QVariantMap> ScriptingAdaptor::currentPhotos() const {
    return m_backend ? m_backend->currentPhotos() : QList<QVariantMap> {};
}

QString ScriptingAdaptor::currentMessage() const {
    return m_backend ? m_backend->currentMessage() : QString();
}

void ScriptingAdaptor::setCurrentMessage(const QString &message) {
    if (m_backend)
        m_backend->setCurrentMessage(message);
}

QString ScriptingAdaptor::currentEmailField() const {
    return m_backend ? m_backend->currentEmailField() : QString();
}

void ScriptingAdaptor::setCurrentEmailField(const QString &text) {
    if (m_backend)
        m_backend->setCurrentEmailField(text);
}

bool ScriptingAdaptor::signedIn() const {
    return m_backend && m_backend->signedIn();
}

bool ScriptingAdaptor::sharing() const {
    return m_backend && m_backend->sharing();
}

// ---- change signals ----

QVariantMap ScriptingAdaptor::snapshot() const {
    QVariantMap values;
    if (!m_backend)
        return values;
    const QMetaObject *meta = metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        values.insert(QString::fromLatin1(property.name()), property.read(this));
    }
    return values;
}

void ScriptingAdaptor::scheduleCheck() {
    // Announcements come from any thread and often in bursts: one check per turn of the loop.
    if (m_checkQueued.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_checkQueued = false;
            checkChanges();
        },
        Qt::QueuedConnection);
}

void ScriptingAdaptor::checkChanges() {
    if (!m_backend)
        return;
    const QVariantMap now = snapshot();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (m_last.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    m_last = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal
        = QDBusMessage::createSignal(m_path, kPropertiesInterface, QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kScriptingInterface) << changed << QStringList();
    m_connection.send(signal);
}

// ---- methods ----

void ScriptingAdaptor::replyError(const QDBusMessage &message, const QString &name, const QString &text) {
    message.setDelayedReply(true);
    m_connection.send(message.createErrorReply(name, text));
}

ScriptingBackend *ScriptingAdaptor::backendFor(const QDBusMessage &message) {
    if (!m_backend)
        replyError(message, kNotReadyError, QStringLiteral("The program is still starting."));
    return m_backend.get();
}

ScriptingBackend *ScriptingAdaptor::accountBackendFor(const QDBusMessage &message) {
    ScriptingBackend *backend = backendFor(message);
    if (backend && !backend->signedIn()) {
        // Nothing reaches the server for an account that signed out.
        replyError(message, kNotSignedInError, QStringLiteral("Nobody is signed in to Lanternfish."));
        return nullptr;
    }
    return backend;
}

void ScriptingAdaptor::indexed(const QDBusMessage &message, uint index, const char *what,
    const std::function<bool(ScriptingBackend &, int)> &call) {
    ScriptingBackend *backend = backendFor(message);
    if (!backend)
        return;
    const bool fits = index <= uint(std::numeric_limits<int>::max());
    if (!fits || !call(*backend, int(index))) {
        qCInfo(lfPlatform) << message.member() << "index" << index << "names no" << what;
        replyError(message, QDBusError::errorString(QDBusError::InvalidArgs),
            QStringLiteral("There is no %1 at index %2.").arg(QLatin1String(what)).arg(index));
    }
}

void ScriptingAdaptor::Share(const QDBusMessage &message) {
    if (ScriptingBackend *backend = accountBackendFor(message))
        backend->share();
}

void ScriptingAdaptor::Cancel(const QDBusMessage &message) {
    if (ScriptingBackend *backend = backendFor(message))
        backend->cancel();
}

void ScriptingAdaptor::SignIn(
    const QString &email, const QString &password, bool committing, const QDBusMessage &message) {
    if (ScriptingBackend *backend = backendFor(message))
        backend->signIn(email, password, committing);
}

void ScriptingAdaptor::SignOut(const QDBusMessage &message) {
    if (ScriptingBackend *backend = backendFor(message))
        backend->signOut();
}

void ScriptingAdaptor::SignUp(const QString &first, const QString &last, const QString &email,
    const QString &password, bool committing, const QDBusMessage &message) {
    if (ScriptingBackend *backend = backendFor(message))
        backend->signUp(first, last, email, password, committing);
}

void ScriptingAdaptor::CreateGroup(
    const QString &name, const QStringList &members, const QDBusMessage &message) {
    if (ScriptingBackend *backend = accountBackendFor(message))
        backend->createGroup(name, members);
}

void ScriptingAdaptor::DeleteContact(const QString &name, const QDBusMessage &message) {
    if (ScriptingBackend *backend = backendFor(message))
        backend->deleteContact(name);
}

void ScriptingAdaptor::AddPhoto(const QString &path, const QString &caption, const QDBusMessage &message) {
    if (ScriptingBackend *backend = backendFor(message))
        backend->addPhoto(path, caption);
}

void ScriptingAdaptor::RemovePhoto(uint index, const QDBusMessage &message) {
    indexed(message, index, "photo", [](ScriptingBackend &b, int i) { return b.removePhoto(i); });
}

void ScriptingAdaptor::SetPhotoCaption(uint index, const QString &caption, const QDBusMessage &message) {
    indexed(
        message, index, "photo", [&](ScriptingBackend &b, int i) { return b.setPhotoCaption(i, caption); });
}

void ScriptingAdaptor::AddContact(const QString &name, const QString &email, const QDBusMessage &message) {
    if (ScriptingBackend *backend = accountBackendFor(message))
        backend->addContact(name, email);
}

void ScriptingAdaptor::RemoveContact(uint index, const QDBusMessage &message) {
    indexed(message, index, "contact", [](ScriptingBackend &b, int i) { return b.removeContact(i); });
}

void ScriptingAdaptor::SetContact(
    uint index, const QString &name, const QString &email, const QDBusMessage &message) {
    indexed(
        message, index, "contact", [&](ScriptingBackend &b, int i) { return b.setContact(i, name, email); });
}

void ScriptingAdaptor::AddRecipient(const QString &name, const QString &email, const QDBusMessage &message) {
    if (ScriptingBackend *backend = accountBackendFor(message))
        backend->addRecipient(name, email);
}

void ScriptingAdaptor::RemoveRecipient(uint index, const QDBusMessage &message) {
    indexed(message, index, "recipient", [](ScriptingBackend &b, int i) { return b.removeRecipient(i); });
}

} // namespace lf
