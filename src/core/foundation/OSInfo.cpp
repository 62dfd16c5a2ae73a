#include "foundation/OSInfo.h"

#include "foundation/Credentials.h"

#include <QFile>
#include <QLocale>
#include <QMutex>
#include <QRegularExpression>
#include <QSysInfo>

namespace lf {

namespace {

QMutex g_screenMutex;
std::function<ScreenLayout()> g_screenProvider;

} // namespace

OSVersion parseOSVersion(const QString &release) {
    OSVersion v;
    static const QRegularExpression re(QStringLiteral("^\\s*(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const auto m = re.match(release);
    if (m.hasMatch()) {
        v.major = m.captured(1).toInt();
        v.minor = m.captured(2).toInt();
        v.bugFix = m.captured(3).toInt();
    }
    return v;
}

OSVersion currentOSVersion() {
    return parseOSVersion(QSysInfo::kernelVersion());
}

QString formatOSVersion(const OSVersion &v) {
    if (v.bugFix == 0)
        return QStringLiteral("%1.%2").arg(QString::number(v.major), QString::number(v.minor));
    return QStringLiteral("%1.%2.%3")
        .arg(QString::number(v.major), QString::number(v.minor), QString::number(v.bugFix));
}

QString servicePackString(const OSVersion &v) {
    static const char *const names[]
        = {"Cheetah", "Puma", "Jaguar", "Panther", "Tiger", "Leopard", "Snow Leopard", "Lion"};
    if (v.major == 10 && v.minor >= 0 && v.minor < 8)
        return QLatin1String(names[v.minor]);
    return formatOSVersion(v);
}

QString getSystemVersion() {
    return formatOSVersion(currentOSVersion());
}

int getOSMajor() {
    return currentOSVersion().major;
}

void setScreenProvider(std::function<ScreenLayout()> provider) {
    QMutexLocker lock(&g_screenMutex);
    g_screenProvider = std::move(provider);
}

QVariantMap systemMetricsFor(const ScreenLayout &layout) {
    QRect united = layout.main;
    for (const QRect &r : layout.all)
        united = united.united(r);
    return {
        {QStringLiteral("monitors"), layout.all.isEmpty() ? 1 : int(layout.all.size())},
        {QStringLiteral("screen_width"), layout.main.width()},
        {QStringLiteral("screen_height"), layout.main.height()},
        {QStringLiteral("virtual_screen_width"), united.width()},
        {QStringLiteral("virtual_screen_height"), united.height()},
    };
}

QVariantMap getSystemMetrics() {
    std::function<ScreenLayout()> provider;
    {
        QMutexLocker lock(&g_screenMutex);
        provider = g_screenProvider;
    }
    return systemMetricsFor(provider ? provider() : ScreenLayout {});
}

QString machineModel() {
    QFile f(QStringLiteral("/sys/class/dmi/id/product_name"));
    if (f.open(QIODevice::ReadOnly)) {
        const QString name = QString::fromUtf8(f.read(256)).trimmed();
        if (!name.isEmpty())
            return name;
    }
    return QSysInfo::currentCpuArchitecture();
}

QString localeName() {
    return QLocale::system().name().replace(QLatin1Char('_'), QLatin1Char('-'));
}

QVariantMap clientInfoFor(const OSVersion &version, const QVariantMap &systemMetrics) {
    return {
        {QStringLiteral("machine_type"), QStringLiteral("desktop")},
        {QStringLiteral("machine_type_enhanced"), machineModel()},
        {QStringLiteral("os"), QLatin1String(kPlatformWord)},
        {QStringLiteral("client_version"), Credentials::clientVersion()},
        {QStringLiteral("os_version"), formatOSVersion(version)},
        {QStringLiteral("os_version_enhanced"),
            QVariantMap {
                {QStringLiteral("major_version"), version.major},
                {QStringLiteral("minor_version"), version.minor},
                {QStringLiteral("build_number"), version.bugFix},
                {QStringLiteral("service_pack_string"), servicePackString(version)},
            }},
        {QStringLiteral("locale"), QVariantMap {{QStringLiteral("locale_name"), localeName()}}},
        {QStringLiteral("system_metrics"), systemMetrics},
    };
}

QVariantMap getClientInfo() {
    return clientInfoFor(currentOSVersion(), getSystemMetrics());
}

} // namespace lf
