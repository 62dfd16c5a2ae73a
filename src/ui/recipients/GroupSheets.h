#pragma once

#include "recipients/LFAddressPicker.h"

#include <QDialog>
#include <QPointer>
#include <QVariantList>
#include <QVariantMap>

class QHBoxLayout;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace lf {

class ClockTimer;

// A list row's text: "name <address>", or "name [members]" for an entry without an address.
QString personString(const QVariantMap &entry);

// The buttons of the sheets: an image button with a localized label ("[Save]" with "icon_save",
// say), and a link in the primary colour.
QPushButton *sheetButton(const char *key, const char *image, QWidget *parent);
QPushButton *sheetLink(const QString &label, QWidget *parent);

// The longest group name; longer typing is cut.
inline constexpr int kGroupNameLimit = 255;

// A sheet of the group dialogs: reports the pressed button's code and stays open until its
// owner ends it (a failed save leaves everything as the user left it).
class GroupSheet : public QDialog {
    Q_OBJECT
public:
    explicit GroupSheet(QWidget *parent);
    QString groupName() const { return m_groupName; }
    QVariantList people() const { return m_people; }
    QPushButton *saveButton() const { return m_save; }
    QPushButton *cancelButton() const { return m_cancel; }
    QLineEdit *nameField() const { return m_nameField; }
    // Hides the sheet and releases it a moment later.
    void endSheet();
    void press(int code);
    // The Save button.
    virtual void save();

signals:
    void buttonPressed(int code);

protected:
    void reject() override;
    void buildButtons(QHBoxLayout *row, QPushButton *link);
    void buildNameField(const QString &accessibleName);
    virtual void nameEdited();

    QString m_groupName;
    QVariantList m_people;
    QLineEdit *m_nameField = nullptr;
    QPushButton *m_save = nullptr;
    QPushButton *m_cancel = nullptr;
};

// Names a new group made of the people selected in the list.
class CreateGroupWC : public GroupSheet {
    Q_OBJECT
public:
    static constexpr int kRowGrowth = 23;
    static constexpr int kMaxGrowingPeople = 16;

    explicit CreateGroupWC(QWidget *parent);
    void setPeople(const QVariantList &people);
    QListWidget *list() const { return m_list; }
    QPushButton *editGroupLink() const { return m_editLink; }
    int baseHeight() const { return m_baseHeight; }

protected:
    void nameEdited() override;

private:
    QListWidget *m_list = nullptr;
    QPushButton *m_editLink = nullptr;
    int m_baseHeight = 0;
};

// The group editor: contacts on the left, members on the right, a field to add a member by
// address with completion.
class EditGroupWC : public GroupSheet, public AddressPickerDelegate {
    Q_OBJECT
public:
    explicit EditGroupWC(QWidget *parent);
    ~EditGroupWC() override;

    void editGroup(const QVariantMap &group);
    void copyPeople(const QVariantList &people);
    void setGroupName(const QString &name);
    // Moves every entry from one list to the other: left to right when `toMembers`.
    void select(bool toMembers);
    // A click on a row of the left (contacts) or right (members) list.
    void moveRow(bool fromContacts, int row);
    // Finishes the address typed in the contact field.
    void finishContactEntry();
    // Finishes what the contact field holds first: a typed member is saved with the others.
    void save() override;

    QVariantList contacts() const { return m_contacts; }
    QListWidget *contactsList() const { return m_left; }
    QListWidget *membersList() const { return m_right; }
    QLineEdit *contactField() const { return m_contactField; }
    QPushButton *deleteLink() const { return m_deleteLink; }
    LFAddressPicker *picker() const { return m_picker; }
    QString arrowMark() const;
    // Whether a new contact is being created on the server.
    bool busy() const { return m_busy; }

    void addressClicked(const QString &address, bool byArrow) override;

protected:
    void nameEdited() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void cleanContacts();
    void reload();
    void checkSave();
    void setArrow(int direction);
    void contactEdited();
    void completionFired();
    void autoFillDone(const QString &candidate, const QString &typed);
    void entryDone();
    void setBusy(bool busy);
    bool contactKey(QKeyEvent *key);

    QVariantList m_contacts;
    QString m_lastContact;
    QListWidget *m_left = nullptr;
    QListWidget *m_right = nullptr;
    QLabel *m_arrow = nullptr;
    QLineEdit *m_contactField = nullptr;
    QPushButton *m_deleteLink = nullptr;
    LFAddressPicker *m_picker = nullptr;
    ClockTimer *m_timer = nullptr;
    // The finishing of the contact field a moment after it lost the keyboard.
    ClockTimer *m_finishTimer = nullptr;
    bool m_busy = false;
    bool m_saveAfterEntry = false;
    bool m_settingText = false;
};

} // namespace lf
