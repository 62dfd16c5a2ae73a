#include "toolkit/ClockTimer.h"
#include "toolkit/LFAlert.h"
#include "toolkit/LFBalloonView.h"
#include "toolkit/LFIconButton.h"

#include "foundation/Clock.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace lf {
namespace {

using namespace std::chrono_literals;

void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

int balloonsOnScreen() {
    int n = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        n += w->objectName() == QLatin1String("LFAlertWindow") && w->isVisible();
    return n;
}

// A window with an address field, under a fake clock.
class AlertTest : public lf::test::TempHomeTest {
protected:
    void SetUp() override {
        window.setGeometry(200, 150, 600, 400);
        auto *layout = new QVBoxLayout(&window);
        field = new QLineEdit(&window);
        layout->addWidget(field);
        layout->addStretch();
        window.show();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        LFAlert::cleanupNoAction();
        flushDeletes();
    }

    ScopedFakeClock fake;
    QWidget window;
    QLineEdit *field = nullptr;
};

// A target whose slots record the alerts they were called with.
class Recorder : public QObject {
    Q_OBJECT
public:
    QList<int> closedTags;
    int idleCalls = 0;
    int bareCalls = 0;
public slots:
    void balloonClosed(lf::LFAlert *alert) { closedTags << alert->tag(); }
    void checkNetwork(lf::LFAlert *) { ++idleCalls; }
    void bare() { ++bareCalls; }
};

TEST(BestRectTest, ShortLongAndMultiLineTexts) {
    const QFont font = LFAlert::blurbFont();
    const QFontMetricsF fm(font);

    // Short: its natural size on one line.
    const QRectF shortRect = LFAlert::bestRectForString(QStringLiteral("Oops"), font);
    EXPECT_EQ(shortRect.topLeft(), QPointF(0, 0));
    EXPECT_EQ(shortRect.size(), fm.size(0, QStringLiteral("Oops")));

    // Long one-line text: wrapped into as many lines as bring the width to five times the height
    // or less, never to nothing.
    const QString longText = QString(QStringLiteral("The server could not be reached. ")).repeated(6);
    const QSizeF natural = fm.size(0, longText);
    const QRectF wrapped = LFAlert::bestRectForString(longText, font);
    const qreal lineHeight = fm.lineSpacing() + 1;
    const int lines = int(std::lround(wrapped.height() / lineHeight));
    EXPECT_GE(lines, 2);
    EXPECT_DOUBLE_EQ(wrapped.height(), lines * lineHeight);
    EXPECT_LE(wrapped.width(), 5 * wrapped.height());
    EXPECT_NEAR(wrapped.width() * lines, natural.width(), 1e-6);
    // One line fewer would still have been too wide.
    EXPECT_GT(natural.width() / (lines - 1), 5 * (lines - 1) * lineHeight);

    // Multi-line text keeps its lines; a wide one among them still wraps the whole.
    const QRectF three = LFAlert::bestRectForString(QStringLiteral("One\nTwo\nThree"), font);
    EXPECT_EQ(three.size(), fm.size(0, QStringLiteral("One\nTwo\nThree")));
    const QString mixed = QStringLiteral("Short\n") + longText;
    const QRectF mixedRect = LFAlert::bestRectForString(mixed, font);
    EXPECT_GT(mixedRect.height(), fm.size(0, mixed).height());
    EXPECT_LE(mixedRect.width(), 5 * mixedRect.height());
}

TEST_F(AlertTest, TextFitsInsideTheBodyWithinItsLimits) {
    for (const QString &text :
        {QStringLiteral("No"), QString(QStringLiteral("Sharing failed: try again later. ")).repeated(8),
            QStringLiteral("First line\nSecond line\nThird line")}) {
        LFAlert *alert = LFAlert::alertWithString(text, field);
        QLabel *label = alert->textView();
        EXPECT_GE(label->width(), LFAlert::kMinTextWidth);
        EXPECT_LE(label->width(), LFAlert::kMaxTextWidth);
        EXPECT_GE(label->height(), LFAlert::kMinTextHeight);
        // The wrapped text needs no more height than it was given.
        EXPECT_LE(label->heightForWidth(label->width()), label->height()) << text.toStdString();
        // The text (inside the label's margins) lies in the body, clear of the tip strip.
        const QRect area(label->mapTo(alert->balloonView(), label->contentsRect().topLeft()),
            label->contentsRect().size());
        EXPECT_TRUE(alert->balloonView()->bodyRect().contains(QRectF(area))) << text.toStdString();
        // And clear of the close button, which sits in the body's top-right corner.
        const QRect close = alert->closeButton()->geometry();
        EXPECT_FALSE(area.intersects(close));
        EXPECT_TRUE(alert->balloonView()->bodyRect().contains(QRectF(close)));
    }
}

TEST(BalloonPlacementTest, TipPointsAtTheFocusViewNearEveryScreenEdge) {
    const QRectF screen(0, 0, 1000, 700);
    LFBalloonView view;
    view.resize(300, 80);
    auto apexOnScreen = [&](QPoint topLeft) { return view.tipApex() + QPointF(topLeft); };
    const struct {
        const char *where;
        QRectF focus;
        int side;
    } cases[] = {
        {"middle", {400, 300, 200, 24}, LFBalloonView::Top},
        {"left edge", {0, 300, 60, 24}, LFBalloonView::Top},
        {"right edge", {940, 300, 60, 24}, LFBalloonView::Top},
        {"top edge", {400, 0, 200, 24}, LFBalloonView::Top},
        {"bottom edge", {400, 676, 200, 24}, LFBalloonView::Bottom},
        {"bottom-right corner", {900, 670, 100, 30}, LFBalloonView::Bottom},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.where);
        const QPoint at = LFAlert::placeUnder(&view, c.focus, screen);
        EXPECT_EQ(view.pointSide(), c.side);
        // Whole on screen.
        EXPECT_TRUE(screen.contains(QRectF(at, QSizeF(view.size()))));
        // The apex under the focus view's middle, reaching 8 points into it.
        const QPointF apex = apexOnScreen(at);
        EXPECT_NEAR(apex.x(), c.focus.center().x(), 0.51);
        if (c.side == LFBalloonView::Top) {
            EXPECT_NEAR(apex.y(), c.focus.bottom() - 8, 0.51);
            EXPECT_NEAR(at.y(), c.focus.bottom() - 12, 0.51);
        } else {
            EXPECT_NEAR(apex.y(), c.focus.top() + 8, 0.51);
        }
    }
    // In the middle the balloon is centred on the view, tip in the middle.
    const QPoint middle = LFAlert::placeUnder(&view, QRectF(400, 300, 200, 24), screen);
    EXPECT_EQ(middle.x(), 350);
    EXPECT_DOUBLE_EQ(view.pointPosition(), 0.5);
    // A view narrower than the tip's reach at the very edge: the tip goes as far as it can.
    const QPoint corner = LFAlert::placeUnder(&view, QRectF(0, 300, 8, 24), screen);
    EXPECT_EQ(corner.x(), 0);
    EXPECT_EQ(view.pointPosition(), 0.0);
}

