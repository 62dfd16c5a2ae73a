#include "recipients/PersonVC.h"

#include "recipients/GroupSheets.h"

#include "foundation/NotificationCenter.h"
#include "foundation/Strings.h"
#include "foundation/TextRules.h"
#include "session/AddressBookSync.h"
#include "shell/ShellAreas.h"
#include "toolkit/LFAlert.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace lf {

PersonVC::PersonVC(const QVariantMap &entry, Saver save, Deleter remove, QWidget *parent)
    : QDialog(parent)
    , m_entry(entry)
    , m_saver(std::move(save))
    , m_deleter(std::move(remove)) {
    setObjectName(QStringLiteral("personSheet"));
    setWindowModality(Qt::WindowModal);
    setWindowTitle(localizedString(QStringLiteral("[EditContact]")));
    setAccessibleName(localizedString(QStringLiteral("[EditContact]")));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 12);
    auto *form = new QFormLayout;
    m_name = new QLineEdit(entry.value(QLatin1String(ContactKey::Name)).toString(), this);
    m_name->setAccessibleName(localizedString(QStringLiteral("[NameLabel]")));
    m_email = new QLineEdit(entry.value(QLatin1String(ContactKey::Email)).toString(), this);
    m_email->setAccessibleName(localizedString(QStringLiteral("[EmailLabel]")));
    form->addRow(localizedString(QStringLiteral("[NameLabel]")), m_name);
    form->addRow(localizedString(QStringLiteral("[EmailLabel]")), m_email);
    column->addLayout(form);

    auto *buttons = new QHBoxLayout;
    m_delete = sheetLink(localizedString(QStringLiteral("[DeleteContact]")), this);
    buttons->addWidget(m_delete);
    buttons->addStretch();
    m_cancel = sheetButton("[Cancel]", "icon_cancel", this);
    m_save = sheetButton("[Save]", "icon_save", this);
    m_save->setDefault(true);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_save);
    column->addLayout(buttons);

    connect(m_save, &QPushButton::clicked, this, &PersonVC::save);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_delete, &QPushButton::clicked, this, &PersonVC::remove);
    for (QLineEdit *field : {m_name, m_email}) {
        connect(field, &QLineEdit::textEdited, this, [this] {
            LFAlert::cleanup();
            check();
        });
    }
    NotificationCenter::defaultCenter().addObserver(
        this, QLatin1String(kAdjustFieldOnErrorNotification), [this](const Notification &n) {
            adjustFieldOnError(n.object.toMap().value(QStringLiteral("httpstatusbody")).toString());
        });
    connect(this, &QDialog::finished, this, &QObject::deleteLater);
    resize(380, sizeHint().height() + 12);
    check();
}

PersonVC::~PersonVC() {
    NotificationCenter::defaultCenter().removeObserver(this);
}

void PersonVC::check() {
    m_save->setEnabled(validEmail(m_email->text().trimmed()) && !m_name->text().trimmed().isEmpty());
}

void PersonVC::save() {
    check();
    if (!m_save->isEnabled())
        return;
    const int rc = m_saver(m_name->text().trimmed(), m_email->text().trimmed());
    if (rc == kContactChangeStarted) {
        accept();
        return;
    }
    // The alert tells what is taken; the keyboard goes to that field.
    (rc == kContactEmailClash ? m_email : m_name)->setFocus();
}

void PersonVC::remove() {
    m_deleter();
    accept();
}

void PersonVC::adjustFieldOnError(const QString &body) {
    if (body.endsWith(QLatin1String("email")))
        m_email->setFocus();
    else if (body.endsWith(QLatin1String("name")))
        m_name->setFocus();
}

} // namespace lf
