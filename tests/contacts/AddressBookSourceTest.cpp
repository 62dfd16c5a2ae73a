#include "contacts/AddressBookSource.h"
#include "contacts/VCardReader.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>

using namespace lf;

namespace {

const char *kCards = "BEGIN:VCARD\r\n"
                     "VERSION:3.0\r\n"
                     "N:Lee;Ann;;;\r\n"
                     "FN:Ann Lee\r\n"
                     "item1.EMAIL;TYPE=INTERNET,HOME:ann@home.example\r\n"
                     "EMAIL;TYPE=WORK:ann.lee@work.exam\r\n"
                     " ple\r\n"
                     "NICKNAME:Annie,A\r\n"
                     "END:VCARD\r\n"
                     "BEGIN:VCARD\r\n"
                     "VERSION:4.0\r\n"
                     "FN:Acme Corp\r\n"
                     "ORG:Acme\\, Inc.;Sales\r\n"
                     "EMAIL;PREF=1:mailto:info@acme.example\r\n"
                     "END:VCARD\r\n"
                     "BEGIN:VCARD\r\n"
                     "garbage line without colon\r\n"
                     "N:O'Brien\\;Jr;Seán\r\n"
                     "END:VCARD\r\n"
                     "BEGIN:VCARD\r\n"
                     "N:Cut;Off\r\n"; // no END: dropped

} // namespace

TEST(VCardReader, ReadsNamesAndEveryAddress) {
    const auto people = readVCards(kCards);
    ASSERT_EQ(people.size(), 3);
    EXPECT_EQ(people[0].firstName, QStringLiteral("Ann"));
    EXPECT_EQ(people[0].lastName, QStringLiteral("Lee"));
    EXPECT_EQ(people[0].nickname, QStringLiteral("Annie"));
    EXPECT_EQ(people[0].emails,
        QStringList({QStringLiteral("ann@home.example"), QStringLiteral("ann.lee@work.example")}));
    EXPECT_EQ(people[1].organization, QStringLiteral("Acme, Inc."));
    EXPECT_TRUE(people[1].firstName.isEmpty());
    EXPECT_EQ(people[1].emails, QStringList {QStringLiteral("info@acme.example")});
    EXPECT_EQ(people[2].lastName, QStringLiteral("O'Brien;Jr"));
    EXPECT_EQ(people[2].firstName, QString::fromUtf8("Seán"));
    EXPECT_TRUE(readVCards(QByteArray("\xff\xfe garbage\0\0", 12)).isEmpty());
}

TEST(AddressBookSource, SearchesByPropertyAndComparison) {
    const PeopleAddressBook book(readVCards(kCards));
    using P = AddressBookSource::Property;
    using C = AddressBookSource::Comparison;
    EXPECT_EQ(book.search(P::Email, C::PrefixCaseIns, QStringLiteral("ANN.")).size(), 1);
    EXPECT_EQ(book.search(P::Email, C::EqualCaseIns, QStringLiteral("ann@HOME.example")).size(), 1);
    EXPECT_TRUE(book.search(P::Email, C::EqualCaseIns, QStringLiteral("ann@home")).isEmpty());
    EXPECT_EQ(book.search(P::LastName, C::PrefixCaseIns, QStringLiteral("o'b")).size(), 1);
    EXPECT_EQ(book.search(P::Nickname, C::PrefixCaseIns, QStringLiteral("ann")).size(), 1);
    EXPECT_TRUE(book.search(P::FirstName, C::PrefixCaseIns, QString()).isEmpty());
}

class SystemAddressBookTest : public test::TempHomeTest { };

TEST_F(SystemAddressBookTest, ReadsTheUsersContactsFolderWhenThereIsOne) {
    using P = AddressBookSource::Property;
    using C = AddressBookSource::Comparison;
    EXPECT_TRUE(AddressBookSource::systemDefault()
                    ->search(P::Email, C::PrefixCaseIns, QStringLiteral("a"))
                    .isEmpty());

    const QString folder = AddressBookSource::defaultContactsFolder();
    EXPECT_EQ(folder, home.filePath(QStringLiteral(".local/share/contacts")));
    QDir().mkpath(folder);
    QFile f(folder + QStringLiteral("/people.vcf"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(kCards);
    f.close();
    QFile other(folder + QStringLiteral("/notes.txt"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write(kCards);
    other.close();
    EXPECT_EQ(
        AddressBookSource::systemDefault()->search(P::Email, C::PrefixCaseIns, QStringLiteral("a")).size(),
        1);
}
