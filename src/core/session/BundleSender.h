#pragma once

#include "session/SessionRecords.h"
#include "share/ShareRecords.h"

#include <QString>
#include <QVariantMap>

namespace lf {

// Keys of the dictionaries a bundle send hands out: the create request's body and the delegate's
// result record.
namespace BundleKey {
inline constexpr const char *BundleGuid = "bundle_guid";
inline constexpr const char *Recipients = "recipients";
inline constexpr const char *Message = "message";
inline constexpr const char *Photos = "photos";
inline constexpr const char *Context = kUploadBundleContext;
inline constexpr const char *ContinuePhoto = "bundleContinuePhoto";
inline constexpr const char *SentCreate = "bundleSentCreate";
inline constexpr const char *Error = RecordKey::Error;
inline constexpr const char *HttpStatus = ResultKey::HttpStatus;
inline constexpr const char *Body = RecordKey::Body;
inline constexpr const char *Filename = "filename";
inline constexpr const char *ServerGuid = "server_guid";
inline constexpr const char *Hash = "hash";
} // namespace BundleKey

// Where a bundle upload reports to: progress and results go out through it, and it holds the
// cancel state of the send in flight (progress is silent while that is set).
class BundleReporter {
public:
    virtual ~BundleReporter() = default;
    virtual void progress(const QString &what, double value, bool wait) = 0;
    virtual void progress(const QString &what, qint64 sent, qint64 total, bool wait) = 0;
    virtual void progress(const QString &what, const QString &text) = 0;
    // A text with the position it tells of ("index" from 0 of "count").
    virtual void progress(const QString &what, const QString &text, int index, int count) = 0;
    virtual void progressConnected() = 0;
    // Hands a result record on and waits until it was taken.
    virtual void completed(const QVariantMap &result) = 0;
    virtual bool cancelled() const = 0;
    virtual void setCancelled(bool cancelled) = 0;
};

// What the session forwards of bundle uploads. The protocol itself sits above the session
// (sending/BundleUploader), which Service::installBundleSender builds from the session's request
// layer and its reports.
class BundleSender {
public:
    virtual ~BundleSender() = default;

    // Both block the calling thread until the transfer ended.
    virtual SendResult sendBundleAsynch(const ShareRequest &request) = 0;
    virtual SendResult uploadPhotoAsynch(const UploadItem &item) = 0;
    virtual void cancelBundle(const QString &bundleGuid) = 0;
    virtual void setRetried(bool retried) = 0;
    // The step of the send in flight, as an integer.
    virtual int bundleStep() const = 0;
    // The program is ending: sends in flight stop at once and stay resumable.
    virtual void setStopping(bool stopping) = 0;
};

} // namespace lf
