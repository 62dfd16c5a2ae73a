#include "toolkit/LFAlert.h"

#include "foundation/Log.h"
#include "foundation/LogCategories.h"
#include "toolkit/ClockTimer.h"
#include "toolkit/Compositing.h"
#include "toolkit/LFBalloonView.h"
#include "toolkit/LFIconButton.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QPainterPathStroker>
#include <QScreen>

#include <cmath>

namespace lf {

namespace {

QPointer<LFAlert> g_current;

// Room around the text inside its view: the text sits clear of the outline and of the tip
// strip, which the view reaches into by 4 points.
constexpr int kInsetLeft = 10, kInsetRight = 6, kInsetTop = 14, kInsetBottom = 10;
// The balloon window is this much wider than the view around the text: room for the close button.
constexpr int kExtraWidth = 24;
// The tip overlaps the focus view's bottom edge by this much.
constexpr qreal kOverlap = 12.0;

// The balloon window: borderless, transparent around the drawn shape, above its parent window.
class BalloonWindow : public QWidget {
public:
    // `keepKeyboard`: a balloon about a view never takes the keyboard from it. A window of the
    // tool-tip kind is one no platform gives the keyboard to, not even on showing it.
    BalloonWindow(QWidget *parent, LFAlert *alert, bool composited, bool keepKeyboard)
        : QWidget(parent,
            (keepKeyboard ? Qt::ToolTip | Qt::WindowDoesNotAcceptFocus : Qt::WindowFlags(Qt::Tool))
                | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint)
        , m_alert(alert) {
        setAttribute(Qt::WA_ShowWithoutActivating, keepKeyboard);
        // Without a compositing manager an alpha window shows black where it is transparent; an
        // opaque window cut to the outline (see shape()) looks right there.
        setAttribute(Qt::WA_TranslucentBackground, composited);
        setObjectName(QStringLiteral("LFAlertWindow"));
        setAccessibleName(QObject::tr("Alert"));
    }

protected:
    void keyPressEvent(QKeyEvent *event) override {
        if (event->key() == Qt::Key_Escape && m_alert) {
            m_alert->doClose();
            return;
        }
        QWidget::keyPressEvent(event);
    }

private:
    QPointer<LFAlert> m_alert;
};

} // namespace

LFAlert *LFAlert::alertWithString(const QString &text, QWidget *focus) {
    // An action may itself show a balloon; that one goes too (with its action), so that only the
    // new balloon is left. A chain of actions that keeps showing balloons is cut short.
    for (int round = 0; current(); ++round) {
        if (round < 8)
            cleanup();
        else
            cleanupNoAction();
    }
    auto *alert = new LFAlert(text, focus);
    g_current = alert;
    QApplication::beep();
    return alert;
}

LFAlert *LFAlert::current() {
    return g_current;
}

void LFAlert::cleanup() {
    if (!g_current)
        return;
    qCInfo(lfUi).noquote() << QStringLiteral("closing the balloon \"%1\"").arg(g_current->m_text);
    LFAlert *alert = g_current;
    alert->doClose();
    if (g_current == alert)
        g_current = nullptr;
}

void LFAlert::cleanupNoAction() {
    if (!g_current)
        return;
    g_current->m_actionFn = nullptr;
    g_current->m_actionName.clear();
    cleanup();
}

QWidget *LFAlert::topWindow() {
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows) {
        if (!w->isVisible() || w->parentWidget())
            continue;
        const Qt::WindowType type = w->windowType();
        if (type == Qt::ToolTip || type == Qt::Popup || type == Qt::Tool || type == Qt::SplashScreen)
            continue;
        if (w->objectName() == QLatin1String("LFAlertWindow"))
            continue;
        return w;
    }
    return nullptr;
}

QFont LFAlert::blurbFont() {
    QFont font = QApplication::font();
    font.setPixelSize(17);
    return font;
}

QRectF LFAlert::bestRectForString(const QString &text, const QFont &font) {
    const QFontMetricsF fm(font);
    const QSizeF natural = fm.size(0, text);
    qreal width = natural.width();
    qreal height = natural.height();
    const qreal lineHeight = fm.lineSpacing() + 1;
    // The lines the measured text holds. (Dividing by lineHeight, one more than the measuring
    // line height, would count a single line as none and shrink the wrapped text to nothing.)
    int lines = std::max(1, int(std::lround(height / fm.lineSpacing())));
    const qreal total = lines * width;
    while (width > 5 * height) {
        ++lines;
        height = lineHeight * lines;
        width = total / lines;
    }
    return QRectF(0, 0, width, height);
}

