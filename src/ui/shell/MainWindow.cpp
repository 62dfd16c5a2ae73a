#include "shell/MainWindow.h"

#include "foundation/Strings.h"
#include "toolkit/Artwork.h"
#include "toolkit/LFTheme.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace lf {

namespace {

// Paints the window's vertical gradient; the gradient follows the height on every resize.
class GradientBackground : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.fillRect(rect(), LFTheme::windowGradient().linear(QPointF(0, 0), QPointF(0, height())));
    }
};

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent) {
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(localizedString(QStringLiteral("[AppName]")));
    setAccessibleName(windowTitle());
    setWindowIcon(Artwork::applicationIcon());
    // Tall enough for the list's rows, the photos with their caption field and the note; below
    // that the drop area would cover its own caption field.
    setMinimumSize(480, 600);
    resize(560, 720);

    auto *background = new GradientBackground(this);
    auto *column = new QVBoxLayout(background);
    column->setContentsMargins(12, 8, 12, 12);
    column->setSpacing(8);

    m_header = new QWidget(background);
    auto *headerRow = new QHBoxLayout(m_header);
    headerRow->setContentsMargins(0, 0, 0, 0);
    auto *logo = new QLabel(m_header);
    logo->setObjectName(QStringLiteral("logo"));
    logo->setPixmap(Artwork::pixmap(QStringLiteral("logo"), devicePixelRatioF()));
    logo->setAccessibleName(localizedString(QStringLiteral("[LogoName]")));
    headerRow->addWidget(logo, 0, Qt::AlignLeft | Qt::AlignVCenter);
    headerRow->addStretch();
    column->addWidget(m_header);

    m_body = new QWidget(background);
    column->addWidget(m_body, 1);
    setCentralWidget(background);
}

void MainWindow::moveEvent(QMoveEvent *event) {
    QMainWindow::moveEvent(event);
    emit frameChanged();
}

void MainWindow::resizeEvent(QResizeEvent *event) {
    QMainWindow::resizeEvent(event);
    emit frameChanged();
}

void MainWindow::closeEvent(QCloseEvent *event) {
    // Closing the window is quitting; the owner asks first while shares upload.
    event->ignore();
    emit closeRequested();
}

} // namespace lf
