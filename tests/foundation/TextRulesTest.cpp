#include "foundation/TextRules.h"
#include "foundation/Cookie.h"
#include "foundation/Dates.h"
#include "foundation/ListRules.h"
#include "foundation/Strings.h"

#include <gtest/gtest.h>

using namespace lf;

TEST(TextRules, EmailValidity) {
    for (const char *good : {"a@b.co", "first.last+tag@my-host.example.com", "x!#$%&'*/=?^_`-@d.org"})
        EXPECT_TRUE(validEmail(QString::fromUtf8(good))) << good;
    for (const char *bad : {"a b@c.com", "a@b@c.com", "@b.com", "a@", "a@bcom", "a@b..com", "a@b.com.",
             "a~b@c.com", "a@b_c.com", "é@b.com", "a@b.cöm", "a{b@c.com", "a@.b.com", ""})
        EXPECT_FALSE(validEmail(QString::fromUtf8(bad))) << bad;
}

TEST(TextRules, PercentEscapingAndQueries) {
    EXPECT_EQ(percentEscape(QString::fromUtf8("a b&c=d/é")), QStringLiteral("a%20b%26c%3Dd%2F%C3%A9"));
    EXPECT_EQ(percentEscape(QStringLiteral("A-z_0.9~")), QStringLiteral("A-z_0.9~"));
    EXPECT_EQ(percentEscape(QStringLiteral("!*'\"();:@&=+$,/?%#[]")),
        QStringLiteral("%21%2A%27%22%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D"));
    EXPECT_EQ(percentUnescape(QStringLiteral("a%20b%C3%A9")), QString::fromUtf8("a bé"));
    // Invalid UTF-8 is decoded leniently instead of being lost.
    EXPECT_FALSE(percentUnescape(QStringLiteral("x%FFy")).isEmpty());
    // An invalid escape is text, not a byte: it stays as it is.
    EXPECT_EQ(percentUnescape(QStringLiteral("%zz%C3%A9%4g 100%")), QString::fromUtf8("%zzé%4g 100%"));
    EXPECT_EQ(percentUnescape(QStringLiteral("a%2")), QStringLiteral("a%2"));
    EXPECT_EQ(httpParms(QStringLiteral("off=50%&q=%zz")).value(QStringLiteral("off")), QStringLiteral("50%"));

    const auto p = httpParms(QStringLiteral("x=1&y=a%3Db&z"));
    EXPECT_EQ(p.size(), 1);
    EXPECT_EQ(p.value(QStringLiteral("x")), QStringLiteral("1"));
    const auto q = httpParms(QStringLiteral("email=a%40b.com&notice=hi%20there&email=c%40d.com"));
    EXPECT_EQ(q.value(QStringLiteral("email")), QStringLiteral("c@d.com"));
    EXPECT_EQ(q.value(QStringLiteral("notice")), QStringLiteral("hi there"));
}

TEST(TextRules, SmallTextForms) {
    EXPECT_EQ(
        stringBetween(QStringLiteral("<a href=\"x\">"), QStringLiteral("href=\""), QStringLiteral("\"")),
        QStringLiteral("x"));
    EXPECT_EQ(stringBetween(QStringLiteral("key=value"), QStringLiteral("="), QStringLiteral(";")),
        QStringLiteral("value"));
    EXPECT_TRUE(stringBetween(QStringLiteral("abc"), QStringLiteral("x"), QStringLiteral("c")).isNull());
    EXPECT_TRUE(stringBetween(QStringLiteral("abc"), QStringLiteral("c"), QStringLiteral("x")).isNull());

    EXPECT_EQ(hexIntValue(QStringLiteral("  0x1F ")), 31u);
    EXPECT_EQ(hexIntValue(QStringLiteral("ff")), 255u);
    EXPECT_EQ(hexIntValue(QStringLiteral("zz")), 0u);
    EXPECT_TRUE(isBracketed(QStringLiteral("[Share]")));
    EXPECT_FALSE(isBracketed(QStringLiteral("[Share")));
    EXPECT_EQ(firstCharacter(QString()), QChar(0));
    EXPECT_EQ(lastCharacter(QStringLiteral("ab")), QLatin1Char('b'));
    EXPECT_TRUE(hasPrefixCaseIns(QStringLiteral("Ann Smith"), QStringLiteral("aNN")));
    EXPECT_TRUE(isEqualToStringCaseIns(QStringLiteral("A@B.com"), QStringLiteral("a@b.COM")));

    for (const QChar c : CleanUserName())
        EXPECT_LE(c.unicode(), 127);
}

