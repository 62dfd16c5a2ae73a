// The endpoint catalogue: one ServiceAPI operation per endpoint of the service.
#include "api/ServiceAPI.h"

#include "foundation/Identity.h"
#include "foundation/OSInfo.h"
#include "foundation/TextRules.h"

#include <QDateTime>

namespace lf {

namespace {

// Keys of the address-book records the catalogue writes into forms and bodies.
constexpr const char *kGuid = "guid";
constexpr const char *kName = "name";
constexpr const char *kEmail = "email";
constexpr const char *kVersion = "version";
constexpr const char *kLastUsed = "last_used";
constexpr const char *kEntries = "entries";
constexpr const char *kGroupWrapper = "address_book_group";
constexpr const char *kEntryField = "user_address_book_entry[%1]";

const QString kContactsPath = QStringLiteral("/api/user_address_book_entries");
const QString kGroupsPath = QStringLiteral("/api/address_book_groups");

QString entryField(const char *name) {
    return QString::fromLatin1(kEntryField).arg(QLatin1String(name));
}

// A record's guid as one path segment: whatever the server sent, it cannot climb out of the path.
QString guidSegment(const QVariant &guid) {
    return QLatin1Char('/') + percentEscape(guid.toString());
}

// The last-used time as the server reads it: text is sent as it is, a date in UTC.
QVariant lastUsedText(const QVariant &value) {
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
    return value;
}

QVariantMap groupBody(const QVariantMap &group) {
    return {{kGroupWrapper, QVariantMap {{kName, group.value(kName)}, {kEntries, group.value(kEntries)}}}};
}

} // namespace

APIResult ServiceAPI::verifyIdentity(const QString &email, const QString &password) {
    setUserName(email);
    setUserToken(QString(QLatin1String("")));
    ApiRequest r
        = userGetRequest(secureURL(QStringLiteral("/api/user/verify")), identityObject(email, password));
    r.http.addHeader(ServiceHeader::Accept, ServiceHeader::AcceptGet);
    r.retry = false;
    return sendSynchronousRequest(r);
}

APIResult ServiceAPI::getUserProfile() {
    const APIResult result
        = sendSynchronousRequest(getRequest(secureURL(QStringLiteral("/api/user/profile"))));
    const QVariant al = result.value(QStringLiteral("al"));
    if (!result.isError() && al.typeId() == QMetaType::QString)
        setAccessToken(al.toString());
    return result;
}

APIResult ServiceAPI::registration(const QVariantMap &fields) {
    QVariantMap body = fields;
    body.insert(QStringLiteral("client_info"), getClientInfo());
    body.insert(QStringLiteral("client_id"), m_clientID);
    ApiRequest r
        = postRequest(secureURL(QStringLiteral("/api/user")), {}, RequestBody::data(compactJson(body)));
    r.retry = false;
    return sendSynchronousRequest(r);
}

APIResult ServiceAPI::updateInfo() {
    return postAPI(
        QStringLiteral("/api/client/update_info"), {}, RequestBody::data(compactJson(getClientInfo())));
}

APIResult ServiceAPI::rootLink(const QString &key, QString &uri) {
    const APIResult doc = root();
    if (doc.isError())
        return doc;
    uri = doc.value(QStringLiteral("user"))
              .toMap()
              .value(key)
              .toMap()
              .value(QStringLiteral("uri"))
              .toString();
    return {};
}

APIResult ServiceAPI::getConsumers() {
    QString uri;
    if (APIResult failed = rootLink(QStringLiteral("services"), uri); failed.isError())
        return failed;
    if (uri.isEmpty())
        return {};
    ApiRequest r = getRequest(uri);
    r.retry = false;
    return sendSynchronousRequest(r);
}

APIResult ServiceAPI::unlinkConsumer(const QString &uri) {
    return post(uri, "DELETE");
}

APIResult ServiceAPI::checkForUpdate() {
    // Over https when the server speaks it: the answer says what to install.
    const QString url = secureURL(QStringLiteral("/update/") + QLatin1String(kPlatformWord));
    nukeCookies(url);
    ApiRequest r = unauthGetRequest(url);
    r.retry = false;
    return sendSynchronousRequest(r);
}

APIResult ServiceAPI::requestBundles(const QStringList &parameters) {
    QString uri;
    if (APIResult failed = rootLink(QStringLiteral("bundles"), uri); failed.isError())
        return failed;
    if (uri.isEmpty())
        return {};
    if (!parameters.isEmpty())
        uri += QLatin1Char('?') + parameters.join(QLatin1Char('&'));
    ApiRequest r = getRequest(uri);
    r.retry = false;
    return sendSynchronousRequest(r);
}

APIResult ServiceAPI::getAllContacts() {
    QMutexLocker lock(&m_requestLock);
    return getAPI(kContactsPath);
}

APIResult ServiceAPI::addContact(const QVariantMap &entry) {
    const QString email = entry.value(kEmail).toString();
    QString name = entry.value(kName).toString();
    if (name.isEmpty())
        name = capitalizedWords(email.section(QLatin1Char('@'), 0, 0));
    const QString form = formString(FormPairs {{entryField(kEmail), email}, {entryField(kName), name}});
    return postAPI(kContactsPath + QLatin1Char('?') + form, {}, "POST");
}

APIResult ServiceAPI::refreshContact(const QVariantMap &entry) {
    return getAPI(kContactsPath + guidSegment(entry.value(kGuid)));
}

APIResult ServiceAPI::updateContact(const QVariantMap &entry) {
    FormPairs fields = {{entryField(kEmail), entry.value(kEmail).toString()},
        {entryField(kName), entry.value(kName).toString()}, {entryField(kVersion), entry.value(kVersion)}};
    if (entry.contains(kLastUsed))
        fields.append({entryField(kLastUsed), lastUsedText(entry.value(kLastUsed))});
    return postAPI(kContactsPath + guidSegment(entry.value(kGuid)) + QLatin1String("/?") + formString(fields),
        {}, "PUT");
}

APIResult ServiceAPI::deleteContact(const QVariantMap &entry) {
    QMutexLocker lock(&m_requestLock);
    return postAPI(kContactsPath + guidSegment(entry.value(kGuid)), {}, "DELETE");
}

APIResult ServiceAPI::addGroup(const QVariantMap &group) {
    return postAPI(
        kGroupsPath, {}, RequestBody::data(compactJson(groupBody(group))), ServiceHeader::JsonContentType);
}

APIResult ServiceAPI::updateGroup(const QVariantMap &group) {
    return postAPI(kGroupsPath + guidSegment(group.value(kGuid)), {},
        RequestBody::data(compactJson(groupBody(group))), ServiceHeader::JsonContentType, "PUT");
}

APIResult ServiceAPI::deleteGroup(const QString &guid) {
    return postAPI(kGroupsPath + guidSegment(guid), {}, "DELETE");
}

ApiRequest ServiceAPI::createBundleRequest(const QVariantMap &bundle) const {
    return requestPostAPI(QStringLiteral("/api/bundle"), {}, RequestBody::data(compactJson(bundle)));
}

APIResult ServiceAPI::createBundle(const QVariantMap &bundle) {
    return sendSynchronousRequest(createBundleRequest(bundle));
}

ApiRequest ServiceAPI::uploadPhotoRequest(const QVariantMap &photo, const RequestBody &content) const {
    return requestPostAPI(QStringLiteral("/api/photo"), compactJson(photo), content);
}

APIResult ServiceAPI::uploadPhoto(const QVariantMap &photo, const RequestBody &content) {
    return sendSynchronousRequest(uploadPhotoRequest(photo, content));
}

ApiRequest ServiceAPI::closeBundleRequest(const QVariantMap &bundle) const {
    return requestPostAPI(QStringLiteral("/api/bundle/close"), {}, RequestBody::data(compactJson(bundle)));
}

APIResult ServiceAPI::closeBundle(const QVariantMap &bundle) {
    return sendSynchronousRequest(closeBundleRequest(bundle));
}

ApiRequest ServiceAPI::cancelBundleRequest(const QVariantMap &bundle) const {
    return requestPostAPI(QStringLiteral("/api/bundle/cancel"), {}, RequestBody::data(compactJson(bundle)));
}

APIResult ServiceAPI::cancelBundle(const QVariantMap &bundle) {
    return sendSynchronousRequest(cancelBundleRequest(bundle));
}

APIResult ServiceAPI::uploadLog(const QVariantMap &record, const RequestBody &content) {
    return postAPI(QStringLiteral("/api/client_logs"), compactJson(record), content);
}

APIResult ServiceAPI::getURI(const QString &url) {
    return get(url, QByteArray());
}

} // namespace lf
