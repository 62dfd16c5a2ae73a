#include "foundation/Dates.h"

#include <QLocale>

namespace lf {

QString logDateString(const QDateTime &date) {
    return QLocale::c().toString(date.toLocalTime(), QStringLiteral("MM/dd/yyyy HH:mm:zzz"));
}

QString fileNameDateString(const QDateTime &date) {
    return QLocale::c().toString(date.toLocalTime(), QStringLiteral("yyyy_MMM_dd"));
}

} // namespace lf
