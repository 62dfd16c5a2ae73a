#include "shell/Scripting.h"

#include "foundation/ListRules.h"
#include "platform/ScriptingAdaptor.h"
#include "share/ShareTask.h"
#include "support/SessionFixture.h"
#include "support/TestImages.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QDir>

#include <gtest/gtest.h>

#include <limits>
#include <thread>

namespace lf::test {
namespace {

const QString kPath = QStringLiteral("/com/Lanternfish/MacClient");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// Every PropertiesChanged the client hears.
class ChangeLog : public QObject {
    Q_OBJECT
public:
    QStringList interfaces;
    QList<QVariantMap> changes;
public slots:
    void changed(const QString &interface, const QVariantMap &values, const QStringList &) {
        interfaces.append(interface);
        changes.append(values);
    }
};

QString text(const QVariantMap &map, const char *key) {
    return map.value(QLatin1String(key)).toString();
}

// The scripting interface of a signed-in demo session, exported on one connection of the session
// bus and called from another, as a script would.
class ScriptingTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
        signIn();
        service->loadContacts();
        log->clear();
        scripting = std::make_shared<Scripting>(
            service, Scripting::State {[this] { return signedIn; }, [this] { return sharing; }});

        task = ShareTask::singleton();
        const QString dir = task->path();
        for (const char *name : {"one.jpg", "two.jpg"}) {
            const QString file = QDir(dir).filePath(QLatin1String(name));
            ASSERT_TRUE(writeBytes(file, encoded(quadrantImage(64, 48), "jpeg", 90)));
            task->pushPhoto({{kPhotoUrl, file}, {kPhotoCaption, QFileInfo(file).baseName()}});
        }
        photoFiles = {QDir(dir).filePath("one.jpg"), QDir(dir).filePath("two.jpg")};
        task->setMessage(QStringLiteral("Look!"));
        task->recipients()->setList(
            {QStringLiteral("%family"), QStringLiteral("@photostream"), QStringLiteral("CARLA@example.org"),
                QStringLiteral("nobody@example.org"), QStringLiteral("%Nobody")});

        exporter
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("scripting-program"));
        client
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("scripting-client"));
        root = std::make_unique<QObject>();
        adaptor = new ScriptingAdaptor(root.get(), exporter, kPath);
        adaptor->setBackend(scripting);
        ASSERT_TRUE(exporter.registerObject(kPath, root.get(), QDBusConnection::ExportAdaptors));
        log->clear();
    }

    void TearDown() override {
        exporter.unregisterObject(kPath);
        root.reset();
        scripting.reset();
        task.reset();
        ShareTask::terminate();
        SessionTest::TearDown();
    }

    QDBusMessage call(const QString &method, const QVariantList &args = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            exporter.baseService(), kPath, QString::fromLatin1(kScriptingInterface), method);
        message.setArguments(args);
        return client.call(message, QDBus::BlockWithGui, 10000);
    }
    QDBusMessage propertyCall(const QString &method, const QVariantList &args) {
        QDBusMessage message
            = QDBusMessage::createMethodCall(exporter.baseService(), kPath, kProperties, method);
        message.setArguments(QVariantList {QString::fromLatin1(kScriptingInterface)} + args);
        return client.call(message, QDBus::BlockWithGui, 10000);
    }
    QVariant property(const QString &name) {
        const QDBusMessage reply = propertyCall(QStringLiteral("Get"), {name});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    QList<QVariantMap> records(const QString &name) {
        return qdbus_cast<QList<QVariantMap>>(property(name).value<QDBusArgument>());
    }
    QDBusMessage setProperty(const QString &name, const QVariant &value) {
        return propertyCall(QStringLiteral("Set"), {name, QVariant::fromValue(QDBusVariant(value))});
    }
    QVariantMap contactNamed(const QString &name) {
        for (const QVariant &item : service->xcontacts()) {
            if (text(item.toMap(), "name") == name)
                return item.toMap();
        }
        return {};
    }

    bool signedIn = true;
    bool sharing = false;
    std::shared_ptr<Scripting> scripting;
    ShareTaskPtr task;
    QStringList photoFiles;
    QDBusConnection exporter {QString()};
    QDBusConnection client {QString()};
    std::unique_ptr<QObject> root;
    ScriptingAdaptor *adaptor = nullptr;
};

