#include "toolkit/WindowSnapshot.h"

#include <QApplication>
#include <QDialog>
#include <QWidget>

#include <gtest/gtest.h>

namespace lf {
namespace {

void paintSolid(QWidget &w, const QColor &color) {
    w.setAutoFillBackground(true);
    QPalette palette = w.palette();
    palette.setColor(QPalette::Window, color);
    w.setPalette(palette);
}

void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// A window, a dialog over it, a shaped balloon sticking out of it: the image covers all three
// plus the margin, each at its place, in stacking order, and the balloon only inside its shape.
TEST(WindowSnapshotTest, StacksWindowsAtTheirPlacesAndKeepsShapes) {
    QWidget main;
    paintSolid(main, Qt::red);
    main.setGeometry(100, 100, 200, 100);
    auto *dialog = new QDialog(&main);
    paintSolid(*dialog, Qt::green);
    dialog->setGeometry(150, 120, 50, 40);
    auto *balloon = new QWidget(&main, Qt::Tool | Qt::FramelessWindowHint);
    paintSolid(*balloon, Qt::blue);
    balloon->setGeometry(180, 130, 200, 40);
    // Only the balloon's left half is its shape: the rest must show what lies below.
    balloon->setMask(QRegion(0, 0, 100, 40));
    QWidget hidden;
    hidden.setGeometry(0, 0, 10, 10);
    // Shown top first: the order must come from the kinds of window, not from showing.
    balloon->show();
    dialog->show();
    main.show();
    settle();

    const QList<QWidget *> stacked = stackedWindows(&main);
    ASSERT_EQ(stacked, (QList<QWidget *> {&main, dialog, balloon}));

    const QImage image = snapshotWindows(stacked, 10, Qt::white);
    // From (90, 90) to (380 + 10, 200 + 10).
    ASSERT_EQ(image.size(), QSize(300, 120));
    auto at = [&image](int x, int y) { return image.pixelColor(x - 90, y - 90); };
    EXPECT_EQ(at(95, 95), QColor(Qt::white)) << "margin";
    EXPECT_EQ(at(110, 110), QColor(Qt::red));
    EXPECT_EQ(at(160, 125), QColor(Qt::green)) << "the dialog over the window";
    EXPECT_EQ(at(190, 140), QColor(Qt::blue)) << "the balloon over the dialog";
    EXPECT_EQ(at(290, 140), QColor(Qt::red)) << "outside the balloon's shape, the window";
    EXPECT_EQ(at(350, 140), QColor(Qt::white)) << "outside the balloon's shape and every window";
}

} // namespace
} // namespace lf
