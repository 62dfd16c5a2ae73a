#pragma once

#include <QPointer>
#include <QWidget>

class QLineEdit;

namespace lf {

class LFAlert;

// The toolkit on one page: the theme's colours and gradients, a balloon under a field, the
// balloon's tip on every side, and every image at scale 1 and 2.
class Gallery : public QWidget {
    Q_OBJECT
public:
    explicit Gallery(QWidget *parent = nullptr);

    // Shows the balloon under the address field (again).
    void showBalloon();
    // The page with the balloon window drawn in, as on screen.
    QImage snapshot();

private:
    QWidget *themeSection();
    QWidget *balloonSection();
    QWidget *artworkSection();

    QWidget *m_page = nullptr;
    QLineEdit *m_field = nullptr;
};

} // namespace lf
