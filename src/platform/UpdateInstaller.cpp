#include "platform/UpdateInstaller.h"

#include "foundation/LogCategories.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <unistd.h>

namespace lf {

namespace {

constexpr const char *kOldCopySuffix = ".LF_COPY";
constexpr int kToolTimeoutMs = 10 * 60 * 1000;

// The one folder a package unpacked to, or empty when it holds anything else.
QString singleTopFolder(const QString &dir) {
    const QFileInfoList entries
        = QDir(dir).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    if (entries.size() != 1 || !entries.first().isDir() || entries.first().isSymLink())
        return {};
    return entries.first().absoluteFilePath();
}

} // namespace

UpdateInstaller::UpdateInstaller(QString installRoot)
    : m_root(QDir::cleanPath(std::move(installRoot)))
    , m_privileged([](const QString &program, const QStringList &arguments) {
        return runAndWait(QStringLiteral("pkexec"), QStringList {program} + arguments);
    }) { }

QString UpdateInstaller::runningInstallRoot() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
}

bool UpdateInstaller::userWritable() const {
    const QString parent = QFileInfo(m_root).absolutePath();
    return ::access(QFile::encodeName(parent).constData(), W_OK) == 0
        && ::access(QFile::encodeName(m_root).constData(), W_OK) == 0;
}

QString UpdateInstaller::programPath() const {
    return QDir(m_root).filePath(QStringLiteral("bin/lanternfish"));
}

int UpdateInstaller::runAndWait(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted())
        return -1;
    process.waitForFinished(kToolTimeoutMs);
    for (const QByteArray &line : process.readAll().split('\n')) {
        if (!line.isEmpty())
            qCInfo(lfPlatform).noquote() << "output:" << QString::fromLocal8Bit(line);
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

bool UpdateInstaller::fail(const QString &message) {
    m_error = message;
    qCWarning(lfPlatform).noquote() << "update not installed:" << message;
    return false;
}

bool UpdateInstaller::unpack(const QString &packagePath, const QString &into, QString *tree) {
    // --no-same-owner and no absolute names: whatever the package says, it lands inside `into`.
    const int status = runAndWait(QStringLiteral("tar"),
        {QStringLiteral("-xzf"), packagePath, QStringLiteral("-C"), into, QStringLiteral("--no-same-owner"),
            QStringLiteral("--no-same-permissions")});
    if (status != 0)
        return fail(QStringLiteral("the package could not be unpacked"));
    *tree = singleTopFolder(into);
    if (tree->isEmpty())
        return fail(QStringLiteral("the package does not hold one program folder"));
    return true;
}

bool UpdateInstaller::install(const QString &packagePath) {
    m_error.clear();
    struct RemovePackage {
        QString path;
        ~RemovePackage() {
            if (!QFile::remove(path))
                qCInfo(lfPlatform) << "deleting package error" << path;
        }
    } removePackage {packagePath};
    if (!QFileInfo(m_root).isDir())
        return fail(QStringLiteral("the installation folder is missing"));

    const bool asUser = userWritable();
    // Unpacked beside the installation, so the swap is a rename on one file system.
    QTemporaryDir staging((asUser ? QFileInfo(m_root).absolutePath() : QDir::tempPath())
        + QStringLiteral("/.lanternfish-update-XXXXXX"));
    if (!staging.isValid())
        return fail(QStringLiteral("no room to unpack the package"));
    QString fresh;
    if (!unpack(packagePath, staging.path(), &fresh))
        return false;
    return asUser ? swapAsUser(fresh) : swapPrivileged(fresh);
}

bool UpdateInstaller::swapAsUser(const QString &fresh) {
    const QString old = m_root + QLatin1String(kOldCopySuffix);
    // A copy left by an interrupted update: the installation itself is whole, so it can go.
    if (QFileInfo::exists(old) && !QDir(old).removeRecursively())
        return fail(QStringLiteral("an old copy is in the way: %1").arg(old));
    if (!QDir().rename(m_root, old))
        return fail(QStringLiteral("the installation could not be moved aside"));
    if (!QDir().rename(fresh, m_root)) {
        // Never leave the user without a program: put the old tree back.
        QDir().rename(old, m_root);
        return fail(QStringLiteral("the new version could not be put in place"));
    }
    if (!QDir(old).removeRecursively())
        qCInfo(lfPlatform) << "deleting old app error" << old;
    return true;
}

bool UpdateInstaller::swapPrivileged(const QString &fresh) {
    const QString old = m_root + QLatin1String(kOldCopySuffix);
    // One authorization for the whole swap; the paths travel as arguments, never inside the script.
    const QString script = QStringLiteral(
        "rm -rf -- \"$2\" && mv -- \"$1\" \"$2\" && if cp -a -- \"$3\" \"$1\"; then rm -rf -- \"$2\"; "
        "else rm -rf -- \"$1\"; mv -- \"$2\" \"$1\"; exit 1; fi");
    const int status = m_privileged(QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), script, QStringLiteral("lanternfish-update"), m_root, old, fresh});
    if (status != 0)
        return fail(QStringLiteral("the administrator's swap failed or was refused"));
    return true;
}

} // namespace lf
