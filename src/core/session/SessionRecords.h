#pragma once

#include "api/APIResult.h"

#include <QVariantMap>

namespace lf {

// Keys of the records the session hands to its delegate.
namespace RecordKey {
inline constexpr const char *ClientAction = "clientAction";
inline constexpr const char *Error = "error";
inline constexpr const char *Status = "status";
inline constexpr const char *Body = "body";
inline constexpr const char *What = "what";
inline constexpr const char *Value = "value";
inline constexpr const char *String = "string";
// Bytes of an upload so far and in all, beside its "value" fraction.
inline constexpr const char *Sent = "sent";
inline constexpr const char *Total = "total";
inline constexpr const char *Index = "index";
inline constexpr const char *Count = "count";
} // namespace RecordKey

// "clientAction" values: which operation a result record reports.
namespace ClientAction {
inline constexpr const char *Connect = "connect";
inline constexpr const char *SendBundle = "sendBundle";
inline constexpr const char *RequestBundles = "requestBundles";
} // namespace ClientAction

// "what" values of progress records.
namespace ProgressWhat {
inline constexpr const char *Connected = "!"; // the server answered and data flows
inline constexpr const char *Network = "network";
inline constexpr const char *Upload = "upload";
inline constexpr const char *StagedUpload = "stagedUpload";
inline constexpr const char *Cancelled = "cancelled";
} // namespace ProgressWhat

// A failed request as a result record: "error" (its reason), "status" and, when present, "body".
QVariantMap failureRecord(const APIResult &failure);
// Copies the failure's "error", "status" and "body" into `record`.
void addFailure(QVariantMap &record, const APIResult &failure);
inline bool isFailureRecord(const QVariantMap &record) {
    return record.contains(RecordKey::Error);
}

} // namespace lf
