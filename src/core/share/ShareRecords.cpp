#include "share/ShareRecords.h"

namespace lf {

namespace {

QString key(const char *name) {
    return QString::fromLatin1(name);
}

} // namespace

bool UploadItem::isReshare() const {
    return origin == QLatin1String(kOriginReshare);
}

QVariantMap UploadItem::toMap() const {
    QVariantMap map {{key(kPhotoCaption), caption}, {key(kPhotoOrder), order}};
    const auto insertText = [&map](const char *name, const QString &value) {
        if (!value.isEmpty())
            map.insert(key(name), value);
    };
    insertText(kPhotoUrl, url);
    insertText(kPhotoGuid, photoGuid);
    insertText(kPhotoOrigin, origin);
    insertText(kUploadType, type);
    if (fullImage)
        map.insert(key(kUploadFullImage), *fullImage);
    if (!gps.isEmpty())
        map.insert(key(kPhotoGps), gps);
    if (fullIndex >= 0)
        map.insert(key(kUploadFullIndex), fullIndex);
    if (fullCount >= 0)
        map.insert(key(kUploadFullCount), fullCount);
    return map;
}

UploadItem UploadItem::fromMap(const QVariantMap &map) {
    UploadItem item;
    item.url = map.value(key(kPhotoUrl)).toString();
    item.caption = map.value(key(kPhotoCaption)).toString();
    item.order = map.value(key(kPhotoOrder)).toInt();
    item.photoGuid = map.value(key(kPhotoGuid)).toString();
    item.origin = map.value(key(kPhotoOrigin)).toString();
    item.type = map.value(key(kUploadType)).toString();
    if (map.contains(key(kUploadFullImage)))
        item.fullImage = map.value(key(kUploadFullImage)).toBool();
    item.gps = map.value(key(kPhotoGps)).toMap();
    item.fullIndex = map.value(key(kUploadFullIndex), -1).toInt();
    item.fullCount = map.value(key(kUploadFullCount), -1).toInt();
    return item;
}

} // namespace lf
