#pragma once

#include <QString>
#include <QUuid>

namespace lf {

// The installation identifier: the stored one, or a new one stored on first read.
QString getClientID();

QUuid generateUUID();
// The UUID's 16 bytes as upper-case hex with hyphens after bytes 4, 6, 8 and 10 (36 characters).
QString uuidToString(const QUuid &uuid);
QString generateUUIDString();

// $XDG_CACHE_HOME/com.Lanternfish.MacClient: share-set folders live here. Not created here.
QString sandboxFolder();
// The cache folder's "icons": downloaded site icons.
QString iconsFolder();

} // namespace lf
