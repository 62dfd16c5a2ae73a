// lanternfish-toolkit-gallery [--screenshot FILE]: the interface toolkit on one window. With
// --screenshot it writes the window (balloon included) to FILE as PNG and quits.

#include "Gallery.h"

#include "toolkit/Artwork.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lanternfish toolkit gallery"));
    QApplication::setWindowIcon(lf::Artwork::applicationIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows the Lanternfish interface toolkit."));
    parser.addHelpOption();
    const QCommandLineOption shot(QStringLiteral("screenshot"),
        QStringLiteral("Write the window to FILE and quit."), QStringLiteral("FILE"));
    parser.addOption(shot);
    parser.process(app);

    lf::Gallery gallery;
    gallery.show();
    QTimer::singleShot(150, &gallery, [&gallery] { gallery.showBalloon(); });

    if (parser.isSet(shot)) {
        const QString file = parser.value(shot);
        QTimer::singleShot(900, &gallery, [&gallery, file] {
            const bool ok = gallery.snapshot().save(file, "PNG");
            if (!ok)
                std::fprintf(stderr, "lanternfish-toolkit-gallery: cannot write %s\n", qPrintable(file));
            QCoreApplication::exit(ok ? 0 : 1);
        });
    }
    return app.exec();
}
