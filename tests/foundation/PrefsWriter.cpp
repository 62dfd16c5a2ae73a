// Writes preference keys from a separate process: prefs_writer PREFIX COUNT
// Keys are PREFIX0 .. PREFIX{COUNT-1}, each with its index as value.
#include "foundation/Prefs.h"

#include <QCoreApplication>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
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
