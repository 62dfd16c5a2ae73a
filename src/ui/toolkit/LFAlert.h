#pragma once

#include <QByteArray>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QString>

#include <functional>

class QLabel;

namespace lf {

class ClockTimer;
class LFBalloonView;
class LFIconButton;

// A short message in a balloon that hangs under the view it is about (or sits in the middle of
// the top window). One balloon at a time: showing a new one closes the one on screen first,
// performing its action. Main thread only.
//
// Callers name what happens when the balloon closes and, while it shows, every 5 seconds: either
// a function, or a target object and the name of one of its slots or invokable methods, called
// with the alert (`void balloonQuit(lf::LFAlert *)`) or, when it takes no argument, without.
class LFAlert : public QObject {
    Q_OBJECT
public:
    using Action = std::function<void(LFAlert *)>;

    static constexpr int kIdleIntervalMs = 5000;
    // Text area limits, in points.
    static constexpr int kMinTextWidth = 96, kMinTextHeight = 32;
    static constexpr int kMaxTextWidth = 640, kMaxTextHeight = 480;

    // Closes the balloon on screen (performing its action), shows a new one pointing at `focus`
    // (or centred on the top window), beeps, and returns it. The alert deletes itself once closed.
    static LFAlert *alertWithString(const QString &text, QWidget *focus = nullptr);
    // The balloon on screen, or none.
    static LFAlert *current();
    // Closes the balloon on screen, performing its action.
    static void cleanup();
    // Closes the balloon on screen without its action.
    static void cleanupNoAction();

    // The first visible window of the application without a parent window (not a balloon, menu or
    // tool tip), or none.
    static QWidget *topWindow();

    // The balloon's text font: the system font at 17 points.
    static QFont blurbFont();
    // The text area: the text on one line, wrapped into more lines until it is at most five times
    // as wide as high.
    static QRectF bestRectForString(const QString &text, const QFont &font = blurbFont());

    // Places a balloon of `view`'s size under `focus` (global coordinates): centred on it with the
    // tip overlapping its bottom edge, kept on `screen`; above the view, tip down, when there is
    // no room below. Sets the view's tip side and position; returns the balloon's top-left corner.
    static QPoint placeUnder(LFBalloonView *view, const QRectF &focus, const QRectF &screen);

    // Makes the balloon application-modal until it closes (without blocking: the event loop goes on).
    // A balloon about a view leaves that view's window usable, so the user can correct it there.
    void runModal();
    bool isModal() const { return m_modal; }

    // Performs the action, then closes.
    void doClose();
    // Closes without the action: stops the idle timer, ends the modal state, takes the window off
    // screen. Safe to call more than once, and from the action or idle action.
    void close();
    bool isClosed() const { return m_closed; }

    QObject *target() const { return m_target; }
    void setTarget(QObject *target) { m_target = target; }
    QByteArray action() const { return m_actionName; }
    void setAction(const char *member);
    void setAction(Action action);
    QByteArray idleAction() const { return m_idleName; }
    void setIdleAction(const char *member);
    void setIdleAction(Action action);
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    QString text() const { return m_text; }
    // The balloon window, its drawing, text and close button (for the gallery and tests).
    QWidget *window() const;
    LFBalloonView *balloonView() const { return m_balloon; }
    QLabel *textView() const { return m_textView; }
    LFIconButton *closeButton() const { return m_closeButton; }
    QWidget *parentWindow() const { return m_parentWindow; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    LFAlert(const QString &text, QWidget *focus);
    ~LFAlert() override;

    void build();
    // Whether the balloon is about a view, which keeps the keyboard.
    bool keepsKeyboard() const;
    void place();
    void bringToFront();
    void shape();
    void periodic();
    void perform(const Action &fn, const QByteArray &member);
    bool hasAction() const { return bool(m_actionFn) || (!m_actionName.isEmpty() && m_target); }

    QString m_text;
    QFont m_blurbFont;
    QPointer<QWidget> m_window;
    QPointer<QWidget> m_focus;
    QPointer<QWidget> m_parentWindow;
    QPointer<QObject> m_target;
    QByteArray m_actionName;
    Action m_actionFn;
    QByteArray m_idleName;
    Action m_idleFn;
    int m_tag = 0;
    ClockTimer *m_timer = nullptr;
    LFBalloonView *m_balloon = nullptr;
    QLabel *m_textView = nullptr;
    LFIconButton *m_closeButton = nullptr;
    bool m_composited = true;
    bool m_modal = false;
    bool m_closing = false;
    bool m_closed = false;
};

} // namespace lf
