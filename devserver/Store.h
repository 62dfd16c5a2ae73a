#pragma once

#include "Db.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>

namespace lf::dev {

// What a handler answers: a status and a JSON body. Errors carry {"Error": text}.
struct Reply {
    int status = 200;
    QJsonValue body = QJsonObject();

    static Reply error(int status, const QString &text);
    bool ok() const { return status >= 200 && status < 300; }
};

struct User {
    qint64 id = 0;
    QString email;
    QString firstName;
    QString lastName;
    bool confirmed = false;
    QStringList roles;
    QString accessToken;

    QString name() const;
};

// One photo of a bundle that an upload is about to fill.
struct PhotoSlot {
    qint64 photoId = 0;
    qint64 bundleId = 0;
    QString bundleGuid;
    QString bundleState;
    QString origin;
};

// Everything the service remembers, in one SQLite file. Thread-safe: every call holds one lock,
// so each call is atomic with respect to the others.
class Store {
public:
    Store() = default;
    bool open(const QString &path, QString *error);

    // Users and sessions.
    enum class PasswordCheck { Ok, UnknownUser, WrongPassword, Unconfirmed };
    PasswordCheck checkPassword(const QString &email, const QString &password, User *user);
    std::optional<User> userByEmail(const QString &email);
    std::optional<User> userForToken(const QString &email, const QString &token);
    std::optional<User> userForAccess(const QString &email, const QString &accessToken);
    // The token of this user on this installation, made on first use.
    QString issueToken(qint64 userId, const QString &clientId);
    qint64 createUser(const QString &email, const QString &password, const QString &firstName,
        const QString &lastName, bool confirmed, const QStringList &roles = {});
    // Validates a sign-up request ({"user": {...}}) and creates an unconfirmed account.
    Reply signUp(const QJsonObject &request);
    bool confirmUser(const QString &email);
    // The account a sign-in site vouches for, created confirmed when it does not exist yet.
    User socialUser(const QString &email, const QString &siteName);
    void storeClientInfo(qint64 userId, const QString &clientId, const QJsonObject &info);

    // Address book.
    QJsonObject addressBook(qint64 userId);
    Reply contact(qint64 userId, const QString &guid);
    Reply addContact(qint64 userId, const QString &name, const QString &email);
    // `fields` holds any of "name", "email", "version", "last_used" as sent by the client.
    Reply updateContact(qint64 userId, const QString &guid, const QMap<QString, QString> &fields);
    Reply deleteContact(qint64 userId, const QString &guid);
    Reply addGroup(qint64 userId, const QJsonObject &group);
    Reply updateGroup(qint64 userId, const QString &guid, const QJsonObject &group);
    Reply deleteGroup(qint64 userId, const QString &guid);
    // Seeds a contact with a fixed guid and time stamp.
    QString insertContact(qint64 userId, const QString &name, const QString &email, const QString &lastUsed);
    QString insertGroup(qint64 userId, const QString &name, const QStringList &entries);

    // Linked sites.
    bool isLinked(qint64 userId, const QString &site);
    void link(qint64 userId, const QString &site);
    bool unlink(qint64 userId, const QString &site);

    // Bundles.
    Reply createBundle(qint64 userId, const QJsonObject &body);
    // Finds the photo an upload with these parameters belongs to.
    Reply photoSlot(qint64 userId, const QJsonObject &params, PhotoSlot *slot);
    // Records a stored upload; returns the file it replaces (to be deleted), or empty.
    QString recordUpload(qint64 photoId, const QString &type, const QString &relativePath, qint64 bytes,
        const QString &sha1, int width, int height);
    void recordPhotoError(qint64 photoId, const QString &error);
    Reply closeBundle(qint64 userId, const QString &guid);
    Reply cancelBundle(qint64 userId, const QString &guid);
    // The user's bundles, newest first; `filter` is "sent", "received" or empty for both.
    QJsonArray bundles(qint64 userId, const QString &filter, const QString &baseUrl, int limit);
    // Relative path of a stored upload by the photo's public id; "thumb" picks the smallest.
    QString photoFile(const QString &publicId, const QString &type);

    // Client logs and support requests.
    void addLog(qint64 userId, const QString &clientId, const QJsonObject &params,
        const QString &relativePath, qint64 bytes);
    void addSupportRequest(
        const QString &name, const QString &email, const QString &subject, const QString &message);

    // Small settings, e.g. the announced client version.
    QJsonObject setting(const QString &key);
    void setSetting(const QString &key, const QJsonObject &value);

    // The whole state for the dev API.
    QJsonObject state();

private:
    std::optional<User> userWhere(const char *sql, std::initializer_list<QVariant> binds);
    QJsonObject contactJson(const Db::Row &row) const;
    QJsonArray contactsOf(qint64 userId);
    std::optional<Db::Row> contactRowLocked(qint64 userId, const QString &guid);
    QJsonArray groupsOf(qint64 userId);
    QJsonObject groupJson(const Db::Row &row) const;
    bool emailTaken(qint64 userId, const QString &email, const QString &exceptGuid);
    bool groupNameTaken(qint64 userId, const QString &name, const QString &exceptGuid);
    QString insertContactLocked(
        qint64 userId, const QString &name, const QString &email, const QString &lastUsed);
    QString insertGroupLocked(qint64 userId, const QString &name, const QStringList &entries);
    QStringList deliveryAddresses(qint64 userId, const QStringList &recipients);
    QJsonArray photosJson(qint64 bundleId, const QString &baseUrl, bool withUploads);

    std::mutex m_mutex;
    Db m_db;
};

// Current UTC time as "yyyy-MM-ddTHH:mm:ssZ".
QString isoNow();
QString newGuid();
QString randomToken();

} // namespace lf::dev
