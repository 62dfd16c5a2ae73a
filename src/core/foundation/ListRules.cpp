#include "foundation/ListRules.h"

#include <QStringList>

namespace lf {

namespace {

bool isText(const QVariant &v) {
    return v.typeId() == QMetaType::QString;
}

} // namespace

bool valuesMatch(const QVariant &element, const QVariant &value) {
    if (isText(value))
        return isText(element) && element.toString().compare(value.toString(), Qt::CaseInsensitive) == 0;
    const auto order = QVariant::compare(element, value);
    if (order != QPartialOrdering::Unordered)
        return order == QPartialOrdering::Equivalent;
    return element == value;
}

qsizetype indexOfObjectWithValue(const QVariantList &list, const QVariant &value) {
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (valuesMatch(list[i], value))
            return i;
    }
    return -1;
}

bool addObjectOnce(QVariantList &list, const QVariant &value) {
    if (indexOfObjectWithValue(list, value) >= 0)
        return false;
    list.append(value);
    return true;
}

bool removeObjectWithValue(QVariantList &list, const QVariant &value) {
    const qsizetype i = indexOfObjectWithValue(list, value);
    if (i < 0)
        return false;
    const QVariant found = list[i];
    list.removeAll(found);
    return true;
}

QVariant objectWithValueForSubKey(const QVariantList &list, const QVariant &value, const QString &key) {
    for (const QVariant &item : list) {
        if (item.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap map = item.toMap();
        const auto it = map.constFind(key);
        if (it != map.constEnd() && *it == value)
            return item;
    }
    return {};
}

bool containsString(const QVariantList &list, const QString &text) {
    for (const QVariant &item : list) {
        if (isText(item) && item.toString() == text)
            return true;
    }
    return false;
}

QVariant nullFix(const QVariant &value) {
    if (value.isNull() && value.typeId() == QMetaType::Nullptr)
        return {};
    return value;
}

qsizetype indexOfStringCaseIns(const QStringList &list, const QString &value) {
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list[i].compare(value, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool addStringOnce(QStringList &list, const QString &value) {
    if (indexOfStringCaseIns(list, value) >= 0)
        return false;
    list.append(value);
    return true;
}

bool removeStringCaseIns(QStringList &list, const QString &value) {
    const qsizetype i = indexOfStringCaseIns(list, value);
    if (i < 0)
        return false;
    const QString found = list[i];
    list.removeAll(found);
    return true;
}

} // namespace lf
