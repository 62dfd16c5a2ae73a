#include "shell/Scripting.h"

#include "shell/MacClientAppDelegate.h"
#include "shell/MainController.h"

#include "contacts/AddressBookUtil.h"
#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/TextMatch.h"
#include "sending/ShareTaskManager.h"
#include "sending/ShareTaskThread.h"
#include "session/Service.h"
#include "session/SessionRecords.h"
#include "share/ShareTask.h"

#include <QPointer>

namespace lf {

namespace {

// Notifications after which a scripted value may read differently.
const char *const kChangeNotifications[] = {
    kShareTaskChangedNotification,
    kShareTaskLoadedNotification,
    kSelectedPhotosChangedNotification,
    kUploadDoneNotification,
    kStagedUploadDoneNotification,
    kShareTaskCancelledNotification,
    kServiceUpdateContactsNotification,
    kUpdateExternalNotification,
    MainController::kUserChanged,
    MacClientAppDelegate::kSignOut,
    ClientAction::Connect,
    ClientAction::SendBundle,
    MainController::kSitesChanged,
    MainController::kCheckButton,
};

QString text(const QVariantMap &map, const char *key) {
    return map.value(QLatin1String(key)).toString();
}

bool isGroup(const QVariantMap &entry) {
    return entry.contains(QLatin1String(ScriptKey::Entries));
}

// The first record in `list` whose `key` equals `value` ignoring case, among those `accept` takes.
QVariantMap findRecord(const QVariantList &list, const char *key, const QString &value,
    const std::function<bool(const QVariantMap &)> &accept) {
    for (const QVariant &item : list) {
        const QVariantMap record = item.toMap();
        if (accept(record) && equalCaseIns(text(record, key), value))
            return record;
    }
    return {};
}

} // namespace

Scripting::Scripting(std::shared_ptr<Service> service, State state)
    : m_service(std::move(service))
    , m_state(std::move(state)) {
    NotificationCenter &center = NotificationCenter::defaultCenter();
    for (const char *name : kChangeNotifications)
        center.addObserver(this, QString::fromLatin1(name), [this](const Notification &) { announce(); });
}

Scripting::~Scripting() {
    NotificationCenter::defaultCenter().removeObserver(this);
}

void Scripting::setChangeHandler(std::function<void()> changed) {
    QMutexLocker lock(&m_changedMutex);
    m_changed = std::move(changed);
}

void Scripting::announce() {
    // Handlers hear it on the main thread, where the values are read.
    if (!isMainThread()) {
        QPointer<Scripting> self(this);
        runOnMainThread([self] {
            if (self)
                self->announce();
        });
        return;
    }
    std::function<void()> changed;
    {
        QMutexLocker lock(&m_changedMutex);
        changed = m_changed;
    }
    if (changed)
        changed();
}

void Scripting::post(const char *name, const QVariant &object, const QVariantMap &userInfo) {
    NotificationCenter::defaultCenter().postNotificationMainThread(
        Notification {QString::fromLatin1(name), object, userInfo});
    // The receivers have acted by now (on the main thread they run at once).
    announce();
}

void Scripting::command(const char *name, const QVariant &parameter) {
    post(kScriptCommandNotification, {},
        {{QLatin1String(ScriptKey::Command), QString::fromLatin1(name)},
            {QLatin1String(ScriptKey::Parameter),
                parameter.isValid() ? parameter : QVariant::fromValue(nullptr)}});
}

// ---- reading ----

QVariantMap Scripting::contactRecord(const QVariantMap &entry) {
    const QString name = text(entry, ScriptKey::Name);
    QString email = text(entry, ScriptKey::Email);
    if (email.isEmpty())
        email = kGroupRecipientPrefix + name;
    QVariantMap record {{QLatin1String(ScriptKey::Name), name}, {QLatin1String(ScriptKey::Email), email},
        {QLatin1String(ScriptKey::Guid), text(entry, ScriptKey::Guid)}};
    if (isGroup(entry))
        record.insert(
            QLatin1String(ScriptKey::Entries), entry.value(QLatin1String(ScriptKey::Entries)).toStringList());
    return record;
}

QVariantMap Scripting::recipientRecord(
    const QString &recipient, const QVariantList &contacts, const QVariantList &destinations) {
    QVariantMap found;
    QChar prefix = kGroupRecipientPrefix;
    if (recipient.startsWith(kGroupRecipientPrefix)) {
        // Only a group: a contact of the same name is someone else.
        found = findRecord(contacts, ScriptKey::Name, recipient.mid(1), isGroup);
    } else if (recipient.startsWith(kSiteRecipientPrefix)) {
        found = findRecord(
            destinations, ScriptKey::Name, recipient.mid(1), [](const QVariantMap &) { return true; });
        // A site reads as the recipient string that names it, never as a group's.
        prefix = kSiteRecipientPrefix;
    } else {
        found = findRecord(
            contacts, ScriptKey::Email, recipient, [](const QVariantMap &entry) { return !isGroup(entry); });
    }
    if (found.isEmpty()) {
        return {{QLatin1String(ScriptKey::Name), QString()}, {QLatin1String(ScriptKey::Email), recipient},
            {QLatin1String(ScriptKey::Guid), QString()}};
    }
    const QString name = text(found, ScriptKey::Name);
    QString email = text(found, ScriptKey::Email);
    if (email.isEmpty())
        email = prefix + name;
    return {{QLatin1String(ScriptKey::Name), name}, {QLatin1String(ScriptKey::Email), email},
        {QLatin1String(ScriptKey::Guid), text(found, ScriptKey::Guid)}};
}

QList<QVariantMap> Scripting::currentContacts() {
    QList<QVariantMap> out;
    for (const QVariant &item : m_service->xcontacts())
        out.append(contactRecord(item.toMap()));
    return out;
}

QList<QVariantMap> Scripting::currentRecipients() {
    QList<QVariantMap> out;
    const ShareTaskPtr task = ShareTask::singletonNA();
    if (!task)
        return out;
    const QVariantList contacts = m_service->xcontacts();
    // As loaded: a read never waits for the network.
    const QVariantList destinations = m_service->destinationsSnapshot();
    for (const QString &recipient : task->recipients()->list())
        out.append(recipientRecord(recipient, contacts, destinations));
    return out;
}

QList<QVariantMap> Scripting::currentPhotos() {
    QList<QVariantMap> out;
    const ShareTaskPtr task = ShareTask::singletonNA();
    if (!task)
        return out;
    for (const PhotoInfo &info : task->photoInfos()) {
        out.append({{QLatin1String(ScriptKey::Path), info.value(QLatin1String(kPhotoUrl)).toString()},
            {QLatin1String(ScriptKey::Caption), info.value(QLatin1String(kPhotoCaption)).toString()}});
    }
    return out;
}

QString Scripting::currentMessage() {
    const ShareTaskPtr task = ShareTask::singletonNA();
    return task ? task->message() : QString();
}

void Scripting::setCurrentMessage(const QString &message) {
    post(kScriptNotification, {}, {{QLatin1String(ScriptKey::Message), message}});
}

QString Scripting::currentEmailField() {
    const ShareTaskPtr task = ShareTask::singletonNA();
    return task ? task->recipients()->list().join(QLatin1Char(',')) : QString();
}

void Scripting::setCurrentEmailField(const QString &field) {
    post(kScriptNotification, {}, {{QLatin1String(ScriptKey::EmailField), field}});
}

bool Scripting::signedIn() {
    return m_state.signedIn && m_state.signedIn();
}

bool Scripting::sharing() {
    return m_state.sharing && m_state.sharing();
}

// ---- commands ----

void Scripting::share() {
    command(ScriptCommand::Share);
}

void Scripting::cancel() {
    command(ScriptCommand::Cancel);
}

void Scripting::signIn(const QString &email, const QString &password, bool committing) {
    command(ScriptCommand::SignIn,
        QVariantMap {{QLatin1String(ScriptKey::Email), email}, {QLatin1String(ScriptKey::Password), password},
            {QLatin1String(ScriptKey::Committing), committing}});
}

void Scripting::signOut() {
    command(ScriptCommand::SignOut);
}

void Scripting::signUp(const QString &first, const QString &last, const QString &email,
    const QString &password, bool committing) {
    command(ScriptCommand::SignUp,
        QVariantMap {{QLatin1String(ScriptKey::First), first}, {QLatin1String(ScriptKey::Last), last},
            {QLatin1String(ScriptKey::Email), email}, {QLatin1String(ScriptKey::Password), password},
            {QLatin1String(ScriptKey::Committing), committing}});
}

void Scripting::createGroup(const QString &name, const QStringList &members) {
    command(ScriptCommand::CreateGroup,
        QVariantMap {{QLatin1String(ScriptKey::Name), name}, {QLatin1String(ScriptKey::Members), members}});
}

void Scripting::deleteContact(const QString &name) {
    command(ScriptCommand::DeleteContact, name);
}

// ---- elements ----

void Scripting::addPhoto(const QString &path, const QString &caption) {
    // An empty caption is none given: the photo keeps the one it carries.
    QVariantMap info {{QLatin1String(ScriptKey::Url), path}};
    if (!caption.isEmpty())
        info.insert(QLatin1String(ScriptKey::Caption), caption);
    post(kPhotoAddedNotification, info);
}

bool Scripting::removePhoto(int index) {
    const ShareTaskPtr task = ShareTask::singletonNA();
    if (!task || index >= task->photoCount())
        return false;
    post(kPhotoDeletedNotification, QVariant(task->photoInfo(index)));
    return true;
}

bool Scripting::setPhotoCaption(int index, const QString &caption) {
    const ShareTaskPtr task = ShareTask::singletonNA();
    if (!task || index >= task->photoCount())
        return false;
    task->setPhotoValue(index, QLatin1String(kPhotoCaption), caption);
    post(kCaptionChangedNotification, {});
    return true;
}

void Scripting::addContact(const QString &name, const QString &email) {
    post(kContactCreatedNotification,
        QVariantMap {{QLatin1String(ScriptKey::Name), name}, {QLatin1String(ScriptKey::Email), email}});
}

bool Scripting::removeContact(int index) {
    const QVariantList contacts = m_service->xcontacts();
    if (index >= contacts.size())
        return false;
    post(kContactDeletedNotification, contacts.at(index));
    return true;
}

bool Scripting::setContact(int index, const QString &name, const QString &email) {
    const QVariantList contacts = m_service->xcontacts();
    if (index >= contacts.size())
        return false;
    QVariantMap entry = contacts.at(index).toMap();
    if (!name.isEmpty())
        entry.insert(QLatin1String(ScriptKey::Name), name);
    if (!email.isEmpty())
        entry.insert(QLatin1String(ScriptKey::Email), email);
    // One notification for both values: each one is a change sent to the server.
    if (!name.isEmpty() || !email.isEmpty())
        post(kContactChangedNotification, entry);
    return true;
}

void Scripting::addRecipient(const QString &name, const QString &email) {
    QVariantMap given;
    if (!name.isEmpty())
        given.insert(QLatin1String(ScriptKey::Name), name);
    if (!email.isEmpty())
        given.insert(QLatin1String(ScriptKey::Email), email);
    post(kRecipientAddedNotification, given);
}

bool Scripting::removeRecipient(int index) {
    const ShareTaskPtr task = ShareTask::singletonNA();
    if (!task || index >= task->recipients()->count())
        return false;
    post(kRecipientDeletedNotification, index);
    return true;
}

} // namespace lf
