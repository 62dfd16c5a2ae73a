#include "foundation/Strings.h"

#include "foundation/Log.h"
#include "foundation/TextRules.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

// lfcore is a static library: its resources must be registered by hand.
static void initStringsResource() {
    Q_INIT_RESOURCE(strings);
}

namespace lf {

namespace {

const QHash<QString, QString> &table() {
    static const QHash<QString, QString> strings = [] {
        initStringsResource();
        QHash<QString, QString> out;
        QFile f(QStringLiteral(":/strings/en.json"));
        if (!f.open(QIODevice::ReadOnly)) {
            SystemLog(QStringLiteral("strings table missing"));
            return out;
        }
        const QJsonObject obj = QJsonDocument::fromJson(f.readAll()).object();
        for (auto it = obj.begin(); it != obj.end(); ++it)
            out.insert(it.key(), it.value().toString());
        return out;
    }();
    return strings;
}

} // namespace

QString localizedString(const QString &key) {
    if (!isBracketed(key))
        return key;
    return table().value(key, key);
}

QString localizedFormat(const QString &key, const QStringList &args) {
    QString text = localizedString(key);
    for (const QString &arg : args)
        text = text.arg(arg);
    return text;
}

} // namespace lf
