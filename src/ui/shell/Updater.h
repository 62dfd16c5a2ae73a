#pragma once

#include "shell/MacClientAppDelegate.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVariantList>

#include <functional>
#include <memory>

namespace lf {

class APIResult;
class ClockTimer;
class Service;
class UpdateInstaller;

// -1 when `a` is older than `b`, 0 when the same, 1 when later. A version with a letter against
// one without always counts as later (1), whichever side it is on; otherwise runs of digits
// compare by value (1.10 after 1.9) and everything else by character code.
int CompareVersion(const QString &a, const QString &b);
// The file's MD5 digest as 32 lower-case hex digits equals `expected` exactly (case matters).
bool md5Matches(const QString &path, const QString &expected);

// Keeps the program current: asks the server at start and every 4 hours, offers an update (or
// forces it when the running version is no longer accepted), downloads and checks the package,
// swaps the installation and starts the new version. Only a self-contained tree with a signed
// package is ever changed; any other installation gets a notice saying how to update it. The
// server and the files are only touched on workers: the window never waits. The same answer
// lists dated icons; the icon of the day is shown on the tray and the window. Main thread only.
class Updater : public QObject, public UpdateChecker {
    Q_OBJECT
public:
    static constexpr int kCheckIntervalMs = 4 * 60 * 60 * 1000;
    static constexpr int kIconIntervalMs = 30 * 60 * 1000;
    // How long the new version has to say it runs before the old one is put back.
    static constexpr int kAnswerTimeoutMs = 30 * 1000;
    static constexpr int kAnswerPollMs = 200;
    static constexpr qint64 kMaxPackageBytes = qint64(1) << 30;

    struct Hooks {
        std::function<bool(const QString &path)> setDockIcon;
        std::function<void()> clearDockIcon;
        // Starts the new program (default: detached, told where to answer, after this process
        // gave up its bus name); its process id, or 0 when it could not be started.
        std::function<qint64(const QString &program)> relaunch;
        // The new program did not answer (default: this process takes its bus name back).
        std::function<void()> relaunchFailed;
        // Ends this program (default: the event loop ends, as Quit does).
        std::function<void()> quit;
    };

    // `installRoot`: the tree the update replaces (the running program's by default);
    // `publicKey`: the raw Ed25519 key packages are signed with (the built-in one by default).
    Updater(MacClientAppDelegate &delegate, std::shared_ptr<Service> service, Hooks hooks,
        QString installRoot = {}, QByteArray publicKey = {}, QObject *parent = nullptr);
    ~Updater() override;

    void checkForUpdate(std::function<void(bool updating)> done) override;
    // `repeat`: called by the 4-hour timer, which schedules nothing more.
    void checkForUpdate(bool repeat = false, std::function<void(bool updating)> done = {});
    void doUpdate();
    void failureDuringUpdate(const QString &reason = {});
    // `fromTimer`: the 30-minute check, which also retries icons that failed to download.
    void checkIcons(bool fromTimer = false);
    void requestIcon(const QString &uri);
    // The local file of a dated icon, or empty when the uri names no safe file.
    static QString imageDest(const QString &uri);

    bool mandatory() const { return m_mandatory; }
    // A check, a download or an installation is under way.
    bool busy() const { return m_checking || m_installing; }
    bool checking() const { return m_checking; }
    bool installing() const { return m_installing; }
    QString updatePath() const { return m_updatePath; }
    QString iconPath() const { return m_iconPath; }
    QString installRoot() const { return m_installRoot; }
    // Test aid: how long the new program may take to answer --version.
    void setVersionTimeoutMs(int ms) { m_versionTimeoutMs = ms; }

signals:
    // The update check's answer was handled.
    void checked(bool updating);
    // The package was checked and swapped in (true), or refused (false).
    void installEnded(bool ok);

private:
    void checkAnswered(const APIResult &answer, bool repeat, const std::function<void(bool)> &done);
    bool offer(const QVariantMap &answer, const QString &version);
    // Why this installation cannot take the update here, or empty when it can.
    QString installAdvice() const;
    void prepared(bool ok, const QString &error);
    void waitForAnswer();
    void pollAnswer();
    void finishUpdate();
    void iconDownloaded(const QString &path, bool ok);
    void scheduleIcons();

    MacClientAppDelegate &m_delegate;
    std::shared_ptr<Service> m_service;
    Hooks m_hooks;
    QString m_installRoot;
    QByteArray m_publicKey;
    QString m_version;
    QString m_updateUri;
    QString m_updateMD5;
    QByteArray m_signature;
    QString m_updatePath;
    bool m_mandatory = false;
    bool m_checking = false;
    bool m_offerUp = false;
    bool m_installing = false;
    int m_versionTimeoutMs = 0;
    std::shared_ptr<UpdateInstaller> m_installer;
    qint64 m_newPid = 0;
    qint64 m_answerDeadlineMs = 0;
    ClockTimer *m_answerTimer = nullptr;
    QVariantList m_icons;
    QString m_iconPath;
    QSet<QString> m_failedIcons;
    bool m_iconDownloading = false;
    ClockTimer *m_checkTimer = nullptr;
    ClockTimer *m_iconTimer = nullptr;
    // Cleared when the updater goes, so work that ends later reports to no one.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace lf
