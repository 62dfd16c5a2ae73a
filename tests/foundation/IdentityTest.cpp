#include "foundation/Identity.h"
#include "BuildConfig.h"
#include "foundation/Credentials.h"
#include "foundation/OSInfo.h"
#include "foundation/Prefs.h"
#include "support/TempHome.h"

#include <QRegularExpression>

using namespace lf;

namespace {
class IdentityTest : public test::TempHomeTest { };
} // namespace

TEST_F(IdentityTest, IdentifiersAreUpperCaseUuidTexts) {
    const QRegularExpression form(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    const QString a = generateUUIDString();
    EXPECT_TRUE(form.match(a).hasMatch()) << a.toStdString();
    EXPECT_NE(a, generateUUIDString());
    const QString id = getClientID();
    EXPECT_TRUE(form.match(id).hasMatch());
    EXPECT_EQ(Prefs::prefForKey(QLatin1String(PrefKey::ClientID)).toString(), id);

    const QUuid fixed(QStringLiteral("{00112233-4455-6677-8899-aabbccddeeff}"));
    EXPECT_EQ(uuidToString(fixed), QStringLiteral("00112233-4455-6677-8899-AABBCCDDEEFF"));
}

TEST_F(IdentityTest, FoldersLiveInTheUsersCache) {
    EXPECT_EQ(sandboxFolder(), home.filePath(QStringLiteral(".cache/com.Lanternfish.MacClient")));
    EXPECT_EQ(iconsFolder(), sandboxFolder() + QStringLiteral("/icons"));
}

TEST_F(IdentityTest, CredentialsNeedBothNameAndToken) {
    QString user = QStringLiteral("untouched"), token = QStringLiteral("untouched");
    EXPECT_FALSE(Credentials::loadCredentials(user, token));
    EXPECT_EQ(token, QStringLiteral("untouched"));

    Prefs::setPref(QStringLiteral("a@x.com"), QLatin1String(PrefKey::UserName));
    EXPECT_FALSE(Credentials::loadCredentials(user, token));
    EXPECT_EQ(user, QStringLiteral("a@x.com"));

    Credentials::saveCredentials(QStringLiteral("a@x.com"), QStringLiteral("tok"));
    EXPECT_TRUE(Credentials::loadCredentials(user, token));
    EXPECT_EQ(token, QStringLiteral("tok"));
    Credentials::eraseCredentials();
    EXPECT_FALSE(Credentials::loadCredentials(user, token));
}

TEST_F(IdentityTest, EachServerHasItsOwnKeyringAccount) {
    const QString user = QStringLiteral("a@x.com");
    EXPECT_EQ(Credentials::keyringAccount(user), QStringLiteral(LF_HOST_PRODUCTION "/a@x.com"));
    Prefs::setPref(QStringLiteral("localhost"), QLatin1String(PrefKey::Host));
    Prefs::setPref(QStringLiteral("3000"), QLatin1String(PrefKey::Port));
    EXPECT_EQ(Credentials::keyringAccount(user), QStringLiteral("localhost:3000/a@x.com"));
    Prefs::setPref(QStringLiteral("443"), QLatin1String(PrefKey::Port));
    EXPECT_EQ(Credentials::keyringAccount(user), QStringLiteral("localhost/a@x.com"));
}

TEST_F(IdentityTest, AMovedTokenIsTakenOutOfTheFileOnlyWhileItIsTheSame) {
    const QString key = QLatin1String(PrefKey::UserToken);
    Prefs::setPref(QStringLiteral("newer"), key);
    EXPECT_TRUE(Prefs::clearPrefIfEqual(key, QStringLiteral("older")));
    EXPECT_EQ(Prefs::prefForKey(key), QVariant(QStringLiteral("newer")));
    EXPECT_TRUE(Prefs::clearPrefIfEqual(key, QStringLiteral("newer")));
    EXPECT_FALSE(Prefs::prefForKey(key).isValid());
}

TEST_F(IdentityTest, ClientVersionFallsBackWhenEmpty) {
    EXPECT_EQ(Credentials::clientVersionFrom(QString()), QStringLiteral("0.999.1"));
    EXPECT_EQ(Credentials::clientVersionFrom(QStringLiteral(" ")), QStringLiteral("0.999.1"));
    EXPECT_EQ(Credentials::clientVersionFrom(QStringLiteral("1.2.3")), QStringLiteral("1.2.3"));
    EXPECT_FALSE(Credentials::clientVersion().isEmpty());
}

TEST(OSInfo, VersionTextsAndReleaseNames) {
    const OSVersion snow = parseOSVersion(QStringLiteral("10.6.8"));
    EXPECT_EQ(formatOSVersion(snow), QStringLiteral("10.6.8"));
    EXPECT_EQ(servicePackString(snow), QStringLiteral("Snow Leopard"));
    const QVariantMap info = clientInfoFor(snow, systemMetricsFor({}));
    const QVariantMap enhanced = info.value(QStringLiteral("os_version_enhanced")).toMap();
    EXPECT_EQ(enhanced.value(QStringLiteral("build_number")).toInt(), 8);
    EXPECT_EQ(enhanced.value(QStringLiteral("major_version")).toInt(), 10);
    EXPECT_EQ(enhanced.value(QStringLiteral("minor_version")).toInt(), 6);

    EXPECT_EQ(formatOSVersion(parseOSVersion(QStringLiteral("10.7.0"))), QStringLiteral("10.7"));
    EXPECT_EQ(servicePackString(parseOSVersion(QStringLiteral("10.0"))), QStringLiteral("Cheetah"));
    EXPECT_EQ(servicePackString(parseOSVersion(QStringLiteral("10.7.5"))), QStringLiteral("Lion"));
    EXPECT_EQ(servicePackString(parseOSVersion(QStringLiteral("10.8.2"))), QStringLiteral("10.8.2"));
    EXPECT_EQ(servicePackString(parseOSVersion(QStringLiteral("6.1.0-18-amd64"))), QStringLiteral("6.1"));
    EXPECT_EQ(formatOSVersion(parseOSVersion(QStringLiteral("garbage"))), QStringLiteral("0.0"));
}

TEST(OSInfo, ScreenMetricsUniteAllScreens) {
    ScreenLayout two;
    two.main = QRect(0, 180, 1440, 900);
    two.all = {two.main, QRect(1440, 0, 1920, 1080)};
    const QVariantMap m = systemMetricsFor(two);
    EXPECT_EQ(m.value(QStringLiteral("monitors")).toInt(), 2);
    EXPECT_EQ(m.value(QStringLiteral("screen_width")).toInt(), 1440);
    EXPECT_EQ(m.value(QStringLiteral("screen_height")).toInt(), 900);
    EXPECT_EQ(m.value(QStringLiteral("virtual_screen_width")).toInt(), 3360);
    EXPECT_EQ(m.value(QStringLiteral("virtual_screen_height")).toInt(), 1080);

    // Headless: one monitor of size 0, and the record is complete.
    const QVariantMap none = systemMetricsFor({});
    EXPECT_EQ(none.value(QStringLiteral("monitors")).toInt(), 1);
    EXPECT_EQ(none.size(), 5);
}

TEST(OSInfo, ClientInfoHasEveryField) {
    const QVariantMap info = getClientInfo();
    for (const char *field : {"machine_type", "machine_type_enhanced", "os", "client_version", "os_version",
             "os_version_enhanced", "locale", "system_metrics"})
        EXPECT_TRUE(info.contains(QLatin1String(field))) << field;
    EXPECT_EQ(info.value(QStringLiteral("machine_type")).toString(), QStringLiteral("desktop"));
    EXPECT_EQ(info.value(QStringLiteral("os")).toString(), QStringLiteral("linux"));
    EXPECT_FALSE(info.value(QStringLiteral("machine_type_enhanced")).toString().isEmpty());
    EXPECT_FALSE(info.value(QStringLiteral("locale"))
                     .toMap()
                     .value(QStringLiteral("locale_name"))
                     .toString()
                     .contains(QLatin1Char('_')));
}
