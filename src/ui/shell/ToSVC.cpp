#include "shell/ToSVC.h"

#include "foundation/NotificationCenter.h"
#include "foundation/Strings.h"
#include "shell/SignInWC.h"
#include "toolkit/SheetSize.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPdfDocument>
#include <QPushButton>
#include <QVBoxLayout>

namespace lf {

namespace {

constexpr int kPageWidth = 520;
constexpr int kPaperMargin = 8;

} // namespace

PDFpage::PDFpage(QPdfDocument *document, QWidget *parent)
    : QWidget(parent)
    , m_document(document) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void PDFpage::setPage(int index) {
    m_page = index;
    m_rendered = {};
    update();
}

QSize PDFpage::sizeHint() const {
    const QSizeF points = m_document->pagePointSize(m_page);
    if (points.isEmpty())
        return {kPageWidth, kPageWidth * 11 / 8};
    return {kPageWidth, int(kPageWidth * points.height() / points.width())};
}

void PDFpage::resizeEvent(QResizeEvent *event) {
    m_rendered = {};
    QWidget::resizeEvent(event);
}

void PDFpage::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QSizeF points = m_document->pagePointSize(m_page);
    if (points.isEmpty())
        return;
    // The page keeps its proportions inside the widget, less a margin for the paper's edge.
    const QSizeF room = QSizeF(size()) - QSizeF(2 * kPaperMargin, 2 * kPaperMargin);
    const QSize fitted = points.scaled(room, Qt::KeepAspectRatio).toSize();
    const qreal ratio = devicePixelRatioF();
    if (m_rendered.isNull() || m_rendered.size() != fitted * ratio) {
        m_rendered = m_document->render(m_page, fitted * ratio);
        m_rendered.setDevicePixelRatio(ratio);
    }
    const QRect paper(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    painter.fillRect(paper.adjusted(-1, -1, 1, 1), palette().mid());
    painter.fillRect(paper, Qt::white);
    painter.drawImage(paper.topLeft(), m_rendered);
}

ToSVC::ToSVC(const QString &pdfPath, QWidget *parent)
    : QDialog(parent, Qt::Sheet) {
    setWindowModality(Qt::WindowModal);
    setObjectName(QStringLiteral("ToSVC"));
    setWindowTitle(localizedString(QStringLiteral("[TermsTitle]")));
    setAccessibleName(windowTitle());
    m_document = new QPdfDocument(this);
    m_document->load(pdfPath);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    auto *intro = new QLabel(localizedString(QStringLiteral("[TermsIntro]")), this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    m_pageView = new PDFpage(m_document, this);
    m_pageView->setAccessibleName(windowTitle());
    layout->addWidget(m_pageView, 1);

    auto *paging = new QHBoxLayout;
    m_previous = new QPushButton(localizedString(QStringLiteral("[PreviousPage]")), this);
    m_next = new QPushButton(localizedString(QStringLiteral("[NextPage]")), this);
    m_previous->setIcon(QIcon::fromTheme(QStringLiteral("go-previous")));
    m_next->setIcon(QIcon::fromTheme(QStringLiteral("go-next")));
    m_label = new QLabel(this);
    m_label->setAlignment(Qt::AlignCenter);
    paging->addWidget(m_previous);
    paging->addWidget(m_label, 1);
    paging->addWidget(m_next);
    layout->addLayout(paging);

    auto *buttons = new QHBoxLayout;
    m_decline = new QPushButton(localizedString(QStringLiteral("[Decline]")), this);
    m_agree = new QPushButton(localizedString(QStringLiteral("[Agree]")), this);
    buttons->addStretch();
    buttons->addWidget(m_decline);
    buttons->addWidget(m_agree);
    layout->addLayout(buttons);
    for (QPushButton *button : {m_previous, m_next, m_decline, m_agree}) {
        button->setAccessibleName(button->text());
        button->setAutoDefault(false);
    }
    // Return agrees; Escape declines (QDialog's reject).
    m_agree->setDefault(true);
    m_agree->setEnabled(isReadable());

    connect(m_previous, &QPushButton::clicked, this, [this] { showPage(page() - 1); });
    connect(m_next, &QPushButton::clicked, this, [this] { showPage(page() + 1); });
    connect(m_decline, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_agree, &QPushButton::clicked, this, [this] {
        accept();
        NotificationCenter::defaultCenter().post(QLatin1String(kTosAccepted), false);
    });
    showPage(1);
    fitSheetToWindow(this, {620, 740});
}

ToSVC *ToSVC::requestToS(const QString &pdfPath, QWidget *window) {
    QWidget *over = SignInWC::current() && SignInWC::current()->isVisible() ? SignInWC::current() : window;
    auto *terms = new ToSVC(pdfPath, over);
    if (!terms->isReadable()) {
        delete terms;
        return nullptr;
    }
    terms->setAttribute(Qt::WA_DeleteOnClose);
    terms->open();
    terms->m_agree->setFocus();
    return terms;
}

bool ToSVC::isReadable() const {
    return m_document->status() == QPdfDocument::Status::Ready && m_document->pageCount() > 0;
}

int ToSVC::page() const {
    return m_pageView->page() + 1;
}

int ToSVC::pageCount() const {
    return m_document->pageCount();
}

void ToSVC::showPage(int page) {
    page = std::clamp(page, 1, std::max(1, pageCount()));
    m_pageView->setPage(page - 1);
    m_label->setText(pageLabel());
    m_label->setAccessibleName(m_label->text());
    m_previous->setEnabled(page > 1);
    m_next->setEnabled(page < pageCount());
}

QString ToSVC::pageLabel() const {
    return localizedFormat(
        QStringLiteral("[PageNofM]"), {QString::number(page()), QString::number(pageCount())});
}

} // namespace lf
