#include "foundation/TextMatch.h"

#include <gtest/gtest.h>

using namespace lf;

TEST(TextMatch, BeginsWithIgnoresCaseButNotAccents) {
    EXPECT_TRUE(beginsWithCaseIns(QStringLiteral("Ann Lee"), QStringLiteral("aNN")));
    EXPECT_FALSE(beginsWithCaseIns(QStringLiteral("Ann Lee"), QStringLiteral("lee")));
    EXPECT_FALSE(beginsWithCaseIns(QStringLiteral("Ann"), QString()));
    EXPECT_FALSE(beginsWithCaseIns(QString(), QStringLiteral("a")));
    EXPECT_FALSE(beginsWithCaseIns(QString::fromUtf8("Émile"), QStringLiteral("em")));
    EXPECT_TRUE(beginsWithCaseDiacriticIns(QString::fromUtf8("Émile"), QStringLiteral("em")));
    EXPECT_TRUE(beginsWithCaseDiacriticIns(QStringLiteral("Emile"), QString::fromUtf8("ÉM")));
}

TEST(TextMatch, TypedTextIsTakenLiterally) {
    // Quotes, backslashes and expression syntax are just characters.
    EXPECT_TRUE(beginsWithCaseDiacriticIns(QStringLiteral("O'Brien"), QStringLiteral("o'b")));
    EXPECT_FALSE(beginsWithCaseDiacriticIns(QStringLiteral("anything"), QStringLiteral("' OR 1=1")));
    EXPECT_TRUE(beginsWithCaseDiacriticIns(QStringLiteral("a\\b"), QStringLiteral("a\\")));
    EXPECT_TRUE(likeCaseDiacriticIns(QStringLiteral("o'brien@x.com"), QStringLiteral("O'Brien@X.com")));
}

TEST(TextMatch, LikeHasWildcardsAndFoldsAccents) {
    EXPECT_TRUE(
        likeCaseDiacriticIns(QString::fromUtf8("José@example.com"), QStringLiteral("jose@EXAMPLE.com")));
    EXPECT_TRUE(likeCaseDiacriticIns(QStringLiteral("ann-12"), QStringLiteral("ann-*")));
    EXPECT_TRUE(likeCaseDiacriticIns(QStringLiteral("ann-1"), QStringLiteral("ann-?")));
    EXPECT_FALSE(likeCaseDiacriticIns(QStringLiteral("ann-12"), QStringLiteral("ann-?")));
    EXPECT_TRUE(likeCaseDiacriticIns(QStringLiteral("abc"), QStringLiteral("*b*")));
    EXPECT_FALSE(likeCaseDiacriticIns(QStringLiteral("Ann Lee"), QStringLiteral("Ann")));
    EXPECT_TRUE(likeCaseDiacriticIns(QString(), QString()) == false);
    // A pathological pattern still answers quickly.
    EXPECT_FALSE(likeCaseDiacriticIns(
        QString(5000, QLatin1Char('a')), QString(60, QLatin1Char('*')) + QStringLiteral("b")));
}
