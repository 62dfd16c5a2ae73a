#pragma once

#include "platform/ScriptingBackend.h"

#include <QMutex>
#include <QObject>
#include <QVariantList>

#include <functional>
#include <memory>

namespace lf {

class Service;

// What scripts ask for, as notifications; the parts that own the data carry them out on the
// main thread, as if the user had done it in the window.
inline constexpr const char *kScriptCommandNotification = "scriptCommand"; // user info below
inline constexpr const char *kScriptNotification = "scriptNotification"; // user info {key: value}
inline constexpr const char *kPhotoAddedNotification = "photoAdded"; // {"url", "caption"}
inline constexpr const char *kPhotoDeletedNotification = "photoDeleted"; // the PhotoInfo
inline constexpr const char *kCaptionChangedNotification = "captionChanged"; // none
inline constexpr const char *kContactChangedNotification = "contactChanged"; // the entry written
inline constexpr const char *kContactCreatedNotification = "contactCreated"; // {"name", "email"}
inline constexpr const char *kContactDeletedNotification = "contactDeleted"; // the entry
inline constexpr const char *kRecipientAddedNotification = "recipientAdded"; // {"name" and/or "email"}
inline constexpr const char *kRecipientDeletedNotification = "recipientDeleted"; // the index

// Keys of the user info and parameters, and of the scripted records.
namespace ScriptKey {
inline constexpr const char *Command = "command";
inline constexpr const char *Parameter = "parameter"; // JSON null for none (nullFix reads it)
inline constexpr const char *Message = "message";
inline constexpr const char *EmailField = "emailField";
inline constexpr const char *Email = "email";
inline constexpr const char *Password = "password";
inline constexpr const char *Committing = "committing";
inline constexpr const char *First = "first";
inline constexpr const char *Last = "last";
inline constexpr const char *Name = "name";
inline constexpr const char *Members = "members";
inline constexpr const char *Guid = "guid";
inline constexpr const char *Entries = "entries";
inline constexpr const char *Path = "path";
inline constexpr const char *Url = "url";
inline constexpr const char *Caption = "caption";
} // namespace ScriptKey

// The command names of "scriptCommand".
namespace ScriptCommand {
inline constexpr const char *Cancel = "cancel";
inline constexpr const char *Share = "share";
inline constexpr const char *SignOut = "signOut";
inline constexpr const char *SignIn = "signIn";
inline constexpr const char *SignUp = "signUp";
inline constexpr const char *CreateGroup = "createGroup";
inline constexpr const char *DeleteContact = "contactDeleted"; // parameter: the contact's name
} // namespace ScriptCommand

// The scripting layer: reads the session's contacts and the current share task into scripted
// records, and turns every change a script asks for into its notification. Main-thread object.
class Scripting : public QObject, public ScriptingBackend {
public:
    // Whether someone is signed in and whether shares are being sent: the application knows.
    struct State {
        std::function<bool()> signedIn;
        std::function<bool()> sharing;
    };

    Scripting(std::shared_ptr<Service> service, State state);
    ~Scripting() override;

    // The record of one address-book entry: a group reads with "%" and its name as its e-mail
    // address, and with its "entries".
    static QVariantMap contactRecord(const QVariantMap &entry);
    // The record of one recipient string, looked up in `contacts` ("%" groups and e-mail
    // addresses) or `destinations` ("@" sites). Found nowhere: the string as e-mail address,
    // name and guid empty.
    static QVariantMap recipientRecord(
        const QString &recipient, const QVariantList &contacts, const QVariantList &destinations);

    QList<QVariantMap> currentContacts() override;
    QList<QVariantMap> currentRecipients() override;
    QList<QVariantMap> currentPhotos() override;
    QString currentMessage() override;
    void setCurrentMessage(const QString &message) override;
    QString currentEmailField() override;
    void setCurrentEmailField(const QString &field) override;
    bool signedIn() override;
    bool sharing() override;

    void share() override;
    void cancel() override;
    void signIn(const QString &email, const QString &password, bool committing) override;
    void signOut() override;
    void signUp(const QString &first, const QString &last, const QString &email, const QString &password,
        bool committing) override;
    void createGroup(const QString &name, const QStringList &members) override;
    void deleteContact(const QString &name) override;

    void addPhoto(const QString &path, const QString &caption) override;
    bool removePhoto(int index) override;
    bool setPhotoCaption(int index, const QString &caption) override;
    void addContact(const QString &name, const QString &email) override;
    bool removeContact(int index) override;
    bool setContact(int index, const QString &name, const QString &email) override;
    void addRecipient(const QString &name, const QString &email) override;
    bool removeRecipient(int index) override;

    void setChangeHandler(std::function<void()> changed) override;

private:
    void command(const char *name, const QVariant &parameter = {});
    void post(const char *name, const QVariant &object, const QVariantMap &userInfo = {});
    void announce();

    std::shared_ptr<Service> m_service;
    State m_state;
    QMutex m_changedMutex;
    std::function<void()> m_changed;
};

} // namespace lf
