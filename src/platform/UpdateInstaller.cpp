#include "platform/UpdateInstaller.h"

#include "BuildConfig.h"
#include "foundation/Credentials.h"
#include "foundation/Identity.h"
#include "foundation/LogCategories.h"
#include "platform/UpdatePackage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <unistd.h>

namespace lf {

namespace {

constexpr qint64 kMaxMarkerBytes = 64 * 1024;

QString normalVersion(QString version) {
    return version.trimmed().replace(QLatin1Char('a'), QLatin1Char('.'));
}

// Folders other programs share: a marker there is a mistake, never a tree of ours.
bool sharedLocation(const QString &root) {
    const QString home = QDir::homePath();
    for (const QString &shared : {QStringLiteral("/"), QStringLiteral("/usr"), QStringLiteral("/usr/local"),
             QStringLiteral("/opt"), home, home + QStringLiteral("/.local")}) {
        if (root == QDir::cleanPath(shared))
            return true;
    }
    return false;
}

} // namespace

UpdateInstaller::UpdateInstaller(QString installRoot, QString workFolder)
    : m_root(QDir::cleanPath(QFileInfo(installRoot).absoluteFilePath()))
    , m_work(QDir::cleanPath(std::move(workFolder))) { }

UpdateInstaller::~UpdateInstaller() {
    cleanWork();
}

QByteArray UpdateInstaller::trustedPublicKey() {
    return QByteArray::fromBase64(QByteArrayLiteral(LF_UPDATE_PUBLIC_KEY));
}

QString UpdateInstaller::ackPath() {
    return QDir(sandboxFolder()).filePath(QStringLiteral("update/started"));
}

void UpdateInstaller::acknowledgeRelaunch() {
    const QString path = qEnvironmentVariable(kAckVariable);
    if (path.isEmpty())
        return;
    qunsetenv(kAckVariable);
    // Only ever the one file of our cache, whatever the environment says.
    if (QDir::cleanPath(path) != ackPath())
        return;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(Credentials::clientVersion().toUtf8() + '\n');
}

QString UpdateInstaller::runningInstallRoot() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
}

QString UpdateInstaller::markerVersion(const QString &root) {
    QFile file(QDir(root).filePath(QLatin1String(kMarker)));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxMarkerBytes)
        return {};
    const QJsonObject marker = QJsonDocument::fromJson(file.readAll()).object();
    if (marker.value(QLatin1String("name")).toString() != QLatin1String(kAppName))
        return {};
    return marker.value(QLatin1String("version")).toString().trimmed();
}

InstallKind UpdateInstaller::kindOf(const QString &root) {
    const QString clean = QDir::cleanPath(root);
    if (!sharedLocation(clean) && !markerVersion(clean).isEmpty()
        && QFileInfo(clean + QStringLiteral("/bin/lanternfish")).isFile())
        return InstallKind::SelfContained;
    if (QFileInfo::exists(clean + QStringLiteral("/CMakeCache.txt")))
        return InstallKind::BuildFolder;
    if (clean == QLatin1String("/usr") || clean == QLatin1String("/"))
        return InstallKind::PackageManager;
    return InstallKind::SharedPrefix;
}

bool UpdateInstaller::parentWritable() const {
    return ::access(QFile::encodeName(QFileInfo(m_root).absolutePath()).constData(), W_OK) == 0;
}

QString UpdateInstaller::programPath() const {
    return QDir(m_root).filePath(QStringLiteral("bin/lanternfish"));
}

bool UpdateInstaller::fail(const QString &message) {
    m_error = message;
    qCWarning(lfPlatform).noquote() << "update not installed:" << message;
    return false;
}

void UpdateInstaller::cleanWork() {
    const QString unpacked = QDir(m_work).filePath(QStringLiteral("unpacked"));
    if (QFileInfo::exists(unpacked))
        QDir(unpacked).removeRecursively();
    m_prepared.clear();
}

