#include "DesktopTest.h"

#include "support/SamplePhotos.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QPoint>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>

#include <gtest/gtest.h>

namespace lf::test {

namespace {

const QString kName = QStringLiteral("com.Lanternfish.MacClient");
const QString kPath = QStringLiteral("/com/Lanternfish/MacClient");
const QString kScripting = QStringLiteral("com.Lanternfish.MacClient.Scripting");
const QString kInspection = QStringLiteral("com.Lanternfish.MacClient.Inspection");
const QString kPrivateBus = QStringLiteral("e2e-private");

// Input events need a moment to reach the program between steps of a gesture.
constexpr int kGestureStepMs = 150;

QString windowKey(const QVariantMap &window) {
    const QString object = window.value(QStringLiteral("object")).toString();
    return object.isEmpty() ? window.value(QStringLiteral("class")).toString() : object;
}

QList<QVariantMap> listReply(const QDBusMessage &reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return qdbus_cast<QList<QVariantMap>>(reply.arguments().constFirst());
}

} // namespace

QString desktopPath() {
    return QStringLiteral(LF_DESKTOP_PATH);
}

QPoint centreOf(const QVariantMap &element) {
    return {element.value(QStringLiteral("x")).toInt() + element.value(QStringLiteral("width")).toInt() / 2,
        element.value(QStringLiteral("y")).toInt() + element.value(QStringLiteral("height")).toInt() / 2};
}

void DesktopTest::SetUp() {
    CliTest::SetUp();
    if (HasFatalFailure())
        return;
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        GTEST_SKIP() << "Xvfb is not installed";
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "xdotool is not installed";
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    // -displayfd picks a free display and writes its number once the server accepts clients.
    x = std::make_unique<BackgroundRun>(xvfb,
        QStringList {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
            QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
            QStringLiteral("tcp")});
    ASSERT_TRUE(x->waitUntil([this] { return x->outSoFar().contains(QLatin1Char('\n')); }, 20000))
        << x->errSoFar().toStdString();
    display = ":" + x->outSoFar().trimmed().toLatin1();
    qputenv("DISPLAY", display);
    // A bus of this test's own: programs of tests running beside it claim the same name.
    bus = std::make_unique<BackgroundRun>(QStringLiteral("dbus-daemon"),
        QStringList {
            QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    ASSERT_TRUE(bus->waitUntil([this] { return bus->outSoFar().contains(QLatin1Char('\n')); }, 20000))
        << bus->errSoFar().toStdString();
    outerBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    busAddress = bus->outSoFar().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", busAddress.toUtf8());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("LANTERNFISH_TEST_INSPECT", "1");
    // The welcome page's web view: a test machine may offer no namespaces for Chromium's sandbox.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qDBusRegisterMetaType<QList<QVariantMap>>();
}

void DesktopTest::TearDown() {
    program.reset();
    if (bus) {
        QDBusConnection::disconnectFromBus(kPrivateBus);
        qputenv("DBUS_SESSION_BUS_ADDRESS", outerBus);
        bus.reset();
    }
    x.reset();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
    qunsetenv("LANTERNFISH_TEST_INSPECT");
    CliTest::TearDown();
}

void DesktopTest::startProgram(const QStringList &args) {
    program = std::make_unique<BackgroundRun>(desktopPath(), args);
}

void DesktopTest::startSignedIn() {
    ASSERT_NO_FATAL_FAILURE(signIn());
    startProgram();
    ASSERT_TRUE(waitFor([this] { return signedIn(); })) << program->errSoFar().toStdString();
    ASSERT_NO_FATAL_FAILURE(waitForWelcomePage());
}

void DesktopTest::waitForWelcomePage() {
    ASSERT_TRUE(waitFor([this] { return window(QStringLiteral("WelcomeWindow")).has_value(); }))
        << "no welcome page";
}

void DesktopTest::writePhotos() {
    QString error;
    samplePhotos = writeSamplePhotos(home.filePath(QStringLiteral("photos")), &error);
    ASSERT_EQ(samplePhotos.size(), 3) << error.toStdString();
}

bool DesktopTest::waitFor(const std::function<bool()> &condition, int timeoutMs) {
    return program->waitUntil(condition, timeoutMs);
}

QDBusConnection DesktopTest::privateBus() const {
    return QDBusConnection::connectToBus(busAddress, kPrivateBus);
}

QVariant DesktopTest::property(const char *name) {
    QDBusInterface scripting(kName, kPath, kScripting, privateBus());
    return scripting.property(name);
}

QList<QVariantMap> DesktopTest::listProperty(const char *name) {
    return qdbus_cast<QList<QVariantMap>>(property(name));
}

void DesktopTest::script(const QString &method, const QVariantList &args) {
    QDBusInterface scripting(kName, kPath, kScripting, privateBus());
    const QDBusMessage reply = scripting.callWithArgumentList(QDBus::Block, method, args);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
}

QList<QVariantMap> DesktopTest::windows() {
    QDBusInterface inspection(kName, kPath, kInspection, privateBus());
    return listReply(inspection.call(QStringLiteral("Windows")));
}

QList<QVariantMap> DesktopTest::controls() {
    QDBusInterface inspection(kName, kPath, kInspection, privateBus());
    return listReply(inspection.call(QStringLiteral("Controls")));
}

QVariantMap DesktopTest::focus() {
    QDBusInterface inspection(kName, kPath, kInspection, privateBus());
    const QDBusReply<QVariantMap> reply = inspection.call(QStringLiteral("Focus"));
    return reply.isValid() ? reply.value() : QVariantMap {};
}

QString DesktopTest::balloon() {
    QDBusInterface inspection(kName, kPath, kInspection, privateBus());
    const QDBusReply<QString> reply = inspection.call(QStringLiteral("Balloon"));
    return reply.isValid() ? reply.value() : QString();
}

std::optional<QVariantMap> DesktopTest::control(const QString &name, const QString &role) {
    for (const QVariantMap &element : controls()) {
        if (element.value(QStringLiteral("name")).toString() == name
            && (role.isEmpty() || element.value(QStringLiteral("role")).toString() == role)
            && element.value(QStringLiteral("width")).toInt() > 0)
            return element;
    }
    return std::nullopt;
}

std::optional<QVariantMap> DesktopTest::waitForControl(const QString &name, const QString &role) {
    // A window just shown may still be placed (a dialog centres itself over its parent): the
    // control counts once it stays where it is between two looks.
    std::optional<QVariantMap> found;
    std::optional<QVariantMap> before;
    waitFor([&] {
        before = found;
        found = control(name, role);
        if (!found || !before)
            return false;
        for (const char *key : {"x", "y", "width", "height"}) {
            if (found->value(QLatin1String(key)) != before->value(QLatin1String(key)))
                return false;
        }
        return true;
    });
    return found;
}

std::optional<QVariantMap> DesktopTest::window(const QString &objectName) {
    for (const QVariantMap &w : windows()) {
        if (windowKey(w) == objectName)
            return w;
    }
    return std::nullopt;
}

RunResult DesktopTest::xdotool(const QStringList &args) {
    const RunResult r = runProgram(QStringLiteral("xdotool"), args, {}, 20000);
    EXPECT_EQ(r.exitCode, 0) << "xdotool " << args.join(QLatin1Char(' ')).toStdString() << "\n" << r;
    return r;
}

void DesktopTest::click(const QVariantMap &element) {
    // As a window manager does: the window clicked in gets the keyboard.
    ASSERT_NO_FATAL_FAILURE(focusWindow(element.value(QStringLiteral("window")).toString()));
    const QPoint at = centreOf(element);
    xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(at.x()),
        QString::number(at.y())});
    QThread::msleep(kGestureStepMs);
    xdotool({QStringLiteral("click"), QStringLiteral("1")});
}

void DesktopTest::typeText(const QString &text) {
    xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text});
}

