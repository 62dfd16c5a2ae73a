#include "contacts/AddressBookSource.h"

#include "contacts/VCardReader.h"
#include "foundation/TextMatch.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace lf {

namespace {

bool compares(const QString &value, AddressBookSource::Comparison comparison, const QString &text) {
    return comparison == AddressBookSource::Comparison::EqualCaseIns ? equalCaseIns(value, text)
                                                                     : beginsWithCaseIns(value, text);
}

} // namespace

PeopleAddressBook::PeopleAddressBook(QList<AddressBookPerson> people)
    : m_people(std::move(people)) { }

QList<AddressBookPerson> PeopleAddressBook::search(
    Property property, Comparison comparison, const QString &text) const {
    QList<AddressBookPerson> found;
    for (const auto &person : m_people) {
        bool match = false;
        switch (property) {
        case Property::Email:
            match = std::any_of(person.emails.begin(), person.emails.end(),
                [&](const QString &e) { return compares(e, comparison, text); });
            break;
        case Property::FirstName:
            match = compares(person.firstName, comparison, text);
            break;
        case Property::LastName:
            match = compares(person.lastName, comparison, text);
            break;
        case Property::Nickname:
            match = compares(person.nickname, comparison, text);
            break;
        }
        if (match)
            found.append(person);
    }
    return found;
}

QString AddressBookSource::defaultContactsFolder() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("contacts"));
}

std::shared_ptr<AddressBookSource> AddressBookSource::systemDefault() {
    const QString folder = defaultContactsFolder();
    if (!QFileInfo(folder).isDir())
        return std::make_shared<PeopleAddressBook>();
    return std::make_shared<PeopleAddressBook>(readVCardFolder(folder));
}

} // namespace lf
