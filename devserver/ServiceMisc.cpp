// Update check, terms, package download, dated icons and the web pages.
#include "Assets.h"
#include "DevSigningKey.h"
#include "Pages.h"
#include "Service.h"
#include "Sites.h"
#include "Wire.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QUrlQuery>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

#ifndef LF_DEVSERVER_RELEASE
#define LF_DEVSERVER_RELEASE "0.1.0"
#endif

namespace lf::dev {

namespace {

const char kUpdateKey[] = "update";

QJsonObject defaultUpdateConfig() {
    return QJsonObject {{QStringLiteral("version"), QStringLiteral(LF_DEVSERVER_RELEASE)},
        {QStringLiteral("compat_version"), QStringLiteral("0.0.1")},
        {QStringLiteral("release_date"), QStringLiteral("2024-01-15")},
        {QStringLiteral("tos_date"), QStringLiteral("01/15/2024")},
        {QStringLiteral("icons"),
            QJsonArray {QJsonObject {{QStringLiteral("dates"),
                                         QJsonArray {QStringLiteral("12/24/25"), QStringLiteral("12/25/25"),
                                             QStringLiteral("12/31/25"), QStringLiteral("1/1/26")}},
                {QStringLiteral("uri"),
                    QLatin1String(wire::kDatedIconsPath) + QStringLiteral("holiday.png")}}}}};
}

// Ed25519 signature of `data` with the development key.
QByteArray sign(const QByteArray &data) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(kDevelopmentSigningKeyPem, int(sizeof kDevelopmentSigningKeyPem - 1)), &BIO_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr, &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    QByteArray signature(64, '\0');
    size_t length = size_t(signature.size());
    if (!key || !context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1
        || EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length,
               reinterpret_cast<const unsigned char *>(data.constData()), size_t(data.size()))
            != 1)
        return {};
    signature.resize(int(length));
    return signature;
}

} // namespace

QJsonObject Service::updateConfig() {
    QJsonObject config = defaultUpdateConfig();
    const QJsonObject stored = m_store.setting(QLatin1String(kUpdateKey));
    for (auto it = stored.begin(); it != stored.end(); ++it)
        config.insert(it.key(), it.value());
    return config;
}

bool Service::offerPackage(const QString &path) {
    const QFileInfo file(path);
    const QString name = file.fileName();
    if (!file.isFile() || !file.isReadable() || !name.startsWith(QLatin1String("Lanternfish-"))
        || !name.endsWith(QLatin1String(".tar.gz")))
        return false;
    QJsonObject stored = m_store.setting(QLatin1String(kUpdateKey));
    stored.insert(QStringLiteral("package_file"), file.absoluteFilePath());
    stored.insert(QStringLiteral("version"), name.mid(12, name.size() - 12 - 7));
    m_store.setSetting(QLatin1String(kUpdateKey), stored);
    return true;
}

QByteArray Service::updatePackage() {
    const QJsonObject config = updateConfig();
    const QString file = config.value(QLatin1String("package_file")).toString();
    if (!file.isEmpty()) {
        QFile package(file);
        return package.open(QIODevice::ReadOnly) ? package.readAll() : QByteArray();
    }
    return clientPackage(
        config.value(QLatin1String("version")).toString(), config.value(QLatin1String("package")).toString());
}

void Service::updateCheck(Call &call) {
    const QJsonObject config = updateConfig();
    const QString version = config.value(QLatin1String("version")).toString();
    const QString md5 = config.value(QLatin1String("md5_hash")).toString();
    const QByteArray package = updatePackage();
    // "bad": a signature, but of other bytes; "none": no signature at all.
    const QString signing = config.value(QLatin1String("signature")).toString();
    QJsonObject answer {{QStringLiteral("version"), version},
        {QStringLiteral("compat_version"), config.value(QLatin1String("compat_version"))},
        {QStringLiteral("release_date"), config.value(QLatin1String("release_date"))},
        {QStringLiteral("md5_hash"),
            md5.isEmpty()
                ? QString::fromLatin1(QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex())
                : md5},
        {QStringLiteral("uri"),
            call.baseUrl + QLatin1String(wire::kDownloadsPath)
                + QStringLiteral("lanternfish-%1.tar.gz").arg(version)},
        {QStringLiteral("icons"), config.value(QLatin1String("icons"))},
        {QStringLiteral("tos"),
            QJsonObject {{QStringLiteral("date"), config.value(QLatin1String("tos_date"))},
                {QStringLiteral("uri"), call.baseUrl + QLatin1String(wire::kTermsPath)}}}};
    if (signing != QLatin1String("none")) {
        const QByteArray signature = sign(signing == QLatin1String("bad") ? package + '\n' : package);
        answer.insert(QStringLiteral("signature"), QString::fromLatin1(signature.toBase64()));
    }
    call.json(200, answer);
}

