#include "Sites.h"

#include <QJsonValue>

namespace lf::dev {

namespace {

constexpr SiteDef kSites[] = {
    {"photostream", "PhotoStream", true, false, false, 0x2f80edu},
    {"snapshelf", "Snapshelf", true, false, false, 0xeb5757u},
    {"addressly", "Addressly", false, true, false, 0x27ae60u},
    {"chirp", "Chirp", false, false, true, 0xf2994au},
};

constexpr int kExternalContacts = 137;

const char *const kFirstNames[] = {"Ada", "Ben", "Cleo", "Dev", "Edith", "Femi", "Greta", "Hugo", "Ines",
    "Jonas", "Kira", "Luis", "Mona", "Nils", "Olga", "Pia", "Quinn"};
const char *const kLastNames[] = {"Archer", "Brandt", "Costa", "Dahl", "Eze", "Fontaine", "Gupta", "Holm"};

} // namespace

std::span<const SiteDef> siteTable() {
    return kSites;
}

const SiteDef *findSite(const QString &name) {
    for (const SiteDef &site : kSites) {
        if (name == QLatin1String(site.name))
            return &site;
    }
    return nullptr;
}

int externalContactCount(const SiteDef &site) {
    return site.addressSource ? kExternalContacts : 0;
}

QJsonObject externalContact(const SiteDef &site, int index) {
    const QString first = QLatin1String(kFirstNames[index % std::size(kFirstNames)]);
    const QString last = QLatin1String(kLastNames[(index / std::size(kFirstNames)) % std::size(kLastNames)]);
    const QString name = first + QLatin1Char(' ') + last;
    const QJsonValue email = index % 7 == 6
        ? QJsonValue(QJsonValue::Null)
        : QJsonValue(
            QStringLiteral("%1.%2.%3@%4.example")
                .arg(first.toLower(), last.toLower(), QString::number(index), QLatin1String(site.name)));
    return QJsonObject {{QStringLiteral("name"), name}, {QStringLiteral("email"), email},
        {QStringLiteral("service"), QLatin1String(site.name)}};
}

} // namespace lf::dev