QPoint LFAlert::placeUnder(LFBalloonView *view, const QRectF &focus, const QRectF &screen) {
    const qreal w = view->width();
    const qreal h = view->height();
    qreal x = focus.center().x() - w / 2;
    x = std::clamp(x, screen.left(), std::max(screen.left(), screen.right() - w));
    qreal y = focus.bottom() - kOverlap;
    if (y + h > screen.bottom() && focus.top() + kOverlap - h >= screen.top()) {
        // No room below: above the view, the tip overlapping its top edge.
        view->setPointSide(LFBalloonView::Bottom);
        y = focus.top() + kOverlap - h;
    } else {
        view->setPointSide(LFBalloonView::Top);
        y = std::clamp(y, screen.top(), std::max(screen.top(), screen.bottom() - h));
    }
    view->setPointPosition(view->pointPositionFor(focus.center().x() - x));
    return QPoint(int(std::lround(x)), int(std::lround(y)));
}

LFAlert::LFAlert(const QString &text, QWidget *focus)
    : m_text(text)
    , m_blurbFont(blurbFont())
    , m_focus(focus) {
    build();
}

LFAlert::~LFAlert() {
    if (m_window)
        delete m_window.data();
}

void LFAlert::build() {
    m_parentWindow = m_focus ? m_focus->window() : topWindow();
    m_composited = windowsAreComposited();
    auto *window = new BalloonWindow(m_parentWindow, this, m_composited, keepsKeyboard());
    m_window = window;

    // The text: its best rectangle, wrapped at that width and grown to fit, within the limits.
    const QRectF best = bestRectForString(m_text, m_blurbFont);
    const QFontMetricsF fm(m_blurbFont);
    const qreal wrapWidth
        = std::min<qreal>(std::ceil(best.width()) + 1, kMaxTextWidth - kInsetLeft - kInsetRight);
    const QRectF wrapped = fm.boundingRect(QRectF(0, 0, wrapWidth, 1e6), Qt::TextWordWrap, m_text);
    const int textWidth
        = std::clamp(int(std::ceil(std::max(best.width(), wrapped.width()))) + kInsetLeft + kInsetRight,
            kMinTextWidth, kMaxTextWidth);
    const int textHeight = std::clamp(
        int(std::ceil(wrapped.height())) + kInsetTop + kInsetBottom, kMinTextHeight, kMaxTextHeight);

    m_textView = new QLabel(m_text, window);
    m_textView->setObjectName(QStringLiteral("LFAlertText"));
    m_textView->setFont(m_blurbFont);
    m_textView->setWordWrap(true);
    m_textView->setTextFormat(Qt::PlainText);
    m_textView->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_textView->setContentsMargins(kInsetLeft, kInsetTop, kInsetRight, kInsetBottom);
    m_textView->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette pal = m_textView->palette();
    pal.setColor(QPalette::WindowText, QColor(0x26, 0x1A, 0x1B));
    m_textView->setPalette(pal);
    m_textView->setAccessibleName(tr("Alert message"));
    m_textView->resize(textWidth, textHeight);

    m_balloon = LFBalloonView::balloonViewAround(m_textView);
    m_balloon->setPointPosition(0.5);
    m_balloon->setPointSide(LFBalloonView::Top);
    m_balloon->resize(m_balloon->width() + kExtraWidth, m_balloon->height());
    m_balloon->setFocusPolicy(keepsKeyboard() ? Qt::NoFocus : Qt::StrongFocus);
    m_balloon->setAccessibleName(tr("Alert"));
    m_balloon->setAccessibleDescription(m_text);
    window->resize(m_balloon->size());

    m_closeButton
        = new LFIconButton(QStringLiteral("error_close"), QStringLiteral("error_close_pressed"), m_balloon);
    m_closeButton->setAccessibleName(tr("Close alert"));
    m_closeButton->setToolTip(tr("Close"));
    m_closeButton->move(m_balloon->width() - m_closeButton->width() - 8, int(m_balloon->pointDepth()) + 8);
    connect(m_closeButton, &QAbstractButton::clicked, this, [this] { doClose(); });

    place();
    if (m_parentWindow)
        m_parentWindow->installEventFilter(this);
    bringToFront();

    m_timer = new ClockTimer(this);
    connect(m_timer, &ClockTimer::timeout, this, &LFAlert::periodic);
    m_timer->start(kIdleIntervalMs);
}

