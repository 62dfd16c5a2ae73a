#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace lf {

// System version numbers; each is 0 when it cannot be read.
struct OSVersion {
    int major = 0;
    int minor = 0;
    int bugFix = 0;
};

// The running kernel's release ("6.1.0-18-amd64" gives 6, 1, 0): every Linux system has one,
// and it is what the service's version fields can hold as numbers.
OSVersion currentOSVersion();
OSVersion parseOSVersion(const QString &release);

// "major.minor.bugfix", or "major.minor" when the bug-fix number is 0.
QString formatOSVersion(const OSVersion &v);
// The release name for 10.0 to 10.7, the version text otherwise.
QString servicePackString(const OSVersion &v);

QString getSystemVersion();
int getOSMajor();

// The screens as the interface sees them: the main screen's frame first, then every screen.
struct ScreenLayout {
    QRect main;
    QList<QRect> all;
};
// The interface installs a provider; without one (headless) there is one screen of size 0.
void setScreenProvider(std::function<ScreenLayout()> provider);
QVariantMap systemMetricsFor(const ScreenLayout &layout);
QVariantMap getSystemMetrics();

// The hardware model: the DMI product name when readable, else the machine architecture.
QString machineModel();

// "en_US" -> "en-US".
QString localeName();

// The whole client_info record, built anew at every call.
QVariantMap getClientInfo();
QVariantMap clientInfoFor(const OSVersion &version, const QVariantMap &systemMetrics);

// The word that names this platform on the wire ("os", update path, crash-log type).
inline constexpr const char *kPlatformWord = "linux";

} // namespace lf