TEST(TextRules, DigestsAndBase64) {
    EXPECT_EQ(SHA1("abc"), QStringLiteral("a9993e364706816aba3e25717850c26c9cd0d89d"));
    EXPECT_EQ(MD5(""), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    EXPECT_EQ(base64EncodedString("foob"), QStringLiteral("Zm9vYg=="));
    bool ok = false;
    EXPECT_EQ(dataByBase64DecodingString(QStringLiteral("Zm9vYg=="), &ok), QByteArray("foob"));
    EXPECT_TRUE(ok);
    dataByBase64DecodingString(QStringLiteral("Zm9v*Yg=="), &ok);
    EXPECT_FALSE(ok);
}

TEST(ListRules, MatchingIgnoresCaseForTextOnly) {
    QVariantList list {
        QStringLiteral("Ann@x.com"), 3, QStringLiteral("bob@x.com"), QStringLiteral("ANN@x.com")};
    EXPECT_EQ(indexOfObjectWithValue(list, QStringLiteral("ann@X.com")), 0);
    EXPECT_EQ(indexOfObjectWithValue(list, 3.0), 1); // numbers compare by value
    EXPECT_EQ(indexOfObjectWithValue(list, QStringLiteral("3")), -1);
    EXPECT_FALSE(addObjectOnce(list, QStringLiteral("BOB@x.com")));
    EXPECT_TRUE(addObjectOnce(list, QStringLiteral("carl@x.com")));
    EXPECT_TRUE(containsString(list, QStringLiteral("Ann@x.com")));
    EXPECT_FALSE(containsString(list, QStringLiteral("ann@x.com")));

    // Removes the first match and the elements equal to it, not other spellings.
    list.append(QStringLiteral("Ann@x.com"));
    EXPECT_TRUE(removeObjectWithValue(list, QStringLiteral("ann@x.com")));
    EXPECT_EQ(indexOfObjectWithValue(list, QStringLiteral("ann@x.com")), 2);
    EXPECT_FALSE(removeObjectWithValue(list, QStringLiteral("nobody")));

    const QVariantList dicts {QVariantMap {{"guid", "1"}}, QVariantMap {{"guid", "2"}, {"name", "two"}}};
    EXPECT_EQ(
        objectWithValueForSubKey(dicts, QStringLiteral("2"), QStringLiteral("guid")).toMap().value("name"),
        QStringLiteral("two"));
    EXPECT_FALSE(objectWithValueForSubKey(dicts, QStringLiteral("3"), QStringLiteral("guid")).isValid());
    EXPECT_FALSE(nullFix(QVariant::fromValue(nullptr)).isValid());
}

TEST(Dates, FixedForms) {
    const QDateTime d = QDateTime(QDate(2011, 3, 7), QTime(9, 5, 42, 123), Qt::LocalTime);
    EXPECT_EQ(logDateString(d), QStringLiteral("03/07/2011 09:05:123"));
    EXPECT_EQ(fileNameDateString(d), QStringLiteral("2011_Mar_07"));
}

TEST(Cookies, HostPathAndExpiry) {
    const QDateTime now = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC);
    Cookie c {
        QStringLiteral("s"), QStringLiteral("v"), QStringLiteral(".example.com"), QStringLiteral("/api"), {}};
    EXPECT_TRUE(c.isForHost(QStringLiteral("www.example.com")));
    EXPECT_TRUE(c.isForHost(QStringLiteral("example.com")));
    EXPECT_FALSE(c.isForHost(QStringLiteral("badexample.com")));
    EXPECT_TRUE(c.isForRequest(QUrl(QStringLiteral("http://www.example.com/api/x")), now));
    EXPECT_FALSE(c.isForRequest(QUrl(QStringLiteral("http://www.example.com/web")), now));
    EXPECT_FALSE(c.isExpired(now)); // session cookie
    c.expires = now.addSecs(-1);
    EXPECT_TRUE(c.isExpired(now));
    EXPECT_FALSE(c.isForRequest(QUrl(QStringLiteral("http://www.example.com/api/x")), now));

    Cookie exact {
        QStringLiteral("s"), QStringLiteral("w"), QStringLiteral("example.com"), QStringLiteral("/api"), {}};
    EXPECT_FALSE(exact.isForHost(QStringLiteral("www.example.com")));
    EXPECT_FALSE(exact.sameCookie(c));
    exact.domain = c.domain;
    EXPECT_TRUE(exact.sameCookie(c));
}

TEST(Strings, KeysComeFromTheTableAndMissingOnesShowAsThemselves) {
    EXPECT_EQ(localizedString(QStringLiteral("[Share]")), QStringLiteral("Share"));
    EXPECT_EQ(localizedString(QStringLiteral("[noSuchKey]")), QStringLiteral("[noSuchKey]"));
    EXPECT_EQ(localizedString(QStringLiteral("plain text")), QStringLiteral("plain text"));
    EXPECT_EQ(localizedFormat(QStringLiteral("[uploadingNofM]"), {QStringLiteral("2"), QStringLiteral("5")}),
        QStringLiteral("Uploading photo 2 of 5"));
}