TEST_F(ScriptingTest, ReadsContactsRecipientsAndPhotosOfTheSessionAndTheCurrentShare) {
    const QVariantMap family = contactNamed(QStringLiteral("Family"));
    const QVariantMap carla = contactNamed(QStringLiteral("Carla Mendes"));
    ASSERT_FALSE(family.isEmpty());
    ASSERT_FALSE(carla.isEmpty());

    const QList<QVariantMap> contacts = records(QStringLiteral("CurrentContacts"));
    ASSERT_EQ(contacts.size(), service->xcontacts().size());
    QVariantMap familyRecord;
    QVariantMap carlaRecord;
    for (const QVariantMap &record : contacts) {
        if (text(record, "name") == QLatin1String("Family"))
            familyRecord = record;
        if (text(record, "name") == QLatin1String("Carla Mendes"))
            carlaRecord = record;
    }
    EXPECT_EQ(text(familyRecord, "email"), QStringLiteral("%Family"));
    EXPECT_EQ(text(familyRecord, "guid"), text(family, "guid"));
    EXPECT_EQ(familyRecord.value("entries").toStringList(), family.value("entries").toStringList());
    EXPECT_EQ(familyRecord.value("entries").toStringList().size(), 3);
    EXPECT_EQ(carlaRecord,
        (QVariantMap {
            {"name", "Carla Mendes"}, {"email", "carla@example.org"}, {"guid", text(carla, "guid")}}));

    // A group and a site by name and an address in any case; what is found nowhere keeps its text.
    const QList<QVariantMap> recipients = records(QStringLiteral("CurrentRecipients"));
    ASSERT_EQ(recipients.size(), 5);
    EXPECT_EQ(recipients[0],
        (QVariantMap {{"name", "Family"}, {"email", "%Family"}, {"guid", text(family, "guid")}}));
    EXPECT_EQ(text(recipients[1], "name"), QStringLiteral("photostream"));
    EXPECT_EQ(text(recipients[1], "email"), QStringLiteral("@photostream"));
    EXPECT_EQ(recipients[2], carlaRecord);
    EXPECT_EQ(recipients[3], (QVariantMap {{"name", ""}, {"email", "nobody@example.org"}, {"guid", ""}}));
    EXPECT_EQ(recipients[4], (QVariantMap {{"name", ""}, {"email", "%Nobody"}, {"guid", ""}}));

    EXPECT_EQ(records(QStringLiteral("CurrentPhotos")),
        (QList<QVariantMap> {
            {{"path", photoFiles[0]}, {"caption", "one"}}, {{"path", photoFiles[1]}, {"caption", "two"}}}));
    EXPECT_EQ(property(QStringLiteral("CurrentMessage")).toString(), QStringLiteral("Look!"));
    EXPECT_EQ(property(QStringLiteral("CurrentEmailField")).toString(),
        QStringLiteral("%family,@photostream,CARLA@example.org,nobody@example.org,%Nobody"));
    EXPECT_TRUE(property(QStringLiteral("SignedIn")).toBool());
    EXPECT_FALSE(property(QStringLiteral("Sharing")).toBool());
}

TEST_F(ScriptingTest, AGroupIsNeverShadowedByAContactOfTheSameName) {
    const QVariantList contacts {
        QVariantMap {{"name", "Family"}, {"email", "fam@example.org"}, {"guid", "c1"}},
        QVariantMap {{"name", "Family"}, {"guid", "g1"}, {"entries", QStringList {"c1"}}, {"GROUP", true}}};
    EXPECT_EQ(Scripting::recipientRecord(QStringLiteral("%Family"), contacts, {}),
        (QVariantMap {{"name", "Family"}, {"email", "%Family"}, {"guid", "g1"}}));
    EXPECT_EQ(
        text(Scripting::recipientRecord(QStringLiteral("fam@example.org"), contacts, {}), "guid"), "c1");
}