TEST_F(AlertTest, ABalloonAboutAViewLeavesItTheKeyboard) {
    window.activateWindow();
    field->setFocus();
    QCoreApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), field);
    LFAlert *alert = LFAlert::alertWithString(QStringLiteral("Not an e-mail address"), field);
    QCoreApplication::processEvents();
    EXPECT_TRUE(alert->window()->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), field);
    EXPECT_FALSE(alert->window()->isActiveWindow());
    // Without a view to point at, it takes the keyboard: Escape closes it.
    alert = LFAlert::alertWithString(QStringLiteral("Could not sign in"));
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), alert->balloonView());
}

TEST_F(AlertTest, HangsUnderItsFocusViewAndFollowsTheWindow) {
    LFAlert *alert = LFAlert::alertWithString(QStringLiteral("Not an e-mail address"), field);
    ASSERT_EQ(LFAlert::current(), alert);
    EXPECT_EQ(alert->parentWindow(), &window);
    const QRect f(field->mapToGlobal(QPoint(0, 0)), field->size());
    const QRect b = alert->window()->geometry();
    EXPECT_EQ(b.top(), f.top() + f.height() - 12);
    const QPointF apex = alert->balloonView()->tipApex() + QPointF(b.topLeft());
    EXPECT_NEAR(apex.x(), f.left() + f.width() / 2.0, 0.51);

    window.move(window.pos() + QPoint(40, 30));
    QCoreApplication::processEvents();
    EXPECT_EQ(alert->window()->geometry().topLeft(), b.topLeft() + QPoint(40, 30));
}

