#include "support/TempHome.h"

#include "foundation/Keyring.h"
#include "foundation/Log.h"
#include "foundation/Prefs.h"

#include <QDir>

namespace lf::test {

TempHome::TempHome() {
    const QString root = m_dir.path();
    qputenv("HOME", QFile::encodeName(root));
    const std::pair<const char *, const char *> xdg[] = {
        {"XDG_CONFIG_HOME", ".config"},
        {"XDG_CACHE_HOME", ".cache"},
        {"XDG_DATA_HOME", ".local/share"},
        {"XDG_STATE_HOME", ".local/state"},
    };
    for (const auto &[var, sub] : xdg) {
        const QString p = QDir(root).filePath(QLatin1String(sub));
        QDir().mkpath(p);
        qputenv(var, QFile::encodeName(p));
    }
    // Nor the keyring of whoever runs the tests: a test that wants one starts its own (PrivateBus).
    qputenv(Keyring::kNoKeyringVariable, "1");
    Prefs::reloadLocation();
    resetLogStateForTesting();
}

TempHome::~TempHome() {
    Prefs::reloadLocation();
    resetLogStateForTesting();
}

} // namespace lf::test
