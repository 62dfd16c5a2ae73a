// The dev API and the demo seed.
#include "Assets.h"
#include "Service.h"
#include "Sites.h"
#include "Wire.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace lf::dev {

void Service::devApi(Call &call) {
    const QString what = call.path.mid(int(qstrlen("/__dev/")));
    const QString method = QString::fromStdString(call.req.method);
    auto is = [&](const char *m, const char *p) {
        return method == QLatin1String(m) && what == QLatin1String(p);
    };

    if (is("GET", "requests")) {
        call.json(200, m_log.toJson());
    } else if (is("POST", "reset")) {
        m_log.clear();
        m_faults.clear();
        {
            std::lock_guard lock(m_wakeMutex);
            ++m_resetGeneration; // releases stalled requests
        }
        m_wake.notify_all();
        call.json(200, QJsonObject {});
    } else if (is("POST", "faults")) {
        const std::optional<QJsonObject> body = call.jsonBody();
        if (!body)
            return;
        const QString faultMethod = body->value(QLatin1String("method")).toString().toUpper();
        const QString path = body->value(QLatin1String("path")).toString();
        const QJsonValue responses = body->value(QLatin1String("responses"));
        if (faultMethod.isEmpty() || !path.startsWith(QLatin1Char('/')) || !responses.isArray()) {
            call.error(422, QStringLiteral("method, path (starting with /) and responses are required"));
            return;
        }
        std::vector<Fault> faults;
        for (const QJsonValue &entry : responses.toArray()) {
            Fault fault;
            QString problem;
            if (!entry.isObject() || !Fault::fromJson(entry.toObject(), &fault, &problem)) {
                call.error(
                    422, problem.isEmpty() ? QStringLiteral("each response must be an object") : problem);
                return;
            }
            faults.push_back(fault);
        }
        m_faults.add(faultMethod, path, faults);
        call.json(200, QJsonObject {{QStringLiteral("queued"), qint64(faults.size())}});
    } else if (is("GET", "state")) {
        QJsonObject state = m_store.state();
        state.insert(QStringLiteral("update"), updateConfig());
        state.insert(QStringLiteral("faults"), m_faults.pending());
        call.json(200, state);
    } else if (is("POST", "users/confirm")) {
        const std::optional<QJsonObject> body = call.jsonBody();
        if (!body)
            return;
        if (m_store.confirmUser(body->value(QLatin1String("email")).toString()))
            call.json(200, QJsonObject {});
        else
            call.error(404, QStringLiteral("No such user"));
    } else if (is("POST", "update")) {
        const std::optional<QJsonObject> body = call.jsonBody();
        if (!body)
            return;
        QJsonObject stored = m_store.setting(QStringLiteral("update"));
        for (const char *key : {"version", "compat_version", "release_date", "tos_date", "md5_hash",
                 "package", "package_file", "signature"}) {
            const QJsonValue value = body->value(QLatin1String(key));
            if (value.isString() && !value.toString().isEmpty())
                stored.insert(QLatin1String(key), value);
            else if (value.isNull() || (value.isString() && value.toString().isEmpty()))
                stored.remove(QLatin1String(key)); // back to the default (for md5_hash: the real digest)
        }
        if (body->value(QLatin1String("icons")).isArray())
            stored.insert(QStringLiteral("icons"), body->value(QLatin1String("icons")));
        m_store.setSetting(QStringLiteral("update"), stored);
        updateCheck(call);
    } else {
        call.error(404, QStringLiteral("No such dev API call"));
    }
}

namespace {

struct SeedContact {
    const char *name;
    const char *email;
    const char *lastUsed;
};

const SeedContact kDemoContacts[] = {
    {"Ann Friend", "ann.friend@lanternfish.test", "2024-05-02T09:15:00Z"},
    {"Bob Friend", "bob.friend@lanternfish.test", "2024-04-28T18:40:00Z"},
    {"Carla Mendes", "carla@example.org", "2024-03-11T12:00:00Z"},
    {"Dmitri Volkov", "dmitri@example.org", "2023-12-24T20:05:00Z"},
    {"Elena Rossi", "elena.rossi@example.org", "2024-02-14T08:30:00Z"},
    {"Farah Haddad", "farah@example.org", "2023-09-03T16:45:00+02:00"},
    {"George Okafor", "george@example.org", "2024-01-20T10:10:00Z"},
    {"Hana Sato", "hana.sato@example.org", "2024-04-01T07:00:00Z"},
    {"Ivan Petrov", "ivan@example.org", "2022-06-30T22:00:00Z"},
    {"Julia Weber", "julia.weber@example.org", "2000-06-01T12:00:00+02:00"},
    {"Kofi Mensah", "kofi@example.org", "2024-05-05T15:20:00Z"},
    // Dormant: last used before 1970.
    {"Old Pal", "old.pal@example.org", "1969-07-20T20:17:40Z"},
};

const char kMissingMember[] = "0DEADBEE-F000-4000-8000-00000000DEAD";

} // namespace

