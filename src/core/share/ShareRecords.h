#pragma once

#include "share/PhotoInfo.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace lf {

class ShareTask;
using ShareTaskPtr = std::shared_ptr<ShareTask>;

// One photo upload: a photo of a share's bundle, or the full-size copy sent after it. The task
// archive and the wire hold it as a dictionary (toMap): a field left empty is not there.
struct UploadItem {
    QString url; // the photo's file (for a reshare, its address on the server)
    QString caption;
    int order = 0;
    QString photoGuid;
    QString origin; // "photo_origin": library, reshare, ...
    QString type; // "full" or "screen"; empty for a photo already on the server
    std::optional<bool> fullImage; // the bundle gets the photo in full, not at screen size
    QVariantMap gps;
    // Its place among the share's full-size uploads; -1 for a photo of the bundle.
    int fullIndex = -1;
    int fullCount = -1;

    bool isReshare() const;
    QVariantMap toMap() const;
    static UploadItem fromMap(const QVariantMap &map);
};

// One share as the worker hands it to the bundle protocol.
struct ShareRequest {
    QString bundleGuid;
    QStringList recipients;
    QString message;
    QList<UploadItem> photos;
    // The photo a resumed send goes on with.
    std::optional<int> continuePhoto;
    // The server accepted the bundle's create in an earlier attempt.
    bool sentCreate = false;
    // Whose resume point the send moves on; null for a send of no task.
    ShareTaskPtr task;
};

// How a bundle send or a full-size upload ended.
struct SendResult {
    bool failed = false;
    // The failure's HTTP status, or the transport's negative code (0 for none).
    int status = 0;
    QString error;
    // Where the send stopped among the photos, or the resume point it did not get to use.
    std::optional<int> continuePhoto;
    // This send's create was accepted.
    bool sentCreate = false;
    // The server's answer to a full-size upload.
    QString body;

    static SendResult failure(int status, const QString &error) {
        return {true, status, error, {}, false, {}};
    }
};

} // namespace lf