void LFAlert::place() {
    if (!m_window)
        return;
    QRectF screen;
    QPoint topLeft;
    if (m_focus && m_focus->isVisible()) {
        const QRectF focus(m_focus->mapToGlobal(QPoint(0, 0)), QSizeF(m_focus->size()));
        QScreen *s = m_focus->screen();
        screen = s ? QRectF(s->availableGeometry()) : QRectF(-1e6, -1e6, 2e6, 2e6);
        topLeft = placeUnder(m_balloon, focus, screen);
    } else {
        const QRect frame = m_parentWindow  ? m_parentWindow->frameGeometry()
            : QApplication::primaryScreen() ? QApplication::primaryScreen()->availableGeometry()
                                            : QRect(0, 0, 800, 600);
        topLeft = frame.topLeft()
            + QPoint((frame.width() - m_window->width()) / 2, (frame.height() - m_window->height()) / 2);
    }
    m_window->move(topLeft);
    shape();
}

void LFAlert::shape() {
    if (!m_window || m_composited)
        return;
    // Transparent pixels would show black: cut the window to the outline (its shadow goes).
    QPainterPathStroker edge;
    edge.setWidth(2.0);
    const QPainterPath outline = m_balloon->balloonPath();
    m_window->setMask(QRegion(outline.united(edge.createStroke(outline)).toFillPolygon().toPolygon()));
}

bool LFAlert::keepsKeyboard() const {
    return !m_focus.isNull();
}

bool LFAlert::eventFilter(QObject *watched, QEvent *event) {
    // The balloon travels with its window, as a child window does.
    if (watched == m_parentWindow && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        place();
    if (m_modal && keepsKeyboard() && watched->isWidgetType()) {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel: {
            const QWidget *into = static_cast<QWidget *>(watched)->window();
            if (into != m_window && (!m_focus || into != m_focus->window()))
                return true;
            break;
        }
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void LFAlert::runModal() {
    if (!m_window || m_closed)
        return;
    m_modal = true;
    if (keepsKeyboard()) {
        // Modal to every window but the one of the view it is about, where the user corrects what
        // it points at.
        qApp->installEventFilter(this);
        return;
    }
    // Modality takes effect when the window is shown.
    m_window->hide();
    m_window->setWindowModality(Qt::ApplicationModal);
    bringToFront();
}

void LFAlert::bringToFront() {
    m_window->show();
    shape();
    m_window->raise();
    if (keepsKeyboard())
        return;
    m_window->activateWindow();
    m_balloon->setFocus();
}

QWidget *LFAlert::window() const {
    return m_window;
}

void LFAlert::setAction(const char *member) {
    m_actionName = member ? QByteArray(member) : QByteArray();
    m_actionFn = nullptr;
}

void LFAlert::setAction(Action action) {
    m_actionFn = std::move(action);
    m_actionName.clear();
}

void LFAlert::setIdleAction(const char *member) {
    m_idleName = member ? QByteArray(member) : QByteArray();
    m_idleFn = nullptr;
}

void LFAlert::setIdleAction(Action action) {
    m_idleFn = std::move(action);
    m_idleName.clear();
}

void LFAlert::perform(const Action &fn, const QByteArray &member) {
    if (fn) {
        fn(this);
        return;
    }
    if (member.isEmpty() || !m_target)
        return;
    const QMetaObject *meta = m_target->metaObject();
    const QByteArray withAlert = QMetaObject::normalizedSignature(member + "(lf::LFAlert*)");
    if (meta->indexOfMethod(withAlert.constData()) >= 0)
        QMetaObject::invokeMethod(
            m_target, member.constData(), Qt::DirectConnection, Q_ARG(lf::LFAlert *, this));
    else if (meta->indexOfMethod(member + "()") >= 0)
        QMetaObject::invokeMethod(m_target, member.constData(), Qt::DirectConnection);
    else
        SystemLog(
            QStringLiteral("LFAlert: %1 has no method %2")
                .arg(QString::fromLatin1(m_target->metaObject()->className()), QString::fromLatin1(member)));
}

void LFAlert::doClose() {
    if (m_closing || m_closed)
        return;
    m_closing = true;
    // Copies: the action may change them or show the next balloon.
    const Action fn = m_actionFn;
    const QByteArray member = m_actionName;
    perform(fn, member);
    close();
}

void LFAlert::close() {
    if (m_closed)
        return;
    m_closed = true;
    if (m_timer)
        m_timer->stop();
    // The action may already have put the next balloon in the slot.
    if (g_current == this)
        g_current = nullptr;
    if (m_parentWindow)
        m_parentWindow->removeEventFilter(this);
    qApp->removeEventFilter(this);
    if (m_window) {
        // Hidden while still modal, so that the application's modal list lets go of it.
        m_window->hide();
        if (m_modal)
            m_window->setWindowModality(Qt::NonModal);
        m_modal = false;
        m_window->deleteLater();
    }
    deleteLater();
}

void LFAlert::periodic() {
    if (m_closed)
        return;
    perform(m_idleFn, m_idleName);
}

} // namespace lf