TEST_F(AlertTest, WithoutFocusViewItIsCentredOnTheTopWindow) {
    EXPECT_EQ(LFAlert::topWindow(), &window);
    LFAlert *alert = LFAlert::alertWithString(QStringLiteral("Could not sign in"));
    EXPECT_EQ(alert->parentWindow(), &window);
    const QPoint centre = alert->window()->geometry().center();
    const QPoint expected = window.frameGeometry().center();
    EXPECT_LE((centre - expected).manhattanLength(), 2);
    // The balloon itself is never taken for the top window.
    EXPECT_EQ(LFAlert::topWindow(), &window);
}

TEST_F(AlertTest, OneBalloonAtATimeAndTheFirstOnesActionRunsFirst) {
    QStringList events;
    LFAlert *first = LFAlert::alertWithString(QStringLiteral("first"), field);
    QPointer<LFAlert> firstGuard(first);
    first->setAction([&](LFAlert *a) {
        events << QStringLiteral("action of ") + a->text();
        // Still on screen while its action runs.
        EXPECT_EQ(balloonsOnScreen(), 1);
    });
    LFAlert *second = LFAlert::alertWithString(QStringLiteral("second"), field);
    events << QStringLiteral("shown ") + second->text();
    EXPECT_EQ(events, QStringList({QStringLiteral("action of first"), QStringLiteral("shown second")}));
    EXPECT_TRUE(firstGuard.isNull() || firstGuard->isClosed());
    EXPECT_EQ(LFAlert::current(), second);
    EXPECT_EQ(balloonsOnScreen(), 1);
    flushDeletes();
    EXPECT_TRUE(firstGuard.isNull());

    // Without action: nothing runs.
    int runs = 0;
    second->setAction([&](LFAlert *) { ++runs; });
    LFAlert::cleanupNoAction();
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(LFAlert::current(), nullptr);
    EXPECT_EQ(balloonsOnScreen(), 0);
}

TEST_F(AlertTest, ABalloonShownByAnActionDoesNotOutliveTheNextOne) {
    LFAlert *first = LFAlert::alertWithString(QStringLiteral("first"), field);
    QPointer<LFAlert> fromAction;
    first->setAction(
        [&](LFAlert *) { fromAction = LFAlert::alertWithString(QStringLiteral("from the action"), field); });
    LFAlert *third = LFAlert::alertWithString(QStringLiteral("third"), field);
    EXPECT_EQ(LFAlert::current(), third);
    EXPECT_TRUE(fromAction.isNull() || fromAction->isClosed());
    EXPECT_EQ(balloonsOnScreen(), 1);

    // Closing a balloon whose action shows the next leaves that next one current and on screen.
    third->setAction(
        [&](LFAlert *) { fromAction = LFAlert::alertWithString(QStringLiteral("next"), field); });
    third->closeButton()->click();
    ASSERT_FALSE(fromAction.isNull());
    EXPECT_EQ(LFAlert::current(), fromAction.data());
    EXPECT_TRUE(fromAction->window()->isVisible());
    EXPECT_EQ(balloonsOnScreen(), 1);
}

TEST_F(AlertTest, CloseButtonEscapeAndCleanupPerformTheTargetsAction) {
    Recorder recorder;
    LFAlert *alert = LFAlert::alertWithString(QStringLiteral("one"), field);
    alert->setTarget(&recorder);
    alert->setAction("balloonClosed");
    alert->setTag(1);
    EXPECT_EQ(alert->closeButton()->accessibleName().isEmpty(), false);
    QPointer<LFAlert> guard(alert);
    alert->closeButton()->click();
    EXPECT_EQ(recorder.closedTags, QList<int>({1}));
    EXPECT_EQ(LFAlert::current(), nullptr);
    flushDeletes();
    EXPECT_TRUE(guard.isNull());

    alert = LFAlert::alertWithString(QStringLiteral("two"), field);
    alert->setTarget(&recorder);
    alert->setAction("balloonClosed");
    alert->setTag(2);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(alert->balloonView(), &escape);
    EXPECT_EQ(recorder.closedTags, QList<int>({1, 2}));
    EXPECT_EQ(balloonsOnScreen(), 0);

    alert = LFAlert::alertWithString(QStringLiteral("three"), field);
    alert->setTarget(&recorder);
    alert->setAction("bare");
    LFAlert::cleanup();
    EXPECT_EQ(recorder.bareCalls, 1);

    // A target that went away is not called.
    auto *gone = new Recorder;
    alert = LFAlert::alertWithString(QStringLiteral("four"), field);
    alert->setTarget(gone);
    alert->setAction("balloonClosed");
    delete gone;
    LFAlert::cleanup();
    EXPECT_EQ(LFAlert::current(), nullptr);
}

