#pragma once

#include <QVariant>
#include <QVariantList>

namespace lf {

// The matching rule of the list helpers: texts match ignoring letter case; other values that
// can be ordered match when they compare equal; anything else by plain equality.
bool valuesMatch(const QVariant &element, const QVariant &value);

// Index of the first matching element, or -1.
qsizetype indexOfObjectWithValue(const QVariantList &list, const QVariant &value);
// Appends `value` unless an element matches it; true when appended.
bool addObjectOnce(QVariantList &list, const QVariant &value);
// Removes the first matching element together with every element equal to it; true when found.
bool removeObjectWithValue(QVariantList &list, const QVariant &value);
// The first dictionary whose entry for `key` equals `value`; invalid when none.
QVariant objectWithValueForSubKey(const QVariantList &list, const QVariant &value, const QString &key);
// True when an element is exactly `text` (letter case counts).
bool containsString(const QVariantList &list, const QString &text);
// JSON null becomes an invalid (absent) value; anything else stays.
QVariant nullFix(const QVariant &value);

// The same rules for plain string lists.
qsizetype indexOfStringCaseIns(const QStringList &list, const QString &value);
bool addStringOnce(QStringList &list, const QString &value);
bool removeStringCaseIns(QStringList &list, const QString &value);

} // namespace lf