void Service::datedIcon(Call &call) {
    const QByteArray digest = QCryptographicHash::hash(call.args.value(0).toUtf8(), QCryptographicHash::Md5);
    const unsigned colour
        = (unsigned(uchar(digest[0])) << 16) | (unsigned(uchar(digest[1])) << 8) | uchar(digest[2]);
    call.bytes(200, "image/png", iconPng(colour, false));
}

void Service::terms(Call &call) {
    call.bytes(200, "application/pdf", termsPdf(updateConfig().value(QLatin1String("tos_date")).toString()));
}

void Service::download(Call &call) {
    call.bytes(200, "application/gzip", updatePackage());
}

void Service::welcomePage(Call &call) {
    QString sites;
    for (const SiteDef &site : siteTable()) {
        if (site.destination || site.addressSource)
            sites += QStringLiteral("<li>%1</li>").arg(htmlEscape(QLatin1String(site.displayName)));
    }
    call.html(200, QStringLiteral("Welcome to Lanternfish"),
        QStringLiteral(
            "<p>Drop photos on the window, type who they are for, and press Share. Lanternfish uploads "
            "them in the background and picks up where it left off after a restart.</p>"
            "<h2>Tips</h2><ul><li>Type a group name after % to share with a whole group.</li>"
            "<li>Type @ and a linked site's name to post there.</li></ul>"
            "<h2>Sites you can link</h2><ul class=\"sites\">%1</ul>"
            "<p class=\"note\">Questions? <a href=\"/support\">Contact support</a>.</p>")
            .arg(sites));
}

void Service::browserSession(Call &call) {
    const std::optional<User> user = m_store.userForAccess(call.query("email"), call.query("al"));
    if (!user) {
        call.html(401, QStringLiteral("Please sign in"),
            QStringLiteral("<p>This link has expired. Open it again from the Lanternfish application.</p>"));
        return;
    }
    const QUrl target(call.query("url"));
    QString filter = QUrlQuery(target.query()).queryItemValue(QStringLiteral("filter"));
    if (filter != QLatin1String("sent") && filter != QLatin1String("received"))
        filter.clear();
    QString items;
    for (const QJsonValue &value : m_store.bundles(user->id, filter, call.baseUrl, 100)) {
        const QJsonObject bundle = value.toObject();
        QString thumbs;
        for (const QJsonValue &p : bundle.value(QLatin1String("photos")).toArray()) {
            const QJsonObject photo = p.toObject();
            if (photo.contains(QLatin1String("error")) || !photo.contains(QLatin1String("bytes")))
                continue;
            thumbs += QStringLiteral("<img src=\"%1\" alt=\"%2\" height=\"80\">")
                          .arg(htmlEscape(photo.value(QLatin1String("thumb_url")).toString()),
                              htmlEscape(photo.value(QLatin1String("caption")).toString()));
        }
        const bool sent = bundle.value(QLatin1String("direction")).toString() == QLatin1String("sent");
        const QStringList recipients = [&] {
            QStringList out;
            for (const QJsonValue &r : bundle.value(QLatin1String("recipients")).toArray())
                out.append(r.toString());
            return out;
        }();
        items += QStringLiteral(
            "<div class=\"bundle\"><p><strong>%1</strong> <span class=\"note\">%2 · %3</span></p>"
            "<p>%4</p><p>%5</p></div>")
                     .arg(htmlEscape(sent ? QStringLiteral("To ") + recipients.join(QStringLiteral(", "))
                                          : QStringLiteral("From ")
                                      + bundle.value(QLatin1String("sender_name")).toString()),
                         htmlEscape(bundle.value(QLatin1String("created_at")).toString()),
                         htmlEscape(bundle.value(QLatin1String("state")).toString()),
                         htmlEscape(bundle.value(QLatin1String("message")).toString()), thumbs);
    }
    if (items.isEmpty())
        items = QStringLiteral("<p class=\"note\">No shares yet.</p>");
    const QString title = filter == QLatin1String("sent") ? QStringLiteral("Photos you shared")
        : filter == QLatin1String("received")             ? QStringLiteral("Photos shared with you")
                                                          : QStringLiteral("Your shares");
    call.html(200, title,
        QStringLiteral("<p class=\"note\">Signed in as %1.</p>%2").arg(htmlEscape(user->email), items));
}

