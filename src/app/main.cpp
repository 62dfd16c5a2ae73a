// lanternfish: the desktop program.
#include "foundation/Credentials.h"
#include "foundation/LogCategories.h"
#include "platform/CrashReports.h"
#include "platform/DesktopBus.h"
#include "platform/InspectionAdaptor.h"
#include "platform/ProcessEnd.h"
#include "session/Service.h"
#include "shell/DesktopProgram.h"
#include "shell/Inspection.h"
#include "shell/Scripting.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv) {
    lf::DesktopProgram::prepareApplication();
    QApplication app(argc, argv);
    lf::DesktopProgram::nameApplication();
    lf::CrashReports::installHandler(lf::Credentials::clientVersion());

    // One program per user: a second start hands its files and URLs to the first and ends.
    lf::DesktopBus bus;
    switch (bus.start(app.arguments().mid(1))) {
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