void Service::seedDemo() {
    if (m_store.userByEmail(QStringLiteral("demo@lanternfish.test")))
        return; // seeded before: the data folder was reused
    const QString password = QStringLiteral("lanternfish");
    const qint64 demo = m_store.createUser(QStringLiteral("demo@lanternfish.test"), password,
        QStringLiteral("Demo"), QStringLiteral("User"), true);
    m_store.createUser(QStringLiteral("staff@lanternfish.test"), password, QStringLiteral("Sam"),
        QStringLiteral("Staff"), true, {QStringLiteral("admin")});
    const qint64 ann = m_store.createUser(QStringLiteral("ann.friend@lanternfish.test"), password,
        QStringLiteral("Ann"), QStringLiteral("Friend"), true);
    const qint64 bob = m_store.createUser(QStringLiteral("bob.friend@lanternfish.test"), password,
        QStringLiteral("Bob"), QStringLiteral("Friend"), true);
    m_store.createUser(QStringLiteral("pending@lanternfish.test"), password, QStringLiteral("Pat"),
        QStringLiteral("Pending"), false);

    QStringList guids;
    for (const SeedContact &c : kDemoContacts)
        guids.append(m_store.insertContact(
            demo, QLatin1String(c.name), QLatin1String(c.email), QLatin1String(c.lastUsed)));
    m_store.insertGroup(demo, QStringLiteral("Family"), {guids[0], guids[1], guids[2]});
    m_store.insertGroup(
        demo, QStringLiteral("Book Club"), {guids[4], guids[7], QLatin1String(kMissingMember)});
    m_store.link(demo, QStringLiteral("photostream"));

    struct SeedBundle {
        qint64 sender;
        const char *recipient;
        const char *message;
        QStringList captions;
    };
    const SeedBundle bundles[] = {
        {ann, "demo@lanternfish.test", "Beach day!",
            {QStringLiteral("Waves"), QStringLiteral("Sand castle")}},
        {bob, "demo@lanternfish.test", "New bike",
            {QStringLiteral("Red"), QStringLiteral("Wheels"), QStringLiteral("")}},
        {ann, "demo@lanternfish.test", "", {QStringLiteral("Sunset")}},
        {demo, "ann.friend@lanternfish.test", "Look what I found", {QStringLiteral("Old lantern")}},
    };
    int seed = 0;
    for (const SeedBundle &b : bundles) {
        const QString bundleGuid = newGuid();
        QJsonArray photos;
        QStringList photoGuids;
        for (int i = 0; i < b.captions.size(); ++i) {
            photoGuids.append(newGuid());
            photos.append(QJsonObject {{QStringLiteral("photo_guid"), photoGuids.last()},
                {QStringLiteral("order"), i}, {QStringLiteral("caption"), b.captions[i]},
                {QStringLiteral("type"), QLatin1String(wire::kTypeFull)}});
        }
        m_store.createBundle(b.sender,
            QJsonObject {{QStringLiteral("bundle_guid"), bundleGuid},
                {QStringLiteral("recipients"), QJsonArray {QLatin1String(b.recipient)}},
                {QStringLiteral("message"), QLatin1String(b.message)}, {QStringLiteral("photos"), photos}});
        for (const QString &photoGuid : photoGuids) {
            PhotoSlot slot;
            m_store.photoSlot(b.sender, QJsonObject {{QStringLiteral("photo_guid"), photoGuid}}, &slot);
            const QByteArray jpeg = demoPhoto(seed++, 640, 480);
            const QString relative = QStringLiteral("photos/%1/%2-full.jpg")
                                         .arg(QString::number(slot.bundleId), QString::number(slot.photoId));
            QDir().mkpath(QFileInfo(absolutePath(relative)).absolutePath());
            QFile out(absolutePath(relative));
            if (!out.open(QIODevice::WriteOnly) || out.write(jpeg) != jpeg.size())
                continue;
            out.close();
            const QSize size = imageSize(absolutePath(relative));
            m_store.recordUpload(slot.photoId, QLatin1String(wire::kTypeFull), relative, jpeg.size(),
                QString::fromLatin1(QCryptographicHash::hash(jpeg, QCryptographicHash::Sha1).toHex()),
                size.width(), size.height());
        }
        m_store.closeBundle(b.sender, bundleGuid);
    }
}

} // namespace lf::dev
