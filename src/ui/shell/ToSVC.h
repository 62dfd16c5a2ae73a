#pragma once

#include <QDialog>
#include <QImage>
#include <QWidget>

class QLabel;
class QPdfDocument;
class QPushButton;

namespace lf {

// One page of a PDF document, drawn to the widget's width on white paper.
class PDFpage : public QWidget {
    Q_OBJECT
public:
    explicit PDFpage(QPdfDocument *document, QWidget *parent = nullptr);

    void setPage(int index);
    int page() const { return m_page; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QPdfDocument *m_document;
    int m_page = 0;
    QImage m_rendered;
};

// The terms of service as a sheet: the document page by page, Agree and Decline. Only Agree
// posts "tosAccepted"; the sign-up waits for it.
class ToSVC : public QDialog {
    Q_OBJECT
public:
    static constexpr const char *kTosAccepted = "tosAccepted";

    ToSVC(const QString &pdfPath, QWidget *parent);

    // Shows the terms in `pdfPath` over the sheet attached to the main window (the sign-in sheet)
    // when there is one, else over `window`. None when the file is no readable PDF.
    static ToSVC *requestToS(const QString &pdfPath, QWidget *window);

    bool isReadable() const;
    // 1-based, as the label shows it.
    int page() const;
    int pageCount() const;
    void showPage(int page);
    QPushButton *agreeButton() const { return m_agree; }
    QPushButton *declineButton() const { return m_decline; }
    QPushButton *previousButton() const { return m_previous; }
    QPushButton *nextButton() const { return m_next; }
    QString pageLabel() const;

private:
    QPdfDocument *m_document = nullptr;
    PDFpage *m_pageView = nullptr;
    QLabel *m_label = nullptr;
    QPushButton *m_previous = nullptr;
    QPushButton *m_next = nullptr;
    QPushButton *m_agree = nullptr;
    QPushButton *m_decline = nullptr;
};

} // namespace lf
