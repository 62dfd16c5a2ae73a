#pragma once

#include <QString>
#include <QStringList>

namespace lf {

// The text of a bracketed key ("[Share]") from resources/strings/en.json; a key missing from
// the table, or a text that is not bracketed, is shown as it is.
QString localizedString(const QString &key);

// A format key with Qt's %1, %2, ... filled in the given order.
QString localizedFormat(const QString &key, const QStringList &args);

} // namespace lf
