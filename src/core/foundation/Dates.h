#pragma once

#include <QDateTime>
#include <QString>

namespace lf {

// "MM/dd/yyyy HH:mm:SSS": month, day, year, hours, minutes, then milliseconds (no seconds field).
QString logDateString(const QDateTime &date);
// "yyyy_MMM_dd" with English month abbreviations, e.g. 2011_Mar_07.
QString fileNameDateString(const QDateTime &date);

} // namespace lf
