#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

namespace lf {

// What the scripting interface on the bus reads and changes: the share being composed, the
// server address book and the session state. The desktop shell implements it; the bus side
// only translates calls, so it never needs the interface code. Called on the main thread.
class ScriptingBackend {
public:
    virtual ~ScriptingBackend() = default;

    // Records of the elements: contacts and recipients {"name", "email", "guid"} (groups also
    // "entries"), photos {"path", "caption"}. Made fresh on every read.
    virtual QList<QVariantMap> currentContacts() = 0;
    virtual QList<QVariantMap> currentRecipients() = 0;
    virtual QList<QVariantMap> currentPhotos() = 0;
    virtual QString currentMessage() = 0;
    virtual void setCurrentMessage(const QString &message) = 0;
    virtual QString currentEmailField() = 0;
    virtual void setCurrentEmailField(const QString &text) = 0;
    virtual bool signedIn() = 0;
    virtual bool sharing() = 0;

    // Commands.
    virtual void share() = 0;
    virtual void cancel() = 0;
    virtual void signIn(const QString &email, const QString &password, bool committing) = 0;
    virtual void signOut() = 0;
    virtual void signUp(const QString &first, const QString &last, const QString &email,
        const QString &password, bool committing)
        = 0;
    virtual void createGroup(const QString &name, const QStringList &members) = 0;
    virtual void deleteContact(const QString &name) = 0;

    // Elements. The calls that take an index answer false, changing nothing, when it names no
    // element.
    virtual void addPhoto(const QString &path, const QString &caption) = 0;
    virtual bool removePhoto(int index) = 0;
    virtual bool setPhotoCaption(int index, const QString &caption) = 0;
    virtual void addContact(const QString &name, const QString &email) = 0;
    virtual bool removeContact(int index) = 0;
    // An empty name or e-mail address leaves that value as it is.
    virtual bool setContact(int index, const QString &name, const QString &email) = 0;
    virtual void addRecipient(const QString &name, const QString &email) = 0;
    virtual bool removeRecipient(int index) = 0;

    // `changed` is called, from any thread, whenever one of the values read above may have
    // changed. The reader compares before it tells anyone.
    virtual void setChangeHandler(std::function<void()> changed) = 0;
};

} // namespace lf