TEST_F(ScriptingTest, CommandsBecomeScriptCommandsWithTheirParameters) {
    for (const auto &[method, args] : std::initializer_list<std::pair<const char *, QVariantList>> {
             {"Share", {}},
             {"Cancel", {}},
             {"SignOut", {}},
             {"SignIn", {"ann@example.org", "secret", false}},
             {"SignUp", {"Ann", "Lee", "ann@example.org", "secret", true}},
             {"CreateGroup", {"Hikers", QStringList {"Ann Friend", "Bob Friend"}}},
             {"DeleteContact", {"Carla Mendes"}},
         }) {
        const QDBusMessage reply = call(QLatin1String(method), args);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
            << method << ": " << reply.errorMessage().toStdString();
    }
    const QList<Notification> commands = posted(QStringLiteral("scriptCommand"));
    ASSERT_EQ(commands.size(), 7);
    auto command = [&](int i) { return commands[i].userInfo.value("command").toString(); };
    auto parameter = [&](int i) { return commands[i].userInfo.value("parameter"); };
    EXPECT_EQ(
        QStringList({command(0), command(1), command(2), command(3), command(4), command(5), command(6)}),
        QStringList({"share", "cancel", "signOut", "signIn", "signUp", "createGroup", "contactDeleted"}));
    // No parameter travels as null, which receivers read as none.
    EXPECT_TRUE(commands[0].userInfo.contains("parameter"));
    EXPECT_FALSE(nullFix(parameter(0)).isValid());
    // "committing" false is passed on as false: the sign-in window fills without signing in.
    EXPECT_EQ(parameter(3).toMap(),
        (QVariantMap {{"email", "ann@example.org"}, {"password", "secret"}, {"committing", false}}));
    EXPECT_EQ(parameter(4).toMap(),
        (QVariantMap {{"first", "Ann"}, {"last", "Lee"}, {"email", "ann@example.org"}, {"password", "secret"},
            {"committing", true}}));
    EXPECT_EQ(parameter(5).toMap().value("name").toString(), QStringLiteral("Hikers"));
    EXPECT_EQ(
        parameter(5).toMap().value("members").toStringList(), QStringList({"Ann Friend", "Bob Friend"}));
    EXPECT_EQ(parameter(6).toString(), QStringLiteral("Carla Mendes"));
    for (const Notification &n : commands)
        EXPECT_FALSE(n.object.isValid());
}

TEST_F(ScriptingTest, SignedOutNothingThatActsForTheAccountIsTaken) {
    signedIn = false;
    for (const auto &[method, args] : std::initializer_list<std::pair<const char *, QVariantList>> {
             {"Share", {}}, {"AddContact", {"Zoe", "zoe@example.org"}},
             {"CreateGroup", {"Hikers", QStringList {"Ann Friend"}}},
             {"AddRecipient", {"", "zed@example.org"}}, // would make the address a contact
         }) {
        const QDBusMessage reply = call(QLatin1String(method), args);
        EXPECT_EQ(reply.errorName(), QStringLiteral("com.Lanternfish.MacClient.Error.NotSignedIn")) << method;
    }
    EXPECT_TRUE(posted(QStringLiteral("scriptCommand")).isEmpty());
    EXPECT_TRUE(posted(QStringLiteral("contactCreated")).isEmpty());
    EXPECT_TRUE(posted(QStringLiteral("recipientAdded")).isEmpty());
    // Photos stay local: they may be added.
    EXPECT_EQ(call("AddPhoto", {"/tmp/new.jpg", ""}).type(), QDBusMessage::ReplyMessage);
}

