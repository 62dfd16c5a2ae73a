#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace lf {

// XML property lists. Types map as: QString <-> string, integers <-> integer, double <-> real,
// bool <-> true/false, QDateTime <-> date (UTC, whole seconds), QByteArray <-> data,
// QVariantList <-> array, QVariantMap <-> dict. Other values are left out when writing.
QByteArray writePropertyList(const QVariant &root);

// Whether `value`, and everything inside it, can be written and read back; else `why` says what
// cannot (a QDate, a QUrl, a QVariantHash, an invalid date, a text XML cannot carry, ...).
// Empty entries of a dictionary are allowed: they are left out, as absent keys.
bool isPropertyListValue(const QVariant &value, QString *why = nullptr);

// The deepest nesting of arrays and dictionaries a property list may have; deeper ones are refused.
inline constexpr int kMaxPropertyListDepth = 256;

// Parses a property list. On malformed input returns an invalid QVariant and sets `error`.
QVariant readPropertyList(const QByteArray &xml, QString *error = nullptr);

// Reads a property-list file whose root is a dictionary. False (and `error`) for a missing,
// unreadable or malformed file, or one whose root is not a dictionary.
bool readPropertyListFile(const QString &path, QVariantMap &out, QString *error = nullptr);

// Writes a dictionary as a property-list file, atomically (see writeFileAtomically).
bool writePropertyListFile(const QString &path, const QVariantMap &map, QString *error = nullptr);

} // namespace lf
