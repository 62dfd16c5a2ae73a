#pragma once

#include <QDialog>
#include <QVariantMap>

#include <functional>

class QLineEdit;
class QPushButton;

namespace lf {

// The contact editor sheet: name and address of one server contact.
class PersonVC : public QDialog {
    Q_OBJECT
public:
    // Save: 0 when the session took the change, else its refusal code.
    using Saver = std::function<int(const QString &name, const QString &email)>;
    using Deleter = std::function<void()>;

    PersonVC(const QVariantMap &entry, Saver save, Deleter remove, QWidget *parent);
    ~PersonVC() override;

    QLineEdit *nameField() const { return m_name; }
    QLineEdit *emailField() const { return m_email; }
    QPushButton *saveButton() const { return m_save; }
    QPushButton *deleteLink() const { return m_delete; }
    void save();
    void remove();

private:
    void check();
    void adjustFieldOnError(const QString &body);

    QVariantMap m_entry;
    Saver m_saver;
    Deleter m_deleter;
    QLineEdit *m_name = nullptr;
    QLineEdit *m_email = nullptr;
    QPushButton *m_save = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_delete = nullptr;
};

} // namespace lf
