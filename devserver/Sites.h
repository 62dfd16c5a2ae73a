#pragma once

#include <QJsonObject>
#include <QString>

#include <span>

namespace lf::dev {

// The sites (social networks) this service knows. They are part of the service, not of any
// account; an account links some of them.
struct SiteDef {
    const char *name;
    const char *displayName;
    bool destination; // shares can be sent to it
    bool addressSource; // it supplies contacts
    bool signIn; // users can sign in through it
    unsigned colour; // of its generated icon
};

std::span<const SiteDef> siteTable();
const SiteDef *findSite(const QString &name);

// The contacts an address-source site holds for any linked account: a fixed, generated list.
int externalContactCount(const SiteDef &site);
// {"name", "email", "service"}; every seventh has a null "email", as real address books do.
QJsonObject externalContact(const SiteDef &site, int index);

} // namespace lf::dev
