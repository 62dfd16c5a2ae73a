// Bundles, photo uploads and client logs.
#include "Assets.h"
#include "Service.h"
#include "Wire.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace lf::dev {

namespace {

constexpr qint64 kMaxPhotoBytes = qint64(512) * 1024 * 1024;
constexpr qint64 kMaxLogBytes = qint64(20) * 1024 * 1024;
constexpr int kDefaultBundleLimit = 50;
constexpr int kMaxBundleLimit = 500;

QString extensionFor(const QByteArray &mime) {
    if (mime == "image/jpeg")
        return QStringLiteral(".jpg");
    if (mime == "image/png")
        return QStringLiteral(".png");
    if (mime == "image/gif")
        return QStringLiteral(".gif");
    if (mime == "image/tiff")
        return QStringLiteral(".tif");
    if (mime == "image/webp")
        return QStringLiteral(".webp");
    return QStringLiteral(".bin");
}

QByteArray headOf(const QString &path) {
    QFile in(path);
    return in.open(QIODevice::ReadOnly) ? in.read(16) : QByteArray();
}

} // namespace

QString Service::absolutePath(const QString &relativePath) const {
    return QDir(m_dataDir).filePath(relativePath);
}

void Service::createBundle(Call &call) {
    const std::optional<QJsonObject> body = call.jsonBody();
    if (!body)
        return;
    call.reply(m_store.createBundle(call.user->id, *body));
}

void Service::uploadPhoto(Call &call) {
    if (!call.params.isObject()) {
        call.error(422, QStringLiteral("X-Lanternfish-Params must carry the photo record"));
        return;
    }
    const QJsonObject params = call.params.toObject();
    PhotoSlot slot;
    const Reply found = m_store.photoSlot(call.user->id, params, &slot);
    if (!found.ok()) {
        call.reply(found);
        return;
    }
    const QString type = params.value(QLatin1String("type")).toString(QLatin1String(wire::kTypeFull));
    const QString photoGuid = params.value(QLatin1String("photo_guid")).toString();
    const QJsonValue hash = params.value(QLatin1String("hash"));
    if (hash.isUndefined() && params.value(QLatin1String("error")).isString()) {
        // The client could not read the photo and says so instead of sending it.
        call.drainBody();
        m_store.recordPhotoError(slot.photoId, params.value(QLatin1String("error")).toString());
        call.json(200,
            QJsonObject {{QStringLiteral("photo"),
                QJsonObject {{QStringLiteral("photo_guid"), photoGuid},
                    {QStringLiteral("state"), QStringLiteral("failed")}}}});
        return;
    }
    static const QRegularExpression hexDigest(QStringLiteral("^[0-9a-fA-F]{40}$"));
    if (!hash.isString() || !hexDigest.match(hash.toString()).hasMatch()) {
        call.error(422, QStringLiteral("hash must be the SHA-1 of the photo as 40 hexadecimal digits"));
        return;
    }
    const std::optional<Received> received = receiveToFile(call, kMaxPhotoBytes);
    if (!received)
        return;
    if (received->bytes == 0) {
        QFile::remove(received->partPath);
        call.error(422, QStringLiteral("The photo has no bytes"));
        return;
    }
    if (received->sha1 != hash.toString().toLower()) {
        QFile::remove(received->partPath);
        call.error(422, QStringLiteral("The photo's SHA-1 does not match its hash"));
        return;
    }
    const QString relative = QStringLiteral("photos/%1/%2-%3%4")
                                 .arg(QString::number(slot.bundleId), QString::number(slot.photoId), type,
                                     extensionFor(sniffMimeType(headOf(received->partPath))));
    if (!placeFile(received->partPath, relative)) {
        call.error(500, QStringLiteral("Cannot store the photo"));
        return;
    }
    const QSize size = imageSize(absolutePath(relative));
    const QString replaced = m_store.recordUpload(
        slot.photoId, type, relative, received->bytes, received->sha1, size.width(), size.height());
    if (!replaced.isEmpty())
        QFile::remove(absolutePath(replaced));
    call.json(200,
        QJsonObject {{QStringLiteral("photo"),
            QJsonObject {{QStringLiteral("photo_guid"), photoGuid}, {QStringLiteral("type"), type},
                {QStringLiteral("bytes"), received->bytes}, {QStringLiteral("sha1"), received->sha1},
                {QStringLiteral("bundle_guid"), slot.bundleGuid}}}});
}

void Service::closeBundle(Call &call) {
    if (const std::optional<QString> guid = call.jsonText("bundle_guid"))
        call.reply(m_store.closeBundle(call.user->id, *guid));
}

void Service::cancelBundle(Call &call) {
    if (const std::optional<QString> guid = call.jsonText("bundle_guid"))
        call.reply(m_store.cancelBundle(call.user->id, *guid));
}

void Service::listBundles(Call &call) {
    const QString filter = call.query("filter");
    if (!filter.isEmpty() && filter != QLatin1String("sent") && filter != QLatin1String("received")) {
        call.error(422, QStringLiteral("filter must be sent or received"));
        return;
    }
    bool ok = true;
    const QString limitText = call.query("limit");
    const int limit = limitText.isEmpty() ? kDefaultBundleLimit : limitText.toInt(&ok);
    if (!ok || limit < 1) {
        call.error(422, QStringLiteral("limit must be a positive number"));
        return;
    }
    call.json(200,
        QJsonObject {{QStringLiteral("bundles"),
            m_store.bundles(call.user->id, filter, call.baseUrl, std::min(limit, kMaxBundleLimit))}});
}

void Service::photoImage(Call &call) {
    const bool thumb = call.args.value(1) == QLatin1String("thumb");
    const QString relative
        = m_store.photoFile(call.args.value(0), thumb ? QStringLiteral("thumb") : QStringLiteral("image"));
    if (relative.isEmpty()) {
        call.error(404, QStringLiteral("No such photo"));
        return;
    }
    const QString path = absolutePath(relative);
    if (thumb) {
        const QByteArray jpeg = thumbnail(path, 160);
        if (!jpeg.isEmpty()) {
            call.bytes(200, "image/jpeg", jpeg);
            return;
        }
    }
    call.file(path, sniffMimeType(headOf(path)));
}

void Service::uploadLog(Call &call) {
    const QJsonObject params = call.params.toObject();
    if (!call.params.isObject() || params.value(QLatin1String("file_name")).toString().isEmpty()) {
        call.error(422, QStringLiteral("X-Lanternfish-Params must carry the log record with file_name"));
        return;
    }
    const std::optional<Received> received = receiveToFile(call, kMaxLogBytes);
    if (!received)
        return;
    // Stored under a name of our own; the client's file name stays in the record only.
    const QString relative = QStringLiteral("logs/%1.log").arg(randomToken());
    if (!placeFile(received->partPath, relative)) {
        call.error(500, QStringLiteral("Cannot store the log"));
        return;
    }
    QJsonObject record = params;
    record.insert(QStringLiteral("sha1"), received->sha1);
    m_store.addLog(call.user->id, call.userHeader.value(QLatin1String(wire::kClientId)).toString(), record,
        relative, received->bytes);
    call.json(
        200, QJsonObject {{QStringLiteral("stored"), true}, {QStringLiteral("bytes"), received->bytes}});
}

} // namespace lf::dev