bool UpdateInstaller::checkProgram(const QString &tree, const QString &version) {
    QProcess process;
    // The new version must answer without a display: it is asked before anything is swapped.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(tree);
    process.start(QDir(tree).filePath(QStringLiteral("bin/lanternfish")), {QStringLiteral("--version")});
    if (!process.waitForStarted())
        return fail(QStringLiteral("the new version's program does not start"));
    if (!process.waitForFinished(m_versionTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return fail(QStringLiteral("the new version's program did not answer in time"));
    }
    const QString output = QString::fromUtf8(process.readAll()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return fail(QStringLiteral("the new version's program failed: %1").arg(output.left(200)));
    const QString reported = output.section(QLatin1Char('\n'), 0, 0).section(QLatin1Char(' '), -1);
    if (normalVersion(reported) != normalVersion(version))
        return fail(
            QStringLiteral("the new program reports version %1, not %2").arg(reported.left(40), version));
    return true;
}

bool UpdateInstaller::prepare(const QString &packagePath, const QString &version, const QByteArray &signature,
    const QByteArray &publicKey) {
    m_error.clear();
    cleanWork();
    if (kind() != InstallKind::SelfContained)
        return fail(QStringLiteral("%1 is not a self-contained Lanternfish folder").arg(m_root));
    UpdatePackage package(packagePath);
    if (!package.verifySignature(signature, publicKey))
        return fail(package.error());
    const QString unpacked = QDir(m_work).filePath(QStringLiteral("unpacked"));
    if (!QDir().mkpath(unpacked))
        return fail(QStringLiteral("no room to unpack the package"));
    if (!package.extract(unpacked))
        return fail(package.error());
    const QString tree = QDir(unpacked).filePath(package.topFolder());
    if (!QFileInfo(tree).isDir() || QFileInfo(tree).isSymLink())
        return fail(QStringLiteral("the package does not hold a folder"));
    const QString marked = markerVersion(tree);
    if (marked.isEmpty())
        return fail(QStringLiteral("the package is not a Lanternfish release"));
    if (normalVersion(marked) != normalVersion(version))
        return fail(QStringLiteral("the package holds version %1, not %2").arg(marked.left(40), version));
    if (!checkProgram(tree, version))
        return false;
    m_prepared = tree;
    m_package = packagePath;
    return true;
}

bool UpdateInstaller::swap() {
    m_error.clear();
    if (m_prepared.isEmpty())
        return fail(QStringLiteral("no checked package"));
    const QString parent = QFileInfo(m_root).absolutePath();
    if (!parentWritable())
        return fail(QStringLiteral("%1 cannot be changed by this user").arg(parent));
    QTemporaryDir staging(parent + QStringLiteral("/.lanternfish-update-XXXXXX"));
    if (!staging.isValid())
        return fail(QStringLiteral("no room beside the installation"));
    const QString fresh = staging.filePath(QStringLiteral("tree"));
    if (!QDir().rename(m_prepared, fresh)) {
        // Another file system: unpack the checked package again, straight beside the tree.
        UpdatePackage package(m_package);
        if (!package.extract(staging.path()) || !QDir().rename(staging.filePath(package.topFolder()), fresh))
            return fail(QStringLiteral("the new version could not be put beside the old one"));
    }
    const QString old = QStringLiteral("%1/.%2.old-%3")
                            .arg(parent, QFileInfo(m_root).fileName())
                            .arg(QCoreApplication::applicationPid());
    if (QFileInfo::exists(old) || !QDir().rename(m_root, old))
        return fail(QStringLiteral("the installation could not be moved aside"));
    if (!QDir().rename(fresh, m_root)) {
        // Never leave the user without a program: put the old tree back.
        QDir().rename(old, m_root);
        return fail(QStringLiteral("the new version could not be put in place"));
    }
    m_old = old;
    m_prepared.clear();
    cleanWork();
    return true;
}

bool UpdateInstaller::rollback() {
    if (m_old.isEmpty())
        return false;
    const QString failed = m_old + QStringLiteral(".failed");
    if (!QDir().rename(m_root, failed) || !QDir().rename(m_old, m_root)) {
        qCWarning(lfPlatform).noquote() << "the old version could not be put back; it is at" << m_old;
        return false;
    }
    m_old.clear();
    QDir(failed).removeRecursively();
    return true;
}

void UpdateInstaller::removeOld() {
    if (!m_old.isEmpty() && !QDir(m_old).removeRecursively())
        qCInfo(lfPlatform).noquote() << "deleting old app error" << m_old;
    m_old.clear();
}

} // namespace lf