TEST_F(AlertTest, IdleActionEveryFiveSecondsOnTheClockUntilClosed) {
    Recorder recorder;
    LFAlert *alert = LFAlert::alertWithString(QStringLiteral("No network"), field);
    alert->setTarget(&recorder);
    alert->setIdleAction("checkNetwork");

    auto after = [&](std::chrono::milliseconds d) {
        fake.clock.advance(d);
        ClockTimer::checkDueTimers();
        return recorder.idleCalls;
    };
    EXPECT_EQ(after(4999ms), 0);
    EXPECT_EQ(after(1ms), 1);
    EXPECT_EQ(after(5000ms), 2);
    // A late look fires once and keeps to the 5-second grid.
    EXPECT_EQ(after(12000ms), 3);
    EXPECT_EQ(after(2999ms), 3);
    EXPECT_EQ(after(1ms), 4);

    alert->close();
    EXPECT_EQ(after(20000ms), 4);
}

TEST_F(AlertTest, ClosingFromInsideTheIdleActionStopsIt) {
    int calls = 0;
    LFAlert *alert = LFAlert::alertWithString(QStringLiteral("Waiting for the network"), field);
    alert->setIdleAction([&](LFAlert *a) {
        if (++calls == 2)
            a->close();
    });
    int closedRuns = 0;
    alert->setAction([&](LFAlert *) { ++closedRuns; });
    for (int i = 0; i < 5; ++i) {
        fake.clock.advance(5000ms);
        ClockTimer::checkDueTimers();
    }
    EXPECT_EQ(calls, 2);
    // close() is the quiet way out: the action is for the close button and cleanup.
    EXPECT_EQ(closedRuns, 0);
    EXPECT_EQ(LFAlert::current(), nullptr);
    EXPECT_EQ(balloonsOnScreen(), 0);
}

TEST(ClockTimerTest, RunsOnTheSystemClockToo) {
    ClockTimer timer;
    int fired = 0;
    QObject::connect(&timer, &ClockTimer::timeout, [&] { ++fired; });
    timer.start(15);
    QElapsedTimer waited;
    waited.start();
    while (fired < 3 && waited.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_GE(fired, 3);
    timer.stop();
    const int stoppedAt = fired;
    waited.restart();
    while (waited.elapsed() < 60)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(fired, stoppedAt);
}

TEST_F(AlertTest, RunModalHoldsTheApplicationUntilTheBalloonCloses) {
    int runs = 0;
    LFAlert *alert = LFAlert::alertWithString(QStringLiteral("Sign-in failed"));
    alert->setAction([&](LFAlert *) { ++runs; });
    alert->runModal();
    // Returns at once; the balloon is the modal window.
    EXPECT_TRUE(alert->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), alert->window());
    alert->closeButton()->click();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // About a field, it holds every other window; the field's keeps its keyboard for the correction.
    QWidget other;
    auto *otherField = new QLineEdit(&other);
    other.show();
    alert = LFAlert::alertWithString(QStringLiteral("Name taken"), field);
    alert->runModal();
    EXPECT_TRUE(alert->isModal());
    for (QLineEdit *target : {field, otherField}) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        QApplication::sendEvent(target, &press);
    }
    EXPECT_EQ(field->text(), QStringLiteral("x"));
    EXPECT_TRUE(otherField->text().isEmpty());
    alert->doClose();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Y, Qt::NoModifier, QStringLiteral("y"));
    QApplication::sendEvent(otherField, &press);
    EXPECT_EQ(otherField->text(), QStringLiteral("y"));

    // A newer balloon ends the older one's modal run as well.
    LFAlert::alertWithString(QStringLiteral("first"), field)->runModal();
    LFAlert *second = LFAlert::alertWithString(QStringLiteral("second"), field);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(second->isModal());
}

TEST_F(AlertTest, EveryControlHasAnAccessibleName) {
    LFAlert *alert = LFAlert::alertWithString(QStringLiteral("Not an e-mail address"), field);
    EXPECT_FALSE(alert->window()->accessibleName().isEmpty());
    const auto widgets = alert->window()->findChildren<QWidget *>();
    ASSERT_GE(widgets.size(), 3);
    for (QWidget *w : widgets)
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->metaObject()->className();
}

} // namespace
} // namespace lf

#include "AlertTest.moc"
