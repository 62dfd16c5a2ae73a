#include "session/SessionRecords.h"

namespace lf {

void addFailure(QVariantMap &record, const APIResult &failure) {
    record.insert(RecordKey::Error, failure.httpStatusString());
    record.insert(RecordKey::Status, failure.httpStatus());
    const QVariantMap map = failure.toMap();
    if (map.contains(ResultKey::HttpStatusBody))
        record.insert(RecordKey::Body, map.value(ResultKey::HttpStatusBody));
}

QVariantMap failureRecord(const APIResult &failure) {
    QVariantMap record;
    addFailure(record, failure);
    return record;
}

} // namespace lf