void DesktopTest::key(const QString &keys) {
    xdotool({QStringLiteral("key"), keys});
}

void DesktopTest::focusWindow(const QString &objectName) {
    const std::optional<QVariantMap> w = window(objectName);
    ASSERT_TRUE(w.has_value()) << "no window " << objectName.toStdString();
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"),
        QString::number(w->value(QStringLiteral("id")).toULongLong())});
}

void DesktopTest::leaveAndComeBackTo(const QString &objectName) {
    const auto anyActive = [this] {
        const QList<QVariantMap> all = windows();
        return std::any_of(all.begin(), all.end(),
            [](const QVariantMap &w) { return w.value(QStringLiteral("active")).toBool(); });
    };
    // Without a window manager nothing takes the keyboard when a dialog closes, and the program
    // still counts as the active one: it must have a window active before it can leave.
    ASSERT_NO_FATAL_FAILURE(focusWindow(objectName));
    ASSERT_TRUE(waitFor(anyActive));
    // The search at depth 0 finds the root window.
    const RunResult root = xdotool({QStringLiteral("search"), QStringLiteral("--maxdepth"),
        QStringLiteral("0"), QStringLiteral("--name"), {}});
    xdotool({QStringLiteral("windowfocus"), root.outLines().value(0)});
    ASSERT_TRUE(waitFor([&] { return !anyActive(); })) << "the program keeps an active window";
    ASSERT_NO_FATAL_FAILURE(focusWindow(objectName));
}

void DesktopTest::dragFilesOnto(const QStringList &files, const QVariantMap &element) {
    // In the bottom right corner, clear of the program's windows.
    const QPoint from(1200, 720);
    BackgroundRun source(QStringLiteral(LF_DRAG_SOURCE_PATH),
        QStringList {QString::number(from.x() - 40), QString::number(from.y() - 30)} + files);
    ASSERT_TRUE(source.waitUntil([&] { return source.outSoFar().contains(QLatin1String("ready")); }, 20000))
        << source.finish(0);
    xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
        QStringLiteral("--name"), QStringLiteral("^Drag source$")});
    const QPoint to = centreOf(element);
    xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(from.x()),
        QString::number(from.y())});
    QThread::msleep(kGestureStepMs);
    xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
    QThread::msleep(kGestureStepMs);
    // Through a point on the way, then onto the target twice: the target answers each position.
    const QPoint way = (from + to) / 2;
    for (const QPoint &p : {way, to + QPoint(8, 8), to}) {
        xdotool({QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())});
        QThread::msleep(kGestureStepMs);
    }
    xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    EXPECT_TRUE(
        source.waitUntil([&] { return source.outSoFar().contains(QLatin1String("dropped 1")); }, 20000))
        << source.finish(0);
    // The target reads the files from the source after the drop.
    waitFor([this] { return !listProperty("CurrentPhotos").isEmpty(); }, 20000);
}

} // namespace lf::test
