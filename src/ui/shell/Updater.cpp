#include "shell/Updater.h"

#include "shell/MainWindow.h"
#include "shell/StandardAlert.h"

#include "api/APIResult.h"
#include "api/HttpTransport.h"
#include "api/ServiceAPI.h"
#include "foundation/Clock.h"
#include "foundation/Credentials.h"
#include "foundation/Identity.h"
#include "foundation/LogCategories.h"
#include "foundation/MainThread.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "platform/DesktopBus.h"
#include "platform/UpdateInstaller.h"
#include "session/Service.h"
#include "session/SiteResources.h"
#include "toolkit/ClockTimer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

#include <csignal>
#include <unistd.h>

namespace lf {

namespace {

constexpr const char *kPackageFileName = "lanternfish-update.tar.gz";
constexpr qint64 kProgressStepBytes = 256 * 1024;

// The server names packages by URL and icons by path, with or without the leading slash.
QString serviceUrl(const QString &uri) {
    const bool path = !uri.startsWith(QLatin1String("http")) && !uri.startsWith(QLatin1Char('/'));
    return SiteResources::resolveServiceURL(path ? QLatin1Char('/') + uri : uri);
}

// Every alert of the updater names what it is about in its title bar, where the window list shows it.
int runUpdateAlert(StandardAlert alert) {
    alert.title = localizedString("[UpdateTitle]");
    return runStandardAlert(alert);
}

bool hasLetter(const QString &text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isLetter(); });
}

// Downloads `url` into `path` (through a temporary file, so a broken download leaves nothing
// that looks whole). On a worker; `progress` gets the bytes so far.
bool download(
    const QString &url, const QString &path, const std::function<void(qint64)> &progress, QString *error) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("cannot create %1").arg(QFileInfo(path).absolutePath());
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    qint64 received = 0;
    qint64 reported = 0;
    bool tooLarge = false;
    SendOptions options;
    options.cancelled = [] { return Workers::cancelled(); };
    options.bodySink = [&](const char *data, qint64 size) {
        received += size;
        if (received > Updater::kMaxPackageBytes) {
            tooLarge = true;
            return false;
        }
        if (file.write(data, size) != size)
            return false;
        if (progress && received - reported >= kProgressStepBytes) {
            reported = received;
            progress(received);
        }
        return true;
    };
    HttpRequest request;
    request.url = url;
    const HttpResponse response = HttpTransport::shared().send(request, options);
    if (response.status != 200) {
        file.cancelWriting();
        *error = tooLarge     ? QStringLiteral("the package is too large")
            : response.status ? QStringLiteral("HTTP %1").arg(response.status)
                              : response.errorText;
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

constexpr int kSignatureBytes = 64;

// The new version starts while this one still runs, so that this one can put itself back when
// the new one does not answer; it gives up the bus name first, or the new one would hand itself
// over to it and end.
qint64 relaunchProgram(const QString &program) {
    QDBusConnection::sessionBus().unregisterService(QLatin1String(kBusName));
    QProcess process;
    process.setProgram(program);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(UpdateInstaller::kAckVariable), UpdateInstaller::ackPath());
    process.setProcessEnvironment(environment);
    qint64 pid = 0;
    return process.startDetached(&pid) ? pid : 0;
}

// The package comes over https when the server speaks it, like the check.
QString packageUrl(const QString &uri) {
    if (!uri.startsWith(QLatin1String("http")))
        return ServiceAPI::secureURL(uri.startsWith(QLatin1Char('/')) ? uri : QLatin1Char('/') + uri);
    QUrl url(uri);
    if (url.scheme() == QLatin1String("http") && ServiceAPI::currentServer().secure()
        && url.host() == ServiceAPI::currentServer().host) {
        url.setScheme(QStringLiteral("https"));
        url.setPort(-1);
    }
    return url.toString();
}

} // namespace

int CompareVersion(const QString &a, const QString &b) {
    if (hasLetter(a) != hasLetter(b))
        return 1;
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            // By value, however long: skip leading zeros, then the longer run is the larger.
            QStringView da = QStringView(a).mid(i, ei - i), db = QStringView(b).mid(j, ej - j);
            while (da.size() > 1 && da.front() == QLatin1Char('0'))
                da = da.mid(1);
            while (db.size() > 1 && db.front() == QLatin1Char('0'))
                db = db.mid(1);
            if (da.size() != db.size())
                return da.size() < db.size() ? -1 : 1;
            if (const int c = da.compare(db); c != 0)
                return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i].unicode() < b[j].unicode() ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

