#pragma once

#include "share/PhotoInfo.h"

#include <QString>
#include <QVariantMap>

namespace lf {

// What the session forwards of bundle uploads. The protocol itself sits above the session
// (sending/BundleUploader), which installs it with Service::setBundleSender.
class BundleSender {
public:
    virtual ~BundleSender() = default;

    // Both block the calling thread until the transfer ended.
    virtual QVariantMap sendBundleAsynch(const QVariantMap &request) = 0;
    virtual QVariantMap uploadPhotoAsynch(const UploadItem &item) = 0;
    virtual void cancelBundle(const QString &bundleGuid) = 0;
    virtual void setRetried(bool retried) = 0;
    // The step of the send in flight, as an integer.
    virtual int bundleStep() const = 0;
    // The program is ending: sends in flight stop at once and stay resumable.
    virtual void setStopping(bool stopping) = 0;
};

} // namespace lf
