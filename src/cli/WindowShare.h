#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace lf::cli {

// When the desktop program holds the share queue, a share goes through its window
// instead. Hands the photos, recipients and note to the window, presses Share there and follows
// the upload; the exit code, or nothing when no window holds the queue.
std::optional<int> shareThroughWindow(
    const QStringList &photos, const QStringList &recipients, const QString &message);

// The running window's state ("signed_in", "sharing", "photos", "recipients"), or nothing.
std::optional<QJsonObject> windowState();

} // namespace lf::cli
