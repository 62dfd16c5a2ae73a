#include "shell/ProgressSheet.h"

#include "foundation/Strings.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace lf {

ProgressSheet::ProgressSheet(QWidget *window)
    : QDialog(window, Qt::Sheet) {
    setWindowModality(Qt::WindowModal);
    setObjectName(QStringLiteral("ProgressSheet"));
    setWindowTitle(localizedString(QStringLiteral("[ProgressTitle]")));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    m_text = new QLabel(this);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setMinimumWidth(280);
    m_spinner = new QProgressBar(this);
    m_spinner->setRange(0, 0); // busy: no fraction to tell
    m_spinner->setTextVisible(false);
    m_spinner->setAccessibleName(localizedString(QStringLiteral("[ProgressTitle]")));
    layout->addWidget(m_text);
    layout->addWidget(m_spinner);
    connect(this, &QDialog::finished, this, &ProgressSheet::finish);
}

void ProgressSheet::begin(const QString &text, std::function<void()> ended) {
    setText(text);
    m_ended = std::move(ended);
    if (!isVisible())
        open();
}

void ProgressSheet::setText(const QString &text) {
    m_text->setText(text);
    setAccessibleName(text);
}

QString ProgressSheet::text() const {
    return m_text->text();
}

void ProgressSheet::end() {
    if (isVisible())
        done(QDialog::Accepted);
}

void ProgressSheet::keyPressEvent(QKeyEvent *event) {
    // Hiding the sheet would not stop the install, only hide that the program is about to restart.
    if (event->matches(QKeySequence::Cancel) && m_held && m_held()) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ProgressSheet::closeEvent(QCloseEvent *event) {
    if (event->spontaneous() && m_held && m_held()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void ProgressSheet::finish() {
    if (std::function<void()> ended = std::exchange(m_ended, {}))
        ended();
}

} // namespace lf
