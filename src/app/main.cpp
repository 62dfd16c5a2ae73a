// lanternfish: the desktop program.
#include "shell/MacClientAppDelegate.h"

#include "foundation/Prefs.h"
#include "toolkit/Artwork.h"

#include <QApplication>

int main(int argc, char **argv) {
    // Web views (the welcome page) share their GL contexts with the widgets.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Lanternfish"));
    QCoreApplication::setApplicationName(QStringLiteral("lanternfish"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Lanternfish"));
    QGuiApplication::setDesktopFileName(QLatin1String(lf::Artwork::kApplicationIconName));
    QApplication::setWindowIcon(lf::Artwork::applicationIcon());
    // Closing the main window asks the delegate (shares may be uploading); other windows never quit.
    QApplication::setQuitOnLastWindowClosed(false);

    lf::MacClientAppDelegate delegate;
    // Desktop integration starts here, before launching finishes: the D-Bus layer takes the name
    // com.Lanternfish.MacClient (or hands the arguments to the program that holds it and exits),
    // then calls delegate.open(), activate(), authenticated() and checkIfSharing().
    delegate.applicationDidFinishLaunching();
    const QStringList handedIn = app.arguments().mid(1);
    if (!handedIn.isEmpty())
        delegate.open(handedIn);
    return QApplication::exec();
}
