#pragma once

#include "CliTest.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace lf::test {

QString desktopPath();

// The desktop program as a user starts it: on an X server of the test's own (Xvfb) with a
// session bus of its own, against the reference server. Read over the scripting and inspection
// interfaces, driven with real input through the X server (xdotool).
class DesktopTest : public CliTest {
protected:
    void SetUp() override;
    void TearDown() override;

    void startProgram(const QStringList &args = {});
    // Signs in as the demo user, starts the program and waits for it to be signed in.
    void startSignedIn();
    // The first sign-in of an account opens the welcome page, which takes the keyboard once it
    // has loaded: typing waits for it.
    void waitForWelcomePage();
    // Writes the three sample photos into the home's "photos" folder (`samplePhotos`).
    void writePhotos();
    // Waits for a condition, polling while the program runs; false when it ended or the time ran out.
    bool waitFor(const std::function<bool()> &condition, int timeoutMs = 30000);

    // The scripting interface.
    QVariant property(const char *name);
    QList<QVariantMap> listProperty(const char *name);
    bool signedIn() { return property("SignedIn").toBool(); }
    void script(const QString &method, const QVariantList &args = {});

    // The inspection interface.
    QList<QVariantMap> windows();
    QList<QVariantMap> controls();
    QVariantMap focus();
    QString balloon();
    // The first visible control with this accessible name (and role, when given).
    std::optional<QVariantMap> control(const QString &name, const QString &role = {});
    std::optional<QVariantMap> waitForControl(const QString &name, const QString &role = {});
    std::optional<QVariantMap> window(const QString &objectName);

    // Input through the X server.
    RunResult xdotool(const QStringList &args);
    void click(const QVariantMap &element); // gives its window the keyboard first
    void typeText(const QString &text);
    void key(const QString &keys); // e.g. "Return", "ctrl+q"
    // Gives a window (by object name) the keyboard, as a window manager does on a click.
    void focusWindow(const QString &objectName);
    // Takes the keyboard from the program (to the root window) and gives it back to a window,
    // as switching to another program and back does.
    void leaveAndComeBackTo(const QString &objectName);
    // Drags `files` from another program onto the centre of `element` (a real drag and drop).
    void dragFilesOnto(const QStringList &files, const QVariantMap &element);

    QDBusConnection privateBus() const;

    std::unique_ptr<BackgroundRun> x;
    std::unique_ptr<BackgroundRun> bus;
    std::unique_ptr<BackgroundRun> program;
    QByteArray outerBus;
    QString busAddress;
    QByteArray display;
    QStringList samplePhotos;
};

// The centre of an inspection record's rectangle.
QPoint centreOf(const QVariantMap &element);

} // namespace lf::test
