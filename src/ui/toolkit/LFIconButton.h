#pragma once

#include <QAbstractButton>
#include <QString>

namespace lf {

// A plain image button: one image at rest and another while pressed, sized to the image, with
// no frame. Used for the balloon's close button, badges and small corner buttons.
class LFIconButton : public QAbstractButton {
    Q_OBJECT
public:
    // `image` and `pressedImage` are names of the program's images ("error_close").
    LFIconButton(const QString &image, const QString &pressedImage, QWidget *parent = nullptr);

    void setImages(const QString &image, const QString &pressedImage);
    QString image() const { return m_image; }
    QString pressedImage() const { return m_pressedImage; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_image;
    QString m_pressedImage;
};

} // namespace lf