bool md5Matches(const QString &path, const QString &expected) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file))
        return false;
    return QString::fromLatin1(hash.result().toHex()) == expected;
}

Updater::Updater(MacClientAppDelegate &delegate, std::shared_ptr<Service> service, Hooks hooks,
    QString installRoot, QByteArray publicKey, QObject *parent)
    : QObject(parent)
    , m_delegate(delegate)
    , m_service(std::move(service))
    , m_hooks(std::move(hooks))
    , m_installRoot(installRoot.isEmpty() ? UpdateInstaller::runningInstallRoot() : std::move(installRoot))
    , m_publicKey(publicKey.isEmpty() ? UpdateInstaller::trustedPublicKey() : std::move(publicKey)) {
    if (!m_hooks.relaunch)
        m_hooks.relaunch = relaunchProgram;
    if (!m_hooks.relaunchFailed)
        m_hooks.relaunchFailed
            = [] { QDBusConnection::sessionBus().registerService(QLatin1String(kBusName)); };
    if (!m_hooks.quit)
        // As Quit does, without the question whether to stop a share being sent: the share is
        // stored on the way out and goes on in the new version.
        m_hooks.quit = [] { QCoreApplication::exit(0); };
    m_checkTimer = new ClockTimer(this);
    connect(m_checkTimer, &ClockTimer::timeout, this, [this] { checkForUpdate(true); });
    m_iconTimer = new ClockTimer(this);
    connect(m_iconTimer, &ClockTimer::timeout, this, [this] { checkIcons(true); });
    m_answerTimer = new ClockTimer(this);
    connect(m_answerTimer, &ClockTimer::timeout, this, &Updater::pollAnswer);
}

Updater::~Updater() {
    *m_alive = false;
}

void Updater::checkForUpdate(std::function<void(bool updating)> done) {
    checkForUpdate(false, std::move(done));
}

void Updater::checkForUpdate(bool repeat, std::function<void(bool updating)> done) {
    // One check, one offer and one installation at a time: a timer that fires meanwhile adds none.
    if (m_checking || m_offerUp || m_installing) {
        if (done)
            done(m_installing);
        return;
    }
    m_checking = true;
    auto alive = m_alive;
    auto service = m_service;
    const bool started
        = Workers::instance().start(QStringLiteral("update check"), [this, alive, service, repeat, done] {
              const APIResult answer = service->checkForUpdate();
              runOnMainThread([this, alive, answer, repeat, done] {
                  if (*alive)
                      checkAnswered(answer, repeat, done);
              });
          });
    if (!started) {
        m_checking = false;
        if (done)
            done(false);
    }
}

void Updater::checkAnswered(const APIResult &answer, bool repeat, const std::function<void(bool)> &done) {
    m_checking = false;
    bool updating = false;
    if (answer.isError()) {
        const int status = answer.httpStatus();
        if (status != 404)
            m_delegate.checkNetError(answer, QStringLiteral("Network"));
        // Offline: the network balloon signs in when the network is back.
        if (status == NetError::NotConnected) {
            emit checked(true);
            if (done)
                done(true);
            return;
        }
    } else {
        const QString own = Credentials::clientVersion();
        const QString server
            = answer.value(QStringLiteral("version")).toString().replace(QLatin1Char('a'), QLatin1Char('.'));
        if (CompareVersion(own, server) == -1)
            updating = offer(answer.toMap(), server);
        if (answer.toMap().contains(QStringLiteral("icons"))) {
            m_icons = answer.value(QStringLiteral("icons")).toList();
            checkIcons(true);
            scheduleIcons();
        } else {
            qCInfo(lfUi) << "no icon love yet";
        }
    }
    if (!repeat && !m_checkTimer->isActive())
        m_checkTimer->start(kCheckIntervalMs);
    m_delegate.setUpdating(updating);
    emit checked(updating);
    if (done)
        done(updating);
}

