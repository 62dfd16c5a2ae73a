#include "shell/Updater.h"

#include "shell/MainWindow.h"
#include "shell/StandardAlert.h"

#include "api/APIResult.h"
#include "api/HttpTransport.h"
#include "foundation/Clock.h"
#include "foundation/Credentials.h"
#include "foundation/Identity.h"
#include "foundation/LogCategories.h"
#include "foundation/MainThread.h"
#include "foundation/Strings.h"
#include "foundation/Workers.h"
#include "platform/UpdateInstaller.h"
#include "session/Service.h"
#include "session/SiteResources.h"
#include "toolkit/ClockTimer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

namespace lf {

namespace {

constexpr const char *kPackageFileName = "lanternfish-update.tar.gz";
constexpr qint64 kProgressStepBytes = 256 * 1024;

// The server names packages by URL and icons by path, with or without the leading slash.
QString serviceUrl(const QString &uri) {
    const bool path = !uri.startsWith(QLatin1String("http")) && !uri.startsWith(QLatin1Char('/'));
    return SiteResources::resolveServiceURL(path ? QLatin1Char('/') + uri : uri);
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
    SendOptions options;
    options.cancelled = [] { return Workers::cancelled(); };
    options.bodySink = [&](const char *data, qint64 size) {
        if (file.write(data, size) != size)
            return false;
        received += size;
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
        *error = response.status ? QStringLiteral("HTTP %1").arg(response.status) : response.errorText;
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

// Starts `program` once this process has gone: the new version would otherwise find the bus name
// still taken and hand itself back to the old one.
void relaunchAfterExit(const QString &program) {
    QProcess::startDetached(QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
            QStringLiteral("while kill -0 \"$1\" 2>/dev/null; do sleep 0.2; done; exec \"$2\""),
            QStringLiteral("lanternfish-relaunch"), QString::number(QCoreApplication::applicationPid()),
            program});
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
    QString installRoot, QObject *parent)
    : QObject(parent)
    , m_delegate(delegate)
    , m_service(std::move(service))
    , m_hooks(std::move(hooks))
    , m_installRoot(installRoot.isEmpty() ? UpdateInstaller::runningInstallRoot() : std::move(installRoot)) {
    if (!m_hooks.relaunch)
        m_hooks.relaunch = relaunchAfterExit;
    if (!m_hooks.quit)
        // Not quit(): it closes the main window first, which asks again whether to stop a share
        // being sent; the share is stored on the way out and goes on after the restart.
        m_hooks.quit = [] { QCoreApplication::exit(0); };
    m_checkTimer = new ClockTimer(this);
    connect(m_checkTimer, &ClockTimer::timeout, this, [this] { checkForUpdate(true); });
    m_iconTimer = new ClockTimer(this);
    connect(m_iconTimer, &ClockTimer::timeout, this, &Updater::checkIcons);
}

Updater::~Updater() {
    *m_alive = false;
}

bool Updater::checkForUpdate(bool repeat) {
    // An update on its way needs no second offer.
    if (m_downloading)
        return true;
    const APIResult answer = m_service->checkForUpdate();
    bool updating = false;
    if (answer.isError()) {
        const int status = answer.httpStatus();
        if (status != 404)
            m_delegate.checkNetError(answer, QStringLiteral("Network"));
        // Offline: the network balloon signs in when the network is back.
        if (status == NetError::NotConnected)
            return true;
    } else {
        const QString own = Credentials::clientVersion();
        const QString server
            = answer.value(QStringLiteral("version")).toString().replace(QLatin1Char('a'), QLatin1Char('.'));
        if (CompareVersion(own, server) == -1) {
            m_mandatory
                = CompareVersion(own, answer.value(QStringLiteral("compat_version")).toString()) == -1;
            m_updateMD5 = answer.value(QStringLiteral("md5_hash")).toString();
            m_updateUri = answer.value(QStringLiteral("uri")).toString();
            if (m_mandatory) {
                m_delegate.beginProgressSheet(localizedString("[mandatory]"));
                doUpdate();
                updating = true;
            } else {
                const int choice = runStandardAlert({localizedString("[update]"),
                    localizedFormat(QStringLiteral("[updateblurb]"),
                        {server, answer.value(QStringLiteral("release_date")).toString()}),
                    {localizedString("[updaterestart]"), localizedString("[later]")}, m_delegate.window()});
                if (choice == StandardAlert::Default) {
                    m_delegate.beginProgressSheet(localizedString("[updating]"));
                    doUpdate();
                    updating = true;
                }
            }
        }
        if (answer.toMap().contains(QStringLiteral("icons"))) {
            m_icons = answer.value(QStringLiteral("icons")).toList();
            checkIcons();
            scheduleIcons();
        } else {
            qCInfo(lfUi) << "no icon love yet";
        }
    }
    if (!repeat && !m_checkTimer->isActive())
        m_checkTimer->start(kCheckIntervalMs);
    m_delegate.setUpdating(updating);
    return updating;
}

void Updater::scheduleIcons() {
    m_iconTimer->stop();
    m_iconTimer->start(kIconIntervalMs);
}

void Updater::doUpdate() {
    if (m_downloading)
        return;
    m_downloading = true;
    m_updatePath
        = QDir(sandboxFolder()).filePath(QStringLiteral("update/") + QLatin1String(kPackageFileName));
    const QString url = serviceUrl(m_updateUri);
    const QString path = m_updatePath;
    auto alive = m_alive;
    const bool started
        = Workers::instance().start(QStringLiteral("update download"), [this, alive, url, path] {
              QString error;
              const bool ok = download(
                  url, path,
                  [this, alive](qint64 bytes) {
                      runOnMainThread([this, alive, bytes] {
                          if (*alive)
                              m_delegate.setProgressSheetText(
                                  localizedFormat(QStringLiteral("[downloadingNofM]"),
                                      {QLocale().toString(double(bytes) / (1024 * 1024), 'f', 1)}));
                      });
                  },
                  &error);
              runOnMainThread([this, alive, ok, path, error] {
                  if (*alive)
                      downloadFinished(ok, path, error);
              });
          });
    if (!started)
        downloadFinished(false, path, QStringLiteral("the program is ending"));
}

void Updater::downloadFinished(bool ok, const QString &path, const QString &error) {
    m_downloading = false;
    emit downloadEnded(ok);
    if (!ok) {
        qCWarning(lfUi).noquote() << "update download failed:" << error;
        QFile::remove(path);
        failureDuringUpdate();
        return;
    }
    if (checkMD5())
        install();
    else
        failureDuringUpdate();
}

bool Updater::checkMD5() {
    m_delegate.setProgressSheetText(localizedString("[checkingMD5]"));
    const bool same = md5Matches(m_updatePath, m_updateMD5);
    if (!same) {
        qCWarning(lfUi) << "the update's digest does not match";
        QFile::remove(m_updatePath);
    }
    return same;
}

void Updater::install() {
    m_delegate.setProgressSheetText(localizedString("[mountingdmg]"));
    UpdateInstaller installer(m_installRoot);
    m_delegate.setProgressSheetText(localizedString("[copyingapp]"));
    if (!installer.install(m_updatePath)) {
        failureDuringUpdate();
        return;
    }
    m_delegate.setProgressSheetText(localizedString("[cleanup]"));
    m_hooks.relaunch(installer.programPath());
    auto *wait = new ClockTimer(this);
    connect(wait, &ClockTimer::timeout, this, [this, wait] {
        wait->stop();
        wait->deleteLater();
        m_delegate.endProgressSheet();
        m_hooks.quit();
    });
    wait->start(kRelaunchDelayMs);
}

void Updater::failureDuringUpdate() {
    // The sheet would otherwise stay over the window for good after an optional update failed.
    m_delegate.endProgressSheet();
    runStandardAlert({localizedString(m_mandatory ? "[mandatoryfailed]" : "[updatefailed]"), QString(),
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

void Updater::checkIcons() {
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
    if (dest.isEmpty() || dest == m_iconPath)
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
        // Forgotten, so the next icon check tries again.
        if (m_iconPath == path)
            m_iconPath.clear();
        return;
    }
    if (m_iconPath == path && m_hooks.setDockIcon)
        m_hooks.setDockIcon(path);
}

} // namespace lf
