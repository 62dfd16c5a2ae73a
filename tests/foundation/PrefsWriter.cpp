// Writes preference keys from a separate process: prefs_writer PREFIX COUNT
// Keys are PREFIX0 .. PREFIX{COUNT-1}, each with its index as value.
// prefs_writer --client-id START-FILE prints the installation identifier (made when there is
// none), asked for as soon as START-FILE exists.
#include "foundation/Identity.h"
#include "foundation/Prefs.h"

#include <cstdio>

#include <QCoreApplication>
#include <QFile>
#include <QThread>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--client-id") {
        while (!QFile::exists(QString::fromLocal8Bit(argv[2])))
            QThread::usleep(200);
        std::puts(lf::getClientID().toLatin1().constData());
        return 0;
    }
    if (argc < 3)
        return 2;
    const QString prefix = QString::fromLocal8Bit(argv[1]);
    const int count = QString::fromLocal8Bit(argv[2]).toInt();
    for (int i = 0; i < count; ++i) {
        if (!lf::Prefs::setIntPref(i, prefix + QString::number(i)))
            return 1;
    }
    return 0;
}
