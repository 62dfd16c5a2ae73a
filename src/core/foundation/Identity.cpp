#include "foundation/Identity.h"

#include "foundation/Prefs.h"

#include <QDir>
#include <QStandardPaths>

namespace lf {

QString getClientID() {
    return Prefs::ensurePref(QLatin1String(PrefKey::ClientID), [] {
        return generateUUIDString();
    }).toString();
}

QUuid generateUUID() {
    return QUuid::createUuid();
}

QString uuidToString(const QUuid &uuid) {
    return uuid.toString(QUuid::WithoutBraces).toUpper();
}

QString generateUUIDString() {
    return uuidToString(generateUUID());
}

QString sandboxFolder() {
    const QString caches = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return QDir(caches).filePath(QLatin1String(kPrefsDomain));
}

QString iconsFolder() {
    return QDir(sandboxFolder()).filePath(QStringLiteral("icons"));
}

} // namespace lf