void Service::passwordResetPage(Call &call) {
    call.html(200, QStringLiteral("Reset your password"),
        QStringLiteral(
            "<form method=\"post\" action=\"/password_resets\"><label for=\"email\">E-mail address</label>"
            "<input id=\"email\" name=\"email\" type=\"email\" required>"
            "<p><button>Send instructions</button></p></form>"));
}

void Service::passwordReset(Call &call) {
    const QString email = call.formBody().value(QStringLiteral("email")).trimmed();
    // The same answer whether or not the address has an account, so it cannot be probed.
    call.html(200, QStringLiteral("Check your mail"),
        QStringLiteral(
            "<p>If %1 belongs to a Lanternfish account, a message with a reset link is on its way.</p>")
            .arg(htmlEscape(email.isEmpty() ? QStringLiteral("the address") : email)));
}

namespace {

QString supportForm(const QString &name, const QString &email, const QString &subject, const QString &message,
    const QString &problem) {
    return QStringLiteral(
        "%1<form method=\"post\" action=\"/support\">"
        "<label for=\"name\">Name</label><input id=\"name\" name=\"name\" value=\"%2\">"
        "<label for=\"email\">E-mail address</label><input id=\"email\" name=\"email\" type=\"email\" "
        "value=\"%3\">"
        "<label for=\"subject\">Subject</label><input id=\"subject\" name=\"subject\" value=\"%4\">"
        "<label for=\"message\">How can we help?</label>"
        "<textarea id=\"message\" name=\"message\" rows=\"8\">%5</textarea>"
        "<p><button>Send</button></p></form>"
        "<p class=\"note\">Or write to <a "
        "href=\"mailto:support@lanternfish.test\">support@lanternfish.test</a>.</p>")
        .arg(problem.isEmpty() ? QString()
                               : QStringLiteral("<p class=\"problem\">%1</p>").arg(htmlEscape(problem)),
            htmlEscape(name), htmlEscape(email), htmlEscape(subject), htmlEscape(message));
}

} // namespace

void Service::supportPage(Call &call) {
    call.html(200, QStringLiteral("Lanternfish support"),
        supportForm(call.query("name"), call.query("email"), QString(), QString(), QString()));
}

void Service::supportSubmit(Call &call) {
    const QMap<QString, QString> form = call.formBody();
    const QString name = form.value(QStringLiteral("name")).trimmed();
    const QString email = form.value(QStringLiteral("email")).trimmed();
    const QString subject = form.value(QStringLiteral("subject")).trimmed();
    const QString message = form.value(QStringLiteral("message")).trimmed();
    if (message.isEmpty() || email.isEmpty()) {
        call.html(422, QStringLiteral("Lanternfish support"),
            supportForm(name, email, subject, message,
                QStringLiteral("Please give your e-mail address and a message.")));
        return;
    }
    m_store.addSupportRequest(name, email, subject, message);
    call.html(200, QStringLiteral("Thank you"),
        QStringLiteral("<p>We received your message and will answer %1 soon.</p>").arg(htmlEscape(email)));
}

} // namespace lf::dev
