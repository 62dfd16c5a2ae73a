#pragma once

#include "platform/ScriptingBackend.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>

namespace lf {

inline constexpr const char *kScriptingInterface = "com.Lanternfish.MacClient.Scripting";

// The scripting interface on the bus. Each call goes to the backend; an index that names no
// element gets an InvalidArgs error reply. Property changes the backend announces are checked
// against the values last seen and signalled through PropertiesChanged, each real change once.
class ScriptingAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.Lanternfish.MacClient.Scripting")
    Q_PROPERTY(QList<QVariantMap> CurrentContacts READ currentContacts)
    Q_PROPERTY(QList<QVariantMap> CurrentRecipients READ currentRecipients)
    Q_PROPERTY(QList<QVariantMap> CurrentPhotos READ currentPhotos)
    Q_PROPERTY(QString CurrentMessage READ currentMessage WRITE setCurrentMessage)
    Q_PROPERTY(QString CurrentEmailField READ currentEmailField WRITE setCurrentEmailField)
    Q_PROPERTY(bool SignedIn READ signedIn)
    Q_PROPERTY(bool Sharing READ sharing)

public:
    // `object` is the exported object at `path` on `connection`, and the adaptor's parent.
    ScriptingAdaptor(QObject *object, const QDBusConnection &connection, const QString &path);
    ~ScriptingAdaptor() override;

    // Null answers every call with an error until a backend is set.
    void setBackend(std::shared_ptr<ScriptingBackend> backend);

    QList<QVariantMap> currentContacts() const;
    QList<QVariantMap> currentRecipients() const;
    QList<QVariantMap> currentPhotos() const;
    QString currentMessage() const;
    void setCurrentMessage(const QString &message);
    QString currentEmailField() const;
    void setCurrentEmailField(const QString &text);
    bool signedIn() const;
    bool sharing() const;

    // Compares every property with its last seen value and signals the changed ones.
    void checkChanges();

public slots:
    void Share(const QDBusMessage &message);
    void Cancel(const QDBusMessage &message);
    void SignIn(const QString &email, const QString &password, bool committing, const QDBusMessage &message);
    void SignOut(const QDBusMessage &message);
    void SignUp(const QString &first, const QString &last, const QString &email, const QString &password,
        bool committing, const QDBusMessage &message);
    void CreateGroup(const QString &name, const QStringList &members, const QDBusMessage &message);
    void DeleteContact(const QString &name, const QDBusMessage &message);
    void AddPhoto(const QString &path, const QString &caption, const QDBusMessage &message);
    void RemovePhoto(uint index, const QDBusMessage &message);
    void SetPhotoCaption(uint index, const QString &caption, const QDBusMessage &message);
    void AddContact(const QString &name, const QString &email, const QDBusMessage &message);
    void RemoveContact(uint index, const QDBusMessage &message);
    void SetContact(uint index, const QString &name, const QString &email, const QDBusMessage &message);
    void AddRecipient(const QString &name, const QString &email, const QDBusMessage &message);
    void RemoveRecipient(uint index, const QDBusMessage &message);

private:
    // The backend, or null after an error reply to `message`.
    ScriptingBackend *backendFor(const QDBusMessage &message);
    // The backend for a call that acts for the account: refused while nobody is signed in.
    ScriptingBackend *accountBackendFor(const QDBusMessage &message);
    // Runs an indexed call; an index past the end (or beyond int) gets an error reply.
    void indexed(const QDBusMessage &message, uint index, const char *what,
        const std::function<bool(ScriptingBackend &, int)> &call);
    void replyError(const QDBusMessage &message, const QString &name, const QString &text);
    QVariantMap snapshot() const;
    void scheduleCheck();

    QDBusConnection m_connection;
    QString m_path;
    std::shared_ptr<ScriptingBackend> m_backend;
    QVariantMap m_last;
    std::atomic<bool> m_checkQueued {false};
};

} // namespace lf