TEST_F(ScriptingTest, ElementChangesBecomeTheirNotifications) {
    const QVariantList contacts = service->xcontacts();
    int bobIndex = -1;
    for (int i = 0; i < contacts.size(); ++i) {
        if (text(contacts[i].toMap(), "name") == QLatin1String("Bob Friend"))
            bobIndex = i;
    }
    ASSERT_GE(bobIndex, 0);
    const PhotoInfo second = task->photoInfo(1);

    EXPECT_EQ(call("AddPhoto", {"/tmp/new.jpg", "New"}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(call("RemovePhoto", {1u}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(call("SetPhotoCaption", {0u, ""}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(call("AddContact", {"Zoe", "zoe@example.org"}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(call("RemoveContact", {uint(bobIndex)}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(call("SetContact", {uint(bobIndex), "Robert Friend", ""}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(call("AddRecipient", {"", "dan@example.org"}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(call("RemoveRecipient", {2u}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(setProperty("CurrentMessage", "Hi all").type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(setProperty("CurrentEmailField", "a@example.org, %Family").type(), QDBusMessage::ReplyMessage);

    auto only = [&](const char *name) {
        const QList<Notification> list = posted(QLatin1String(name));
        EXPECT_EQ(list.size(), 1) << name;
        return list.value(0);
    };
    EXPECT_EQ(only("photoAdded").object.toMap(), (QVariantMap {{"url", "/tmp/new.jpg"}, {"caption", "New"}}));
    EXPECT_EQ(only("photoDeleted").object.toMap(), second);
    // An empty caption is a caption: written into the task's photo itself.
    EXPECT_FALSE(only("captionChanged").object.isValid());
    EXPECT_TRUE(task->photoInfo(0).contains(kPhotoCaption));
    EXPECT_EQ(task->photoInfo(0).value(kPhotoCaption).toString(), QString());
    EXPECT_EQ(
        only("contactCreated").object.toMap(), (QVariantMap {{"name", "Zoe"}, {"email", "zoe@example.org"}}));
    EXPECT_EQ(only("contactDeleted").object.toMap(), contacts[bobIndex].toMap());
    QVariantMap edited = contacts[bobIndex].toMap();
    edited.insert("name", "Robert Friend"); // the address, not given, stays
    EXPECT_EQ(only("contactChanged").object.toMap(), edited);
    EXPECT_EQ(only("recipientAdded").object.toMap(), (QVariantMap {{"email", "dan@example.org"}}));
    EXPECT_EQ(only("recipientDeleted").object.toInt(), 2);
    const QList<Notification> values = posted(QStringLiteral("scriptNotification"));
    ASSERT_EQ(values.size(), 2);
    EXPECT_EQ(values[0].userInfo, (QVariantMap {{"message", "Hi all"}}));
    EXPECT_EQ(values[1].userInfo, (QVariantMap {{"emailField", "a@example.org, %Family"}}));
    // The scripting layer only asks: the task changes when its owners act.
    EXPECT_EQ(task->photoCount(), 2);
    EXPECT_EQ(task->recipients()->count(), 5);
}

TEST_F(ScriptingTest, IndexesPastTheEndAreRefusedWithoutAnyNotification) {
    const uint contacts = uint(service->xcontacts().size());
    const uint huge = std::numeric_limits<uint>::max();
    for (const auto &[method, args] : std::initializer_list<std::pair<const char *, QVariantList>> {
             {"RemovePhoto", {2u}},
             {"RemovePhoto", {huge}},
             {"SetPhotoCaption", {2u, "x"}},
             {"RemoveContact", {contacts}},
             {"SetContact", {contacts, "X", "x@example.org"}},
             {"RemoveRecipient", {5u}},
             {"RemoveRecipient", {huge}},
         }) {
        const QDBusMessage reply = call(QLatin1String(method), args);
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage) << method;
        EXPECT_EQ(reply.errorName(), QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs")) << method;
    }
    EXPECT_EQ(setProperty("SignedIn", false).type(), QDBusMessage::ErrorMessage);
    deliverMainThreadWork();
    for (const char *name :
        {"photoDeleted", "captionChanged", "contactDeleted", "contactChanged", "recipientDeleted"})
        EXPECT_TRUE(posted(QLatin1String(name)).isEmpty()) << name;
    EXPECT_EQ(task->photoInfo(1).value(kPhotoCaption).toString(), QStringLiteral("two"));
}

TEST_F(ScriptingTest, EachRealChangeIsSignalledOnce) {
    ChangeLog heard;
    ASSERT_TRUE(client.connect(exporter.baseService(), kPath, kProperties,
        QStringLiteral("PropertiesChanged"), &heard, SLOT(changed(QString, QVariantMap, QStringList))));
    property(QStringLiteral("SignedIn")); // the match rule is in place once a call came back
    NotificationCenter &center = NotificationCenter::defaultCenter();

    task->setMessage(QStringLiteral("Hello"));
    center.post(QStringLiteral("shareTaskChanged"));
    center.post(QStringLiteral("shareTaskChanged"));
    ASSERT_TRUE(waitUntil([&] { return heard.changes.size() == 1; }));
    EXPECT_EQ(heard.interfaces.value(0), QString::fromLatin1(kScriptingInterface));
    EXPECT_EQ(heard.changes[0], (QVariantMap {{"CurrentMessage", "Hello"}}));

    // Announcements that change nothing, from the main thread and from a worker, stay silent.
    center.post(QStringLiteral("userChanged"));
    std::thread([&] { center.post(QStringLiteral("shareTaskLoaded")); }).join();
    deliverMainThreadWork();

    const QString third = QDir(task->path()).filePath(QStringLiteral("three.jpg"));
    ASSERT_TRUE(writeBytes(third, encoded(quadrantImage(32, 32), "jpeg", 90)));
    task->pushPhoto({{kPhotoUrl, third}}); // posts "selectedPhotosChanged"
    ASSERT_TRUE(waitUntil([&] { return heard.changes.size() == 2; }));
    EXPECT_EQ(heard.changes[1].keys(), QStringList {"CurrentPhotos"});

    signedIn = false;
    sharing = true;
    task->recipients()->removeAt(0);
    center.post(QStringLiteral("signout"));
    ASSERT_TRUE(waitUntil([&] { return heard.changes.size() == 3; }));
    EXPECT_EQ(heard.changes[2].keys(),
        QStringList({"CurrentEmailField", "CurrentRecipients", "Sharing", "SignedIn"}));
    EXPECT_EQ(heard.changes[2].value("SignedIn").toBool(), false);
    EXPECT_EQ(heard.changes[2].value("CurrentEmailField").toString(),
        QStringLiteral("@photostream,CARLA@example.org,nobody@example.org,%Nobody"));
    property(QStringLiteral("SignedIn"));
    EXPECT_EQ(heard.changes.size(), 3);
}

} // namespace
} // namespace lf::test

#include "ScriptingTest.moc"
