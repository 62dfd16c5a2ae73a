#include "Store.h"

#include "Sites.h"
#include "Wire.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUuid>

namespace lf::dev {

namespace {

const char kSchema[] = R"sql(
CREATE TABLE IF NOT EXISTS users(
    id INTEGER PRIMARY KEY, email TEXT NOT NULL UNIQUE COLLATE NOCASE, salt TEXT NOT NULL,
    password_hash TEXT NOT NULL, first_name TEXT, last_name TEXT, confirmed INTEGER NOT NULL,
    roles TEXT NOT NULL, access_token TEXT NOT NULL, created_at TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS tokens(
    token TEXT PRIMARY KEY, user_id INTEGER NOT NULL REFERENCES users(id), client_id TEXT NOT NULL,
    created_at TEXT NOT NULL, UNIQUE(user_id, client_id));
CREATE TABLE IF NOT EXISTS client_infos(
    user_id INTEGER NOT NULL, client_id TEXT NOT NULL, info TEXT NOT NULL, updated_at TEXT NOT NULL,
    PRIMARY KEY(user_id, client_id));
CREATE TABLE IF NOT EXISTS contacts(
    id INTEGER PRIMARY KEY, guid TEXT NOT NULL UNIQUE, user_id INTEGER NOT NULL, name TEXT NOT NULL,
    email TEXT NOT NULL, last_used TEXT NOT NULL, version INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS address_groups(
    id INTEGER PRIMARY KEY, guid TEXT NOT NULL UNIQUE, user_id INTEGER NOT NULL, name TEXT NOT NULL,
    entries TEXT NOT NULL, last_used TEXT NOT NULL, version INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS links(
    user_id INTEGER NOT NULL, site TEXT NOT NULL, linked_at TEXT NOT NULL, PRIMARY KEY(user_id, site));
CREATE TABLE IF NOT EXISTS bundles(
    id INTEGER PRIMARY KEY, guid TEXT NOT NULL UNIQUE, user_id INTEGER NOT NULL, recipients TEXT NOT NULL,
    message TEXT NOT NULL, state TEXT NOT NULL, created_at TEXT NOT NULL, closed_at TEXT);
CREATE TABLE IF NOT EXISTS bundle_recipients(
    bundle_id INTEGER NOT NULL, address TEXT NOT NULL COLLATE NOCASE);
CREATE TABLE IF NOT EXISTS photos(
    id INTEGER PRIMARY KEY, bundle_id INTEGER NOT NULL, public_id TEXT NOT NULL UNIQUE, photo_guid TEXT,
    server_guid TEXT, ord INTEGER NOT NULL, caption TEXT NOT NULL, origin TEXT NOT NULL,
    announced_type TEXT, fullimage INTEGER, error TEXT);
CREATE TABLE IF NOT EXISTS uploads(
    photo_id INTEGER NOT NULL, type TEXT NOT NULL, path TEXT NOT NULL, bytes INTEGER NOT NULL,
    sha1 TEXT NOT NULL, width INTEGER, height INTEGER, uploaded_at TEXT NOT NULL,
    PRIMARY KEY(photo_id, type));
CREATE TABLE IF NOT EXISTS client_logs(
    id INTEGER PRIMARY KEY, user_id INTEGER NOT NULL, client_id TEXT, params TEXT NOT NULL,
    path TEXT NOT NULL, bytes INTEGER NOT NULL, created_at TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS support_requests(
    id INTEGER PRIMARY KEY, name TEXT, email TEXT, subject TEXT, message TEXT, created_at TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS settings(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS photos_by_guid ON photos(photo_guid);
CREATE INDEX IF NOT EXISTS recipients_by_address ON bundle_recipients(address);
)sql";

constexpr int kMinPasswordLength = 4;
constexpr int kMaxTextLength = 1000;

QString passwordHash(const QString &salt, const QString &password) {
    // Iterated so that a copied database does not give passwords away cheaply.
    QByteArray digest = (salt + password).toUtf8();
    for (int i = 0; i < 2000; ++i)
        digest = QCryptographicHash::hash(digest + salt.toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex());
}

QString toJsonText(const QJsonValue &value) {
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
}

QJsonArray arrayFromText(const QString &text) {
    return QJsonDocument::fromJson(text.toUtf8()).array();
}

QJsonObject objectFromText(const QString &text) {
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

QStringList stringsOf(const QJsonArray &array) {
    QStringList out;
    for (const QJsonValue &v : array)
        out.append(v.toString());
    return out;
}

bool plausibleEmail(const QString &email) {
    static const QRegularExpression re(
        QStringLiteral(R"(^[^@\s<>()\[\],;:"]+@[^@\s<>()\[\],;:"]+\.[^@\s<>()\[\],;:"]+$)"));
    return email.size() <= 254 && re.match(email).hasMatch();
}

// Accepts the ISO 8601 forms clients send ("Z" or an offset); empty when unreadable.
QString normalisedIso(const QString &text) {
    QDateTime when = QDateTime::fromString(text, Qt::ISODate);
    if (!when.isValid())
        return {};
    return when.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
}

QString capitalizedLocalPart(const QString &email) {
    QString local = email.section(QLatin1Char('@'), 0, 0);
    if (!local.isEmpty())
        local[0] = local[0].toUpper();
    return local;
}

Reply created(const QJsonValue &body) {
    return Reply {201, body};
}

} // namespace

Reply Reply::error(int status, const QString &text) {
    return Reply {status, QJsonObject {{QLatin1String(wire::kError), text}}};
}

QString User::name() const {
    const QString full = QStringList {firstName, lastName}.join(QLatin1Char(' ')).trimmed();
    return full.isEmpty() ? capitalizedLocalPart(email) : full;
}

QString isoNow() {
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
}

QString newGuid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString randomToken() {
    quint32 words[5];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex());
}

bool Store::open(const QString &path, QString *error) {
    std::lock_guard lock(m_mutex);
    if (!m_db.open(path, error))
        return false;
    if (!m_db.script(kSchema)) {
        if (error)
            *error = QStringLiteral("cannot create the tables: %1").arg(m_db.lastError());
        return false;
    }
    return true;
}

// ---- users ----

std::optional<User> Store::userWhere(const char *sql, std::initializer_list<QVariant> binds) {
    const QVector<Db::Row> rows = m_db.query(sql, binds);
    if (rows.isEmpty())
        return std::nullopt;
    const Db::Row &r = rows.first();
    User u;
    u.id = r[0].toLongLong();
    u.email = r[1].toString();
    u.firstName = r[2].toString();
    u.lastName = r[3].toString();
    u.confirmed = r[4].toLongLong() != 0;
    u.roles = stringsOf(arrayFromText(r[5].toString()));
    u.accessToken = r[6].toString();
    return u;
}

#define LF_USER_COLUMNS                                                                                      \
    "users.id, users.email, users.first_name, users.last_name, users.confirmed, users.roles, "               \
    "users.access_token"

Store::PasswordCheck Store::checkPassword(const QString &email, const QString &password, User *user) {
    std::lock_guard lock(m_mutex);
    const QVector<Db::Row> rows
        = m_db.query("SELECT salt, password_hash FROM users WHERE email = ?", {email});
    if (rows.isEmpty())
        return PasswordCheck::UnknownUser;
    if (passwordHash(rows[0][0].toString(), password) != rows[0][1].toString())
        return PasswordCheck::WrongPassword;
    const std::optional<User> found
        = userWhere("SELECT " LF_USER_COLUMNS " FROM users WHERE email = ?", {email});
    if (!found)
        return PasswordCheck::UnknownUser;
    if (user)
        *user = *found;
    return found->confirmed ? PasswordCheck::Ok : PasswordCheck::Unconfirmed;
}

std::optional<User> Store::userByEmail(const QString &email) {
    std::lock_guard lock(m_mutex);
    return userWhere("SELECT " LF_USER_COLUMNS " FROM users WHERE email = ?", {email});
}

std::optional<User> Store::userForToken(const QString &email, const QString &token) {
    if (email.isEmpty() || token.isEmpty())
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    return userWhere("SELECT " LF_USER_COLUMNS " FROM users JOIN tokens ON tokens.user_id = users.id"
                     " WHERE users.email = ? AND tokens.token = ? AND users.confirmed = 1",
        {email, token});
}

std::optional<User> Store::userForAccess(const QString &email, const QString &accessToken) {
    if (email.isEmpty() || accessToken.isEmpty())
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    return userWhere("SELECT " LF_USER_COLUMNS
                     " FROM users WHERE email = ? AND access_token = ? AND confirmed = 1",
        {email, accessToken});
}

QString Store::issueToken(qint64 userId, const QString &clientId) {
    std::lock_guard lock(m_mutex);
    const QVariant existing
        = m_db.scalar("SELECT token FROM tokens WHERE user_id = ? AND client_id = ?", {userId, clientId});
    if (existing.isValid())
        return existing.toString();
    const QString token = randomToken();
    m_db.exec("INSERT INTO tokens(token, user_id, client_id, created_at) VALUES(?, ?, ?, ?)",
        {token, userId, clientId, isoNow()});
    return token;
}

qint64 Store::createUser(const QString &email, const QString &password, const QString &firstName,
    const QString &lastName, bool confirmed, const QStringList &roles) {
    std::lock_guard lock(m_mutex);
    const QString salt = randomToken();
    if (!m_db.exec("INSERT INTO users(email, salt, password_hash, first_name, last_name, confirmed, roles,"
                   " access_token, created_at) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)",
            {email, salt, passwordHash(salt, password), firstName, lastName, confirmed ? 1 : 0,
                toJsonText(QJsonArray::fromStringList(roles)), randomToken(), isoNow()}))
        return 0;
    return m_db.lastInsertId();
}

Reply Store::signUp(const QJsonObject &request) {
    const QJsonObject user = request.value(QLatin1String("user")).toObject();
    const QString email = user.value(QLatin1String("request_address")).toString().trimmed();
    const QString password = user.value(QLatin1String("password")).toString();
    const QString confirmation = user.value(QLatin1String("password_confirmation")).toString();
    const QJsonValue tos = user.value(QLatin1String("tos_accepted"));
    QJsonArray problems;
    auto problem = [&problems](const char *field, const char *message) {
        problems.append(QJsonArray {QLatin1String(field), QLatin1String(message)});
    };
    if (!plausibleEmail(email))
        problem("request_address", "is not a valid e-mail address");
    else if (userByEmail(email))
        problem("request_address", "has already been taken");
    if (password.size() < kMinPasswordLength)
        problem("password", "is too short (minimum is 4 characters)");
    if (password != confirmation)
        problem("password_confirmation", "doesn't match password");
    if (tos.toInt() != 1 && tos.toString() != QLatin1String("1") && !tos.toBool())
        problem("tos_accepted", "must be accepted");
    for (const char *field : {"first_name", "last_name"}) {
        if (user.value(QLatin1String(field)).toString().size() > kMaxTextLength)
            problem(field, "is too long");
    }
    if (!problems.isEmpty())
        return Reply {422, problems};
    const qint64 id = createUser(email, password, user.value(QLatin1String("first_name")).toString(),
        user.value(QLatin1String("last_name")).toString(), false);
    if (id == 0) // lost a race with another sign-up of the same address
        return Reply {422,
            QJsonArray {
                QJsonArray {QStringLiteral("request_address"), QStringLiteral("has already been taken")}}};
    const QString clientId = request.value(QLatin1String(wire::kClientId)).toString();
    const QJsonObject info = request.value(QLatin1String(wire::kClientInfo)).toObject();
    if (!info.isEmpty())
        storeClientInfo(id, clientId, info);
    return created(QJsonObject {{QStringLiteral("user"),
        QJsonObject {{QStringLiteral("email"), email}, {QStringLiteral("confirmed"), false}}}});
}

bool Store::confirmUser(const QString &email) {
    std::lock_guard lock(m_mutex);
    if (!m_db.scalar("SELECT id FROM users WHERE email = ?", {email}).isValid())
        return false;
    m_db.exec("UPDATE users SET confirmed = 1 WHERE email = ?", {email});
    return true;
}

User Store::socialUser(const QString &email, const QString &siteName) {
    if (const std::optional<User> existing = userByEmail(email)) {
        confirmUser(email);
        User u = *existing;
        u.confirmed = true;
        return u;
    }
    // The site vouches for the address; the account has no usable password until it is reset.
    createUser(email, randomToken(), capitalizedLocalPart(email), QString(), true);
    std::optional<User> made = userByEmail(email);
    Q_UNUSED(siteName);
    return made.value_or(User {});
}

void Store::storeClientInfo(qint64 userId, const QString &clientId, const QJsonObject &info) {
    std::lock_guard lock(m_mutex);
    m_db.exec("INSERT INTO client_infos(user_id, client_id, info, updated_at) VALUES(?, ?, ?, ?)"
              " ON CONFLICT(user_id, client_id) DO UPDATE SET info = excluded.info, updated_at = "
              "excluded.updated_at",
        {userId, clientId, toJsonText(info), isoNow()});
}

// ---- address book ----

QJsonObject Store::contactJson(const Db::Row &r) const {
    // guid, name, email, last_used, version
    return QJsonObject {{QStringLiteral("guid"), r[0].toString()}, {QStringLiteral("name"), r[1].toString()},
        {QStringLiteral("email"), r[2].toString()}, {QStringLiteral("last_used"), r[3].toString()},
        {QStringLiteral("version"), r[4].toLongLong()}};
}

QJsonObject Store::groupJson(const Db::Row &r) const {
    // guid, name, entries, last_used, version
    return QJsonObject {{QStringLiteral("guid"), r[0].toString()}, {QStringLiteral("name"), r[1].toString()},
        {QStringLiteral("entries"), arrayFromText(r[2].toString())},
        {QStringLiteral("last_used"), r[3].toString()}, {QStringLiteral("version"), r[4].toLongLong()}};
}

bool Store::emailTaken(qint64 userId, const QString &email, const QString &exceptGuid) {
    for (const Db::Row &r : m_db.query("SELECT guid, email FROM contacts WHERE user_id = ?", {userId})) {
        if (r[0].toString() != exceptGuid && r[1].toString().compare(email, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool Store::groupNameTaken(qint64 userId, const QString &name, const QString &exceptGuid) {
    for (const Db::Row &r : m_db.query("SELECT guid, name FROM address_groups WHERE user_id = ?", {userId})) {
        if (r[0].toString() != exceptGuid && r[1].toString().compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QJsonArray Store::contactsOf(qint64 userId) {
    QJsonArray out;
    for (const Db::Row &r :
        m_db.query("SELECT guid, name, email, last_used, version FROM contacts WHERE user_id = ? ORDER BY id",
            {userId}))
        out.append(contactJson(r));
    return out;
}

QJsonArray Store::groupsOf(qint64 userId) {
    QJsonArray out;
    for (const Db::Row &r : m_db.query("SELECT guid, name, entries, last_used, version FROM address_groups "
                                       "WHERE user_id = ? ORDER BY id",
             {userId}))
        out.append(groupJson(r));
    return out;
}

QJsonObject Store::addressBook(qint64 userId) {
    std::lock_guard lock(m_mutex);
    QJsonArray groups;
    for (const QJsonValue &group : groupsOf(userId))
        groups.append(QJsonObject {{QStringLiteral("address_book_group"), group}});
    return QJsonObject {{QStringLiteral("entries"), contactsOf(userId)}, {QStringLiteral("groups"), groups}};
}

std::optional<Db::Row> Store::contactRowLocked(qint64 userId, const QString &guid) {
    const QVector<Db::Row> rows = m_db.query(
        "SELECT guid, name, email, last_used, version FROM contacts WHERE user_id = ? AND guid = ?",
        {userId, guid});
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first();
}

Reply Store::contact(qint64 userId, const QString &guid) {
    std::lock_guard lock(m_mutex);
    const std::optional<Db::Row> row = contactRowLocked(userId, guid);
    if (!row)
        return Reply::error(404, QStringLiteral("No such contact"));
    return Reply {200, contactJson(*row)};
}

QString Store::insertContactLocked(
    qint64 userId, const QString &name, const QString &email, const QString &lastUsed) {
    const QString guid = newGuid();
    m_db.exec("INSERT INTO contacts(guid, user_id, name, email, last_used, version) VALUES(?, ?, ?, ?, ?, 1)",
        {guid, userId, name, email, lastUsed});
    return guid;
}

QString Store::insertContact(
    qint64 userId, const QString &name, const QString &email, const QString &lastUsed) {
    std::lock_guard lock(m_mutex);
    return insertContactLocked(userId, name, email, lastUsed);
}

Reply Store::addContact(qint64 userId, const QString &name, const QString &email) {
    const QString address = email.trimmed();
    if (!plausibleEmail(address))
        return Reply::error(422, QStringLiteral("Email is not a valid e-mail address"));
    const QString shown = name.trimmed().isEmpty() ? capitalizedLocalPart(address) : name.trimmed();
    if (shown.size() > kMaxTextLength)
        return Reply::error(422, QStringLiteral("Name is too long"));
    std::lock_guard lock(m_mutex);
    if (emailTaken(userId, address, QString()))
        return Reply::error(422, QStringLiteral("Email has already been taken"));
    const QString guid = insertContactLocked(userId, shown, address, isoNow());
    return created(contactJson(contactRowLocked(userId, guid).value_or(Db::Row(5))));
}

Reply Store::updateContact(qint64 userId, const QString &guid, const QMap<QString, QString> &fields) {
    std::lock_guard lock(m_mutex);
    const std::optional<Db::Row> row = contactRowLocked(userId, guid);
    if (!row)
        return Reply::error(404, QStringLiteral("No such contact"));
    QString name = row->at(1).toString();
    QString email = row->at(2).toString();
    QString lastUsed = row->at(3).toString();
    const qint64 version = row->at(4).toLongLong();
    if (fields.contains(QStringLiteral("version"))) {
        bool numeric = false;
        const qint64 sent = fields.value(QStringLiteral("version")).toLongLong(&numeric);
        if (!numeric)
            return Reply::error(422, QStringLiteral("Version is not a number"));
        if (sent != version)
            return Reply::error(409, QStringLiteral("The contact was changed meanwhile; reload it"));
    }
    if (fields.contains(QStringLiteral("email"))) {
        email = fields.value(QStringLiteral("email")).trimmed();
        if (!plausibleEmail(email))
            return Reply::error(422, QStringLiteral("Email is not a valid e-mail address"));
        if (emailTaken(userId, email, guid))
            return Reply::error(422, QStringLiteral("Email has already been taken"));
    }
    if (fields.contains(QStringLiteral("name"))) {
        name = fields.value(QStringLiteral("name")).trimmed();
        if (name.isEmpty())
            name = capitalizedLocalPart(email);
        if (name.size() > kMaxTextLength)
            return Reply::error(422, QStringLiteral("Name is too long"));
    }
    if (fields.contains(QStringLiteral("last_used"))) {
        lastUsed = normalisedIso(fields.value(QStringLiteral("last_used")));
        if (lastUsed.isEmpty())
            return Reply::error(422, QStringLiteral("Last used is not an ISO 8601 time"));
    }
    m_db.exec("UPDATE contacts SET name = ?, email = ?, last_used = ?, version = version + 1 WHERE guid = ?",
        {name, email, lastUsed, guid});
    return Reply {200, contactJson(contactRowLocked(userId, guid).value_or(Db::Row(5)))};
}

Reply Store::deleteContact(qint64 userId, const QString &guid) {
    std::lock_guard lock(m_mutex);
    m_db.exec("DELETE FROM contacts WHERE user_id = ? AND guid = ?", {userId, guid});
    if (m_db.changes() == 0)
        return Reply::error(404, QStringLiteral("No such contact"));
    return Reply {200, QJsonObject {}};
}

namespace {

// The "entries" of a group as sent: a list of guid texts.
bool readEntries(const QJsonObject &group, QStringList *entries, QString *problem) {
    const QJsonValue value = group.value(QLatin1String("entries"));
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isArray()) {
        *problem = QStringLiteral("Entries must be a list of contact guids");
        return false;
    }
    for (const QJsonValue &v : value.toArray()) {
        if (!v.isString()) {
            *problem = QStringLiteral("Entries must be a list of contact guids");
            return false;
        }
        entries->append(v.toString());
    }
    return true;
}

} // namespace

QString Store::insertGroup(qint64 userId, const QString &name, const QStringList &entries) {
    std::lock_guard lock(m_mutex);
    return insertGroupLocked(userId, name, entries);
}

QString Store::insertGroupLocked(qint64 userId, const QString &name, const QStringList &entries) {
    const QString guid = newGuid();
    m_db.exec("INSERT INTO address_groups(guid, user_id, name, entries, last_used, version) VALUES(?, ?, ?, "
              "?, ?, 1)",
        {guid, userId, name, toJsonText(QJsonArray::fromStringList(entries)), isoNow()});
    return guid;
}

Reply Store::addGroup(qint64 userId, const QJsonObject &group) {
    const QString name = group.value(QLatin1String("name")).toString().trimmed();
    if (name.isEmpty() || name.size() > kMaxTextLength)
        return Reply::error(422, QStringLiteral("Name can't be blank"));
    QStringList entries;
    QString problem;
    if (!readEntries(group, &entries, &problem))
        return Reply::error(422, problem);
    std::lock_guard lock(m_mutex);
    if (groupNameTaken(userId, name, QString()))
        return Reply::error(422, QStringLiteral("Name has already been taken"));
    const QString guid = insertGroupLocked(userId, name, entries);
    const QVector<Db::Row> rows = m_db.query(
        "SELECT guid, name, entries, last_used, version FROM address_groups WHERE guid = ?", {guid});
    return created(QJsonObject {{QStringLiteral("address_book_group"), groupJson(rows.first())}});
}

Reply Store::updateGroup(qint64 userId, const QString &guid, const QJsonObject &group) {
    std::lock_guard lock(m_mutex);
    const QVector<Db::Row> rows = m_db.query(
        "SELECT guid, name, entries FROM address_groups WHERE user_id = ? AND guid = ?", {userId, guid});
    if (rows.isEmpty())
        return Reply::error(404, QStringLiteral("No such group"));
    QString name = rows[0][1].toString();
    QString entriesText = rows[0][2].toString();
    if (group.contains(QLatin1String("name"))) {
        name = group.value(QLatin1String("name")).toString().trimmed();
        if (name.isEmpty() || name.size() > kMaxTextLength)
            return Reply::error(422, QStringLiteral("Name can't be blank"));
        if (groupNameTaken(userId, name, guid))
            return Reply::error(422, QStringLiteral("Name has already been taken"));
    }
    if (group.contains(QLatin1String("entries"))) {
        QStringList entries;
        QString problem;
        if (!readEntries(group, &entries, &problem))
            return Reply::error(422, problem);
        entriesText = toJsonText(QJsonArray::fromStringList(entries));
    }
    m_db.exec("UPDATE address_groups SET name = ?, entries = ?, last_used = ?, version = version + 1 WHERE "
              "guid = ?",
        {name, entriesText, isoNow(), guid});
    const QVector<Db::Row> updated = m_db.query(
        "SELECT guid, name, entries, last_used, version FROM address_groups WHERE guid = ?", {guid});
    return Reply {200, QJsonObject {{QStringLiteral("address_book_group"), groupJson(updated.first())}}};
}

Reply Store::deleteGroup(qint64 userId, const QString &guid) {
    std::lock_guard lock(m_mutex);
    m_db.exec("DELETE FROM address_groups WHERE user_id = ? AND guid = ?", {userId, guid});
    if (m_db.changes() == 0)
        return Reply::error(404, QStringLiteral("No such group"));
    return Reply {200, QJsonObject {}};
}

// ---- sites ----

bool Store::isLinked(qint64 userId, const QString &site) {
    std::lock_guard lock(m_mutex);
    return m_db.scalar("SELECT 1 FROM links WHERE user_id = ? AND site = ?", {userId, site}).isValid();
}

void Store::link(qint64 userId, const QString &site) {
    std::lock_guard lock(m_mutex);
    m_db.exec(
        "INSERT OR IGNORE INTO links(user_id, site, linked_at) VALUES(?, ?, ?)", {userId, site, isoNow()});
}

bool Store::unlink(qint64 userId, const QString &site) {
    std::lock_guard lock(m_mutex);
    m_db.exec("DELETE FROM links WHERE user_id = ? AND site = ?", {userId, site});
    return m_db.changes() > 0;
}

// ---- bundles ----

QStringList Store::deliveryAddresses(qint64 userId, const QStringList &recipients) {
    // "%Group" stands for the members of the sender's group as they are now; "@site" posts to a
    // linked site and reaches no account.
    QStringList addresses;
    for (const QString &r : recipients) {
        if (r.startsWith(QLatin1Char('@')))
            continue;
        if (!r.startsWith(QLatin1Char('%'))) {
            addresses.append(r);
            continue;
        }
        for (const Db::Row &g :
            m_db.query("SELECT name, entries FROM address_groups WHERE user_id = ?", {userId})) {
            if (g[0].toString().compare(r.mid(1), Qt::CaseInsensitive) != 0)
                continue;
            for (const QString &guid : stringsOf(arrayFromText(g[1].toString()))) {
                const QVariant email = m_db.scalar(
                    "SELECT email FROM contacts WHERE user_id = ? AND guid = ?", {userId, guid});
                if (email.isValid())
                    addresses.append(email.toString());
            }
        }
    }
    addresses.removeDuplicates();
    return addresses;
}

Reply Store::createBundle(qint64 userId, const QJsonObject &body) {
    const QString guid = body.value(QLatin1String("bundle_guid")).toString().trimmed();
    if (guid.isEmpty() || guid.size() > 100)
        return Reply::error(422, QStringLiteral("bundle_guid is missing"));
    const QJsonValue recipientsValue = body.value(QLatin1String("recipients"));
    if (!recipientsValue.isArray() || recipientsValue.toArray().isEmpty())
        return Reply::error(422, QStringLiteral("A bundle needs at least one recipient"));
    QStringList recipients;
    for (const QJsonValue &v : recipientsValue.toArray()) {
        const QString r = v.toString().trimmed();
        if (!v.isString() || r.isEmpty() || r.size() > 254)
            return Reply::error(422, QStringLiteral("Recipients must be non-empty texts"));
        recipients.append(r);
    }
    const QJsonValue messageValue = body.value(QLatin1String("message"));
    if (!messageValue.isUndefined() && !messageValue.isNull() && !messageValue.isString())
        return Reply::error(422, QStringLiteral("The message must be a text"));
    const QJsonValue photosValue = body.value(QLatin1String("photos"));
    if (!photosValue.isArray() || photosValue.toArray().isEmpty())
        return Reply::error(422, QStringLiteral("A bundle needs at least one photo"));
    const QJsonArray photos = photosValue.toArray();
    for (const QJsonValue &p : photos) {
        if (!p.isObject())
            return Reply::error(422, QStringLiteral("Each photo must be an object"));
    }

    std::lock_guard lock(m_mutex);
    const QVector<Db::Row> existing = m_db.query("SELECT id, user_id FROM bundles WHERE guid = ?", {guid});
    qint64 bundleId = 0;
    bool fresh = false;
    Transaction tx(m_db);
    if (!existing.isEmpty()) {
        if (existing[0][1].toLongLong() != userId)
            return Reply::error(409, QStringLiteral("This bundle guid belongs to another bundle"));
        bundleId = existing[0][0].toLongLong(); // a repeated create after a lost answer
    } else {
        m_db.exec("INSERT INTO bundles(guid, user_id, recipients, message, state, created_at) VALUES(?, ?, "
                  "?, ?, 'open', ?)",
            {guid, userId, toJsonText(QJsonArray::fromStringList(recipients)), messageValue.toString(),
                isoNow()});
        bundleId = m_db.lastInsertId();
        fresh = true;
        for (const QString &address : deliveryAddresses(userId, recipients))
            m_db.exec("INSERT INTO bundle_recipients(bundle_id, address) VALUES(?, ?)", {bundleId, address});
    }
    int index = 0;
    for (const QJsonValue &p : photos) {
        const QJsonObject photo = p.toObject();
        const QString photoGuid = photo.value(QLatin1String("photo_guid")).toString();
        const QString serverGuid = photo.value(QLatin1String("server_guid")).toString();
        const QString origin = photo.value(QLatin1String("photo_origin")).toString(QStringLiteral("library"));
        const int order = photo.value(QLatin1String("order")).toInt(index);
        ++index;
        // A repeated create only adds photos the bundle does not know yet.
        if (!fresh && !photoGuid.isEmpty()
            && m_db.scalar(
                       "SELECT 1 FROM photos WHERE bundle_id = ? AND photo_guid = ?", {bundleId, photoGuid})
                   .isValid())
            continue;
        if (!fresh && photoGuid.isEmpty()
            && m_db.scalar("SELECT 1 FROM photos WHERE bundle_id = ? AND ord = ?", {bundleId, order})
                   .isValid())
            continue;
        const QJsonValue fullimage = photo.value(QLatin1String("fullimage"));
        m_db.exec("INSERT INTO photos(bundle_id, public_id, photo_guid, server_guid, ord, caption, origin,"
                  " announced_type, fullimage) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)",
            {bundleId, randomToken(), photoGuid.isEmpty() ? QVariant() : photoGuid,
                serverGuid.isEmpty() ? QVariant() : serverGuid, order,
                photo.value(QLatin1String("caption")).toString().left(kMaxTextLength), origin,
                photo.value(QLatin1String("type")).toString(),
                fullimage.isUndefined() ? QVariant()
                                        : QVariant(fullimage.toBool() || fullimage.toInt() != 0)});
    }
    tx.commit();
    const QString state = m_db.scalar("SELECT state FROM bundles WHERE id = ?", {bundleId}).toString();
    const QJsonObject answer {{QStringLiteral("bundle"),
        QJsonObject {{QStringLiteral("bundle_guid"), guid}, {QStringLiteral("state"), state}}}};
    return fresh ? created(answer) : Reply {200, answer};
}

Reply Store::photoSlot(qint64 userId, const QJsonObject &params, PhotoSlot *slot) {
    const QString type = params.value(QLatin1String("type")).toString(QLatin1String(wire::kTypeFull));
    if (type != QLatin1String(wire::kTypeScreen) && type != QLatin1String(wire::kTypeFull))
        return Reply::error(422, QStringLiteral("type must be \"screen\" or \"full\""));
    if (params.value(QLatin1String("photo_origin")).toString() == QLatin1String(wire::kOriginReshare))
        return Reply::error(422, QStringLiteral("A reshared photo is already on the server"));
    const QString photoGuid = params.value(QLatin1String("photo_guid")).toString();
    std::lock_guard lock(m_mutex);
    QVector<Db::Row> rows;
    if (!photoGuid.isEmpty()) {
        rows = m_db.query(
            "SELECT photos.id, bundles.id, bundles.guid, bundles.state, photos.origin FROM photos"
            " JOIN bundles ON bundles.id = photos.bundle_id"
            " WHERE bundles.user_id = ? AND photos.photo_guid = ? ORDER BY bundles.id DESC LIMIT 1",
            {userId, photoGuid});
    } else {
        // Without a guid the photo can only be placed by its order in the newest open bundle.
        rows = m_db.query(
            "SELECT photos.id, bundles.id, bundles.guid, bundles.state, photos.origin FROM photos"
            " JOIN bundles ON bundles.id = photos.bundle_id"
            " WHERE bundles.user_id = ? AND bundles.state = 'open' AND photos.ord = ?"
            " ORDER BY bundles.id DESC LIMIT 1",
            {userId, params.value(QLatin1String("order")).toInt(-1)});
    }
    if (rows.isEmpty())
        return Reply::error(404, QStringLiteral("No bundle announced this photo"));
    slot->photoId = rows[0][0].toLongLong();
    slot->bundleId = rows[0][1].toLongLong();
    slot->bundleGuid = rows[0][2].toString();
    slot->bundleState = rows[0][3].toString();
    slot->origin = rows[0][4].toString();
    if (slot->bundleState == QLatin1String("cancelled"))
        return Reply::error(409, QStringLiteral("The bundle was cancelled"));
    if (slot->bundleState == QLatin1String("closed") && type != QLatin1String(wire::kTypeFull))
        return Reply::error(409, QStringLiteral("The bundle is closed; only full-size photos may follow"));
    if (slot->origin == QLatin1String(wire::kOriginReshare))
        return Reply::error(422, QStringLiteral("A reshared photo is already on the server"));
    return Reply {200, QJsonObject {}};
}

QString Store::recordUpload(qint64 photoId, const QString &type, const QString &relativePath, qint64 bytes,
    const QString &sha1, int width, int height) {
    std::lock_guard lock(m_mutex);
    const QString previous
        = m_db.scalar("SELECT path FROM uploads WHERE photo_id = ? AND type = ?", {photoId, type}).toString();
    m_db.exec("INSERT OR REPLACE INTO uploads(photo_id, type, path, bytes, sha1, width, height, uploaded_at)"
              " VALUES(?, ?, ?, ?, ?, ?, ?, ?)",
        {photoId, type, relativePath, bytes, sha1, width > 0 ? QVariant(width) : QVariant(),
            height > 0 ? QVariant(height) : QVariant(), isoNow()});
    m_db.exec("UPDATE photos SET error = NULL WHERE id = ?", {photoId});
    return previous == relativePath ? QString() : previous;
}

void Store::recordPhotoError(qint64 photoId, const QString &error) {
    std::lock_guard lock(m_mutex);
    m_db.exec("UPDATE photos SET error = ? WHERE id = ?", {error.left(kMaxTextLength), photoId});
}

Reply Store::closeBundle(qint64 userId, const QString &guid) {
    std::lock_guard lock(m_mutex);
    const QVector<Db::Row> rows
        = m_db.query("SELECT id, state FROM bundles WHERE user_id = ? AND guid = ?", {userId, guid});
    if (rows.isEmpty())
        return Reply::error(404, QStringLiteral("No such bundle"));
    const QString state = rows[0][1].toString();
    if (state == QLatin1String("cancelled"))
        return Reply::error(409, QStringLiteral("The bundle was cancelled"));
    if (state == QLatin1String("open"))
        m_db.exec("UPDATE bundles SET state = 'closed', closed_at = ? WHERE id = ?", {isoNow(), rows[0][0]});
    return Reply {200,
        QJsonObject {{QStringLiteral("bundle"),
            QJsonObject {{QStringLiteral("bundle_guid"), guid},
                {QStringLiteral("state"), QStringLiteral("closed")}}}}};
}

Reply Store::cancelBundle(qint64 userId, const QString &guid) {
    std::lock_guard lock(m_mutex);
    const QVector<Db::Row> rows
        = m_db.query("SELECT id FROM bundles WHERE user_id = ? AND guid = ?", {userId, guid});
    if (rows.isEmpty())
        return Reply::error(404, QStringLiteral("No such bundle"));
    m_db.exec("UPDATE bundles SET state = 'cancelled' WHERE id = ?", {rows[0][0]});
    return Reply {200,
        QJsonObject {{QStringLiteral("bundle"),
            QJsonObject {{QStringLiteral("bundle_guid"), guid},
                {QStringLiteral("state"), QStringLiteral("cancelled")}}}}};
}

QJsonArray Store::photosJson(qint64 bundleId, const QString &baseUrl, bool withUploads) {
    QJsonArray out;
    for (const Db::Row &p :
        m_db.query("SELECT id, public_id, photo_guid, server_guid, ord, caption, origin, error,"
                   " announced_type FROM photos WHERE bundle_id = ? ORDER BY ord, id",
            {bundleId})) {
        QJsonObject photo {{QStringLiteral("guid"), p[2].isValid() ? p[2].toString() : p[3].toString()},
            {QStringLiteral("order"), p[4].toLongLong()}, {QStringLiteral("caption"), p[5].toString()},
            {QStringLiteral("origin"), p[6].toString()}};
        if (p[3].isValid())
            photo.insert(QStringLiteral("server_guid"), p[3].toString());
        if (p[7].isValid())
            photo.insert(QStringLiteral("error"), p[7].toString());
        QJsonArray uploads;
        // "full" sorts before "screen": the flat fields describe the best copy the server holds.
        for (const Db::Row &u : m_db.query(
                 "SELECT type, bytes, sha1, width, height FROM uploads WHERE photo_id = ? ORDER BY type",
                 {p[0]})) {
            QJsonObject upload {{QStringLiteral("type"), u[0].toString()},
                {QStringLiteral("bytes"), u[1].toLongLong()}, {QStringLiteral("sha1"), u[2].toString()}};
            if (u[3].isValid()) {
                upload.insert(QStringLiteral("width"), u[3].toLongLong());
                upload.insert(QStringLiteral("height"), u[4].toLongLong());
            }
            uploads.append(upload);
        }
        if (!uploads.isEmpty()) {
            const QJsonObject best = uploads.first().toObject();
            for (auto it = best.begin(); it != best.end(); ++it)
                photo.insert(it.key(), it.value());
        }
        if (withUploads) {
            photo.insert(QStringLiteral("uploads"), uploads);
            photo.insert(QStringLiteral("announced_type"), p[8].toString());
        }
        if (!uploads.isEmpty() && !baseUrl.isEmpty()) {
            const QString base = baseUrl + QLatin1String(wire::kPhotosPath) + p[1].toString();
            photo.insert(QStringLiteral("url"), base + QStringLiteral("/image"));
            photo.insert(QStringLiteral("thumb_url"), base + QStringLiteral("/thumb"));
        }
        out.append(photo);
    }
    return out;
}

QJsonArray Store::bundles(qint64 userId, const QString &filter, const QString &baseUrl, int limit) {
    std::lock_guard lock(m_mutex);
    const QString email = m_db.scalar("SELECT email FROM users WHERE id = ?", {userId}).toString();
    const bool sent = filter.isEmpty() || filter == QLatin1String("sent");
    const bool received = filter.isEmpty() || filter == QLatin1String("received");
    QJsonArray out;
    const QVector<Db::Row> rows = m_db.query(
        "SELECT bundles.id, bundles.guid, users.email, users.first_name, users.last_name, bundles.recipients,"
        " bundles.message, bundles.state, bundles.created_at, bundles.closed_at, bundles.user_id"
        " FROM bundles JOIN users ON users.id = bundles.user_id"
        " WHERE (? AND bundles.user_id = ?)"
        "    OR (? AND bundles.state = 'closed' AND bundles.user_id != ?"
        "        AND bundles.id IN (SELECT bundle_id FROM bundle_recipients WHERE address = ?))"
        " ORDER BY bundles.id DESC LIMIT ?",
        {sent, userId, received, userId, email, limit});
    for (const Db::Row &r : rows) {
        User sender;
        sender.email = r[2].toString();
        sender.firstName = r[3].toString();
        sender.lastName = r[4].toString();
        QJsonObject bundle {{QStringLiteral("bundle_guid"), r[1].toString()},
            {QStringLiteral("sender"), sender.email}, {QStringLiteral("sender_name"), sender.name()},
            {QStringLiteral("recipients"), arrayFromText(r[5].toString())},
            {QStringLiteral("message"), r[6].toString()}, {QStringLiteral("state"), r[7].toString()},
            {QStringLiteral("created_at"), r[8].toString()},
            {QStringLiteral("direction"),
                r[10].toLongLong() == userId ? QStringLiteral("sent") : QStringLiteral("received")},
            {QStringLiteral("photos"), photosJson(r[0].toLongLong(), baseUrl, false)}};
        if (r[9].isValid())
            bundle.insert(QStringLiteral("closed_at"), r[9].toString());
        out.append(bundle);
    }
    return out;
}

QString Store::photoFile(const QString &publicId, const QString &type) {
    std::lock_guard lock(m_mutex);
    // The image view prefers the full size, the thumbnail the smaller screen copy.
    const char *sql = type == QLatin1String("thumb")
        ? "SELECT uploads.path FROM uploads JOIN photos ON photos.id = uploads.photo_id WHERE "
          "photos.public_id = ?"
          " ORDER BY uploads.bytes LIMIT 1"
        : "SELECT uploads.path FROM uploads JOIN photos ON photos.id = uploads.photo_id WHERE "
          "photos.public_id = ?"
          " ORDER BY uploads.type LIMIT 1";
    return m_db.scalar(sql, {publicId}).toString();
}

// ---- logs, support, settings ----

void Store::addLog(qint64 userId, const QString &clientId, const QJsonObject &params,
    const QString &relativePath, qint64 bytes) {
    std::lock_guard lock(m_mutex);
    m_db.exec("INSERT INTO client_logs(user_id, client_id, params, path, bytes, created_at) VALUES(?, ?, ?, "
              "?, ?, ?)",
        {userId, clientId, toJsonText(params), relativePath, bytes, isoNow()});
}

void Store::addSupportRequest(
    const QString &name, const QString &email, const QString &subject, const QString &message) {
    std::lock_guard lock(m_mutex);
    m_db.exec("INSERT INTO support_requests(name, email, subject, message, created_at) VALUES(?, ?, ?, ?, ?)",
        {name.left(kMaxTextLength), email.left(kMaxTextLength), subject.left(kMaxTextLength),
            message.left(20000), isoNow()});
}

QJsonObject Store::setting(const QString &key) {
    std::lock_guard lock(m_mutex);
    return objectFromText(m_db.scalar("SELECT value FROM settings WHERE key = ?", {key}).toString());
}

void Store::setSetting(const QString &key, const QJsonObject &value) {
    std::lock_guard lock(m_mutex);
    m_db.exec("INSERT OR REPLACE INTO settings(key, value) VALUES(?, ?)", {key, toJsonText(value)});
}

QJsonObject Store::state() {
    std::lock_guard lock(m_mutex);
    QJsonArray users;
    for (const Db::Row &r :
        m_db.query("SELECT id, email, first_name, last_name, confirmed, roles, access_token,"
                   " created_at FROM users ORDER BY id")) {
        const qint64 id = r[0].toLongLong();
        QJsonArray tokens;
        for (const Db::Row &t :
            m_db.query("SELECT token, client_id FROM tokens WHERE user_id = ? ORDER BY rowid", {id}))
            tokens.append(QJsonObject {
                {QStringLiteral("token"), t[0].toString()}, {QStringLiteral("client_id"), t[1].toString()}});
        QJsonObject infos;
        for (const Db::Row &c :
            m_db.query("SELECT client_id, info FROM client_infos WHERE user_id = ?", {id}))
            infos.insert(c[0].toString(), objectFromText(c[1].toString()));
        QJsonArray links;
        for (const Db::Row &l : m_db.query("SELECT site FROM links WHERE user_id = ? ORDER BY site", {id}))
            links.append(l[0].toString());
        QJsonArray logs;
        for (const Db::Row &l : m_db.query(
                 "SELECT client_id, params, bytes, created_at FROM client_logs WHERE user_id = ? ORDER BY id",
                 {id}))
            logs.append(QJsonObject {{QStringLiteral("client_id"), l[0].toString()},
                {QStringLiteral("params"), objectFromText(l[1].toString())},
                {QStringLiteral("bytes"), l[2].toLongLong()},
                {QStringLiteral("created_at"), l[3].toString()}});
        users.append(QJsonObject {{QStringLiteral("email"), r[1].toString()},
            {QStringLiteral("first_name"), r[2].toString()}, {QStringLiteral("last_name"), r[3].toString()},
            {QStringLiteral("confirmed"), r[4].toLongLong() != 0},
            {QStringLiteral("roles"), arrayFromText(r[5].toString())},
            {QStringLiteral("al"), r[6].toString()}, {QStringLiteral("created_at"), r[7].toString()},
            {QStringLiteral("tokens"), tokens}, {QStringLiteral("client_info"), infos},
            {QStringLiteral("contacts"), contactsOf(id)}, {QStringLiteral("groups"), groupsOf(id)},
            {QStringLiteral("linked_sites"), links}, {QStringLiteral("client_logs"), logs}});
    }
    QJsonArray bundles;
    for (const Db::Row &r :
        m_db.query("SELECT bundles.id, bundles.guid, users.email, bundles.recipients, bundles.message,"
                   " bundles.state, bundles.created_at, bundles.closed_at"
                   " FROM bundles JOIN users ON users.id = bundles.user_id ORDER BY bundles.id")) {
        QJsonObject bundle {{QStringLiteral("bundle_guid"), r[1].toString()},
            {QStringLiteral("sender"), r[2].toString()},
            {QStringLiteral("recipients"), arrayFromText(r[3].toString())},
            {QStringLiteral("message"), r[4].toString()}, {QStringLiteral("state"), r[5].toString()},
            {QStringLiteral("created_at"), r[6].toString()},
            {QStringLiteral("photos"), photosJson(r[0].toLongLong(), QString(), true)}};
        if (r[7].isValid())
            bundle.insert(QStringLiteral("closed_at"), r[7].toString());
        bundles.append(bundle);
    }
    QJsonArray sites;
    for (const SiteDef &site : siteTable()) {
        sites.append(QJsonObject {{QStringLiteral("name"), QLatin1String(site.name)},
            {QStringLiteral("display_name"), QLatin1String(site.displayName)},
            {QStringLiteral("destination"), site.destination},
            {QStringLiteral("address_source"), site.addressSource},
            {QStringLiteral("sign_in"), site.signIn}});
    }
    QJsonArray support;
    for (const Db::Row &r :
        m_db.query("SELECT name, email, subject, message, created_at FROM support_requests ORDER BY id"))
        support.append(QJsonObject {{QStringLiteral("name"), r[0].toString()},
            {QStringLiteral("email"), r[1].toString()}, {QStringLiteral("subject"), r[2].toString()},
            {QStringLiteral("message"), r[3].toString()}, {QStringLiteral("created_at"), r[4].toString()}});
    return QJsonObject {{QStringLiteral("users"), users}, {QStringLiteral("bundles"), bundles},
        {QStringLiteral("sites"), sites}, {QStringLiteral("support_requests"), support}};
}

} // namespace lf::dev