bool Updater::offer(const QVariantMap &answer, const QString &version) {
    m_mandatory = CompareVersion(
                      Credentials::clientVersion(), answer.value(QStringLiteral("compat_version")).toString())
        == -1;
    m_version = version;
    m_updateMD5 = answer.value(QStringLiteral("md5_hash")).toString();
    m_updateUri = answer.value(QStringLiteral("uri")).toString();
    m_signature = QByteArray::fromBase64(answer.value(QStringLiteral("signature")).toString().toLatin1());
    const QString advice = installAdvice();
    struct OfferUp {
        bool &flag;
        ~OfferUp() { flag = false; }
    } up {m_offerUp = true};
    if (!advice.isEmpty()) {
        // Nothing here is changed: say how this installation is updated.
        if (m_mandatory) {
            runUpdateAlert(
                {localizedString("[mandatory]"), advice, {localizedString("[Quit]")}, m_delegate.window()});
            m_hooks.quit();
            return true;
        }
        runUpdateAlert({localizedFormat(QStringLiteral("[updateAvailable]"), {version}), advice,
            {localizedString("[OK]")}, m_delegate.window()});
        return false;
    }
    if (m_mandatory) {
        m_delegate.beginProgressSheet(localizedString("[mandatory]"));
        doUpdate();
        return true;
    }
    const int choice = runUpdateAlert({localizedString("[update]"),
        localizedFormat(QStringLiteral("[updateblurb]"),
            {version, answer.value(QStringLiteral("release_date")).toString()}),
        {localizedString("[updaterestart]"), localizedString("[later]")}, m_delegate.window()});
    if (choice != StandardAlert::Default)
        return false;
    m_delegate.beginProgressSheet(localizedString("[updating]"));
    doUpdate();
    return true;
}

QString Updater::installAdvice() const {
    switch (UpdateInstaller::kindOf(m_installRoot)) {
    case InstallKind::PackageManager:
        return localizedString("[updateAdvicePackage]");
    case InstallKind::BuildFolder:
        return localizedString("[updateAdviceBuild]");
    case InstallKind::SharedPrefix:
        return localizedFormat(QStringLiteral("[updateAdvicePrefix]"), {m_installRoot});
    case InstallKind::SelfContained:
        break;
    }
    const QString parent = QFileInfo(m_installRoot).absolutePath();
    if (::access(QFile::encodeName(parent).constData(), W_OK) != 0)
        return localizedFormat(QStringLiteral("[updateAdviceReadOnly]"), {parent});
    if (m_signature.size() != kSignatureBytes)
        return localizedString("[updateAdviceUnsigned]");
    return {};
}

void Updater::doUpdate() {
    if (m_installing)
        return;
    m_installing = true;
    const QString work = QDir(sandboxFolder()).filePath(QStringLiteral("update"));
    m_updatePath = QDir(work).filePath(QLatin1String(kPackageFileName));
    m_installer = std::make_shared<UpdateInstaller>(m_installRoot, work);
    if (m_versionTimeoutMs > 0)
        m_installer->setVersionTimeoutMs(m_versionTimeoutMs);
    auto installer = m_installer;
    auto alive = m_alive;
    const QString url = packageUrl(m_updateUri);
    const QString path = m_updatePath;
    const QString md5 = m_updateMD5;
    const QString version = m_version;
    const QByteArray signature = m_signature;
    const QByteArray key = m_publicKey;
    auto say = [this, alive](const QString &text) {
        runOnMainThread([this, alive, text] {
            if (*alive)
                m_delegate.setProgressSheetText(text);
        });
    };
    const bool started = Workers::instance().start(QStringLiteral("update install"), [=, this] {
        QString error;
        bool ok = download(
            url, path,
            [say](qint64 bytes) {
                say(localizedFormat(QStringLiteral("[downloadingNofM]"),
                    {QLocale().toString(double(bytes) / (1024 * 1024), 'f', 1)}));
            },
            &error);
        if (ok) {
            say(localizedString("[checkingMD5]"));
            ok = md5Matches(path, md5);
            if (!ok)
                error = QStringLiteral("the download's digest does not match");
        }
        if (ok) {
            say(localizedString("[mountingdmg]"));
            ok = installer->prepare(path, version, signature, key);
            if (ok) {
                say(localizedString("[copyingapp]"));
                ok = installer->swap();
            }
            if (!ok)
                error = installer->error();
        }
        QFile::remove(path);
        runOnMainThread([this, alive, ok, error] {
            if (*alive)
                prepared(ok, error);
        });
    });
    if (!started)
        prepared(false, QStringLiteral("the program is ending"));
}

void Updater::prepared(bool ok, const QString &error) {
    emit installEnded(ok);
    if (!ok) {
        qCWarning(lfUi).noquote() << "update not installed:" << error;
        m_installing = false;
        m_installer.reset();
        failureDuringUpdate(error);
        return;
    }
    m_delegate.setProgressSheetText(localizedString("[cleanup]"));
    waitForAnswer();
}

void Updater::waitForAnswer() {
    QFile::remove(UpdateInstaller::ackPath());
    m_newPid = m_hooks.relaunch(m_installer->programPath());
    m_answerDeadlineMs = Clock::instance().monotonicMs() + kAnswerTimeoutMs;
    m_answerTimer->start(kAnswerPollMs);
    pollAnswer();
}

