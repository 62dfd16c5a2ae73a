#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

namespace lf {

// One person of the user's own (system) address book. Read only.
struct AddressBookPerson {
    QString firstName;
    QString lastName;
    QString nickname;
    QString organization;
    QStringList emails; // in the order the card lists them
};

// The system address book as completion and naming search it.
class AddressBookSource {
public:
    enum class Property { Email, FirstName, LastName, Nickname };
    enum class Comparison {
        EqualCaseIns, // the whole value, letter case ignored
        PrefixCaseIns, // the value begins with the text, letter case ignored
    };

    virtual ~AddressBookSource() = default;

    // People with a value of `property` that compares to `text` as asked, in address-book order.
    // For e-mail every address of a person is tried.
    virtual QList<AddressBookPerson> search(
        Property property, Comparison comparison, const QString &text) const = 0;

    // The source of this desktop: the vCard files of the user's contacts folder when there is
    // one, else an empty source.
    static std::shared_ptr<AddressBookSource> systemDefault();
    // $XDG_DATA_HOME/contacts
    static QString defaultContactsFolder();
};

// A source that holds a list of people in memory and searches it.
class PeopleAddressBook : public AddressBookSource {
public:
    explicit PeopleAddressBook(QList<AddressBookPerson> people = {});
    QList<AddressBookPerson> search(
        Property property, Comparison comparison, const QString &text) const override;
    const QList<AddressBookPerson> &people() const { return m_people; }

private:
    QList<AddressBookPerson> m_people;
};

} // namespace lf
