// lanternfish-sample-photos DIR: writes the demo photos into DIR and prints their paths.
#include "support/SamplePhotos.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2 || args[1].startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr, "usage: lanternfish-sample-photos DIR\n");
        return 2;
    }
    QString error;
    const QStringList paths = lf::test::writeSamplePhotos(args[1], &error);
    if (paths.isEmpty()) {
        std::fprintf(stderr, "lanternfish-sample-photos: %s\n", qPrintable(error));
        return 1;
    }
    for (const QString &path : paths)
        std::printf("%s\n", qPrintable(path));
    return 0;
}