void Updater::pollAnswer() {
    QFile ack(UpdateInstaller::ackPath());
    if (ack.open(QIODevice::ReadOnly)
        && QString::fromUtf8(ack.readAll()).trimmed().replace(QLatin1Char('a'), QLatin1Char('.'))
            == m_version) {
        ack.close();
        ack.remove();
        m_answerTimer->stop();
        finishUpdate();
        return;
    }
    const bool gone = m_newPid <= 0 || ::kill(pid_t(m_newPid), 0) != 0;
    if (!gone && Clock::instance().monotonicMs() < m_answerDeadlineMs)
        return;
    m_answerTimer->stop();
    if (m_newPid > 0 && !gone)
        ::kill(pid_t(m_newPid), SIGTERM);
    m_newPid = 0;
    const bool restored = m_installer->rollback();
    m_hooks.relaunchFailed();
    m_installer.reset();
    m_installing = false;
    failureDuringUpdate(restored
            ? QStringLiteral("the new version did not start; this version is back in place")
            : QStringLiteral("the new version did not start"));
}

void Updater::finishUpdate() {
    // The new version runs: this one's tree can go, and so can this process.
    m_installer->removeOld();
    m_installer.reset();
    m_delegate.endProgressSheet();
    m_hooks.quit();
}

void Updater::failureDuringUpdate(const QString &reason) {
    // The sheet would otherwise stay over the window for good after an optional update failed.
    m_delegate.endProgressSheet();
    runUpdateAlert({localizedString(m_mandatory ? "[mandatoryfailed]" : "[updatefailed]"), reason,
        {localizedString("[OK]")}, m_delegate.window()});
    if (m_mandatory) {
        m_hooks.quit();
        return;
    }
    // Start-up skipped the sign-in while the update was under way; it goes on with this version.
    m_delegate.setUpdating(false);
    if (!m_delegate.authenticated() && !m_delegate.authenticating())
        m_delegate.authenticate();
}

void Updater::scheduleIcons() {
    m_iconTimer->stop();
    m_iconTimer->start(kIconIntervalMs);
}

void Updater::checkIcons(bool fromTimer) {
    // An icon that failed is tried again at the next timed check, not at every tray refresh.
    if (fromTimer)
        m_failedIcons.clear();
    const QString today
        = QLocale().toString(Clock::instance().now().toLocalTime().date(), QLocale::ShortFormat);
    for (const QVariant &entry : std::as_const(m_icons)) {
        const QVariantMap icon = entry.toMap();
        if (icon.value(QStringLiteral("dates")).toStringList().contains(today)) {
            requestIcon(icon.value(QStringLiteral("uri")).toString());
            return;
        }
    }
    if (m_hooks.clearDockIcon)
        m_hooks.clearDockIcon();
    m_iconPath.clear();
}

QString Updater::imageDest(const QString &uri) {
    const QString name = QUrl(uri).path().section(QLatin1Char('/'), -1);
    // A name from the server: one plain file name inside the folder, nothing else.
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")
        || name.contains(QLatin1Char('\\')))
        return {};
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Lanternfish/misc/") + name;
}

void Updater::requestIcon(const QString &uri) {
    const QString dest = imageDest(uri);
    if (dest.isEmpty() || dest == m_iconPath || m_failedIcons.contains(dest))
        return;
    if (QFileInfo::exists(dest)) {
        m_iconPath = dest;
        if (m_hooks.setDockIcon)
            m_hooks.setDockIcon(dest);
        return;
    }
    // One icon download at a time; the next check asks again.
    if (m_iconDownloading)
        return;
    m_iconPath = dest;
    m_iconDownloading = true;
    const QString url = serviceUrl(uri);
    auto alive = m_alive;
    Workers::instance().start(QStringLiteral("dated icon"), [this, alive, url, dest] {
        QString error;
        const bool ok = download(url, dest, {}, &error);
        runOnMainThread([this, alive, dest, ok] {
            if (*alive)
                iconDownloaded(dest, ok);
        });
    });
}

void Updater::iconDownloaded(const QString &path, bool ok) {
    m_iconDownloading = false;
    if (!ok) {
        m_failedIcons.insert(path);
        if (m_iconPath == path)
            m_iconPath.clear();
        return;
    }
    if (m_iconPath == path && m_hooks.setDockIcon)
        m_hooks.setDockIcon(path);
}

} // namespace lf
