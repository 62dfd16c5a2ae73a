// lanternfish: the desktop program.
#include "foundation/Credentials.h"
#include "foundation/LogCategories.h"
#include "platform/CrashReports.h"
#include "platform/DesktopBus.h"
#include "platform/InspectionAdaptor.h"
#include "platform/ProcessEnd.h"
#include "platform/UpdateInstaller.h"
#include "session/Service.h"
#include "shell/DesktopProgram.h"
#include "shell/Inspection.h"
#include "shell/Scripting.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

constexpr const char *kUsage = "Usage: lanternfish [OPTION]... [FILE|lanternfish:URL]...\n"
                               "Share photos with Lanternfish.\n\n"
                               "  -h, --help     show this help and exit\n"
                               "      --version  print the version and exit\n"
                               "  --             everything after it is a file\n\n"
                               "The standard Qt options (such as -platform NAME) are accepted as well.\n";

// Qt's own options, which QApplication takes from the command line; those in the first list
// take a value.
bool qtOption(const char *name, bool *takesValue) {
    static const char *const withValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
        "qwindowgeometry", "qwindowicon", "qwindowtitle", "session", "display", "geometry", "style",
        "stylesheet", "name", "title", "visual", "im", "inputstyle"};
    static const char *const alone[]
        = {"reverse", "nograb", "dograb", "sync", "widgetcount", "testability", "cmap", "qmljsdebugger"};
    const char *bare = name + (name[1] == '-' ? 2 : 1);
    const char *equals = std::strchr(bare, '=');
    const size_t length = equals ? size_t(equals - bare) : std::strlen(bare);
    for (const char *option : withValue) {
        if (std::strlen(option) == length && std::strncmp(option, bare, length) == 0) {
            *takesValue = !equals;
            return true;
        }
    }
    for (const char *option : alone) {
        if (std::strlen(option) == length && std::strncmp(option, bare, length) == 0) {
            *takesValue = false;
            return true;
        }
    }
    return false;
}

// Answers --version and --help, and refuses unknown options, before anything needs a display.
// An exit status when the program should end at once.
std::optional<int> handleOptions(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--") == 0)
            break;
        if (arg[0] != '-' || arg[1] == '\0')
            continue;
        if (std::strcmp(arg, "--version") == 0) {
            std::printf("lanternfish %s\n", qPrintable(lf::Credentials::clientVersion()));
            return 0;
        }
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        bool takesValue = false;
        if (!qtOption(arg, &takesValue)) {
            std::fprintf(stderr, "lanternfish: unknown option %s\n%s", arg, kUsage);
            return 2;
        }
        if (takesValue)
            ++i;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char **argv) {
    if (const std::optional<int> status = handleOptions(argc, argv))
        return *status;
    lf::DesktopProgram::prepareApplication();
    QApplication app(argc, argv);
    lf::DesktopProgram::nameApplication();
    lf::CrashReports::installHandler(lf::Credentials::clientVersion());

    // One program per user: a second start hands its files and URLs to the first and ends.
    lf::DesktopBus bus;
    QStringList arguments = app.arguments().mid(1);
    arguments.removeOne(QStringLiteral("--"));
    switch (bus.start(arguments)) {
    case lf::DesktopBus::Start::HandedOver:
        return 0;
    case lf::DesktopBus::Start::Failed:
        std::fprintf(stderr, "lanternfish: %s\n", qPrintable(bus.error()));
        return 1;
    case lf::DesktopBus::Start::Alone:
        qCInfo(lfUi) << "not on the session bus: files handed to a second start open a second window";
        break;
    case lf::DesktopBus::Start::Primary:
        break;
    }

    lf::DesktopProgram program;
    lf::MacClientAppDelegate &delegate = program.delegate();
    bus.setScriptingBackend(std::make_shared<lf::Scripting>(lf::Service::currentService(),
        lf::Scripting::State {[&delegate] { return delegate.authenticated(); },
            [&delegate] { return delegate.checkIfSharing(); }}));
    if (qEnvironmentVariableIntValue(lf::kInspectionVariable) == 1)
        bus.addInspection(std::make_shared<lf::Inspection>());
    // The session ending (SIGTERM) leaves as Quit does, without the question.
    lf::ProcessEnd::install([&delegate] { delegate.endProgram(); });
    program.launch();
    // Started by the updater of the version before: it waits for this word before it goes.
    lf::UpdateInstaller::acknowledgeRelaunch();
    // The command line's files and URLs arrive here too, once the window is up.
    bus.setReceiver({[&delegate](const QStringList &files) { delegate.openFiles(files); },
        [&delegate](const QString &url) { delegate.getUrl(url); }, [&delegate] { delegate.activate(); },
        [&delegate](const QString &action) {
            delegate.activate();
            if (action == QLatin1String(lf::kActionSettings))
                delegate.doPreferences();
        }});
    const int status = QApplication::exec();
    // The scripting layer asks the delegate; it must not outlive it.
    bus.setScriptingBackend(nullptr);
    return program.finish(status);
}
