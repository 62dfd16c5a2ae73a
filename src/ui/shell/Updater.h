#pragma once

#include "shell/MacClientAppDelegate.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>

#include <functional>
#include <memory>

namespace lf {

class ClockTimer;
class Service;

// -1 when `a` is older than `b`, 0 when the same, 1 when later. A version with a letter against
// one without always counts as later (1), whichever side it is on; otherwise runs of digits
// compare by value (1.10 after 1.9) and everything else by character code.
int CompareVersion(const QString &a, const QString &b);
// The file's MD5 digest as 32 lower-case hex digits equals `expected` exactly (case matters).
bool md5Matches(const QString &path, const QString &expected);

// Keeps the program current: asks the server at start and every 4 hours, offers an update (or
// forces it when the running version is no longer accepted), downloads and checks the package,
// swaps the installation and starts the new version. The same answer lists dated icons; the
// icon of the day is shown on the tray and the window. Main thread only.
class Updater : public QObject, public UpdateChecker {
    Q_OBJECT
public:
    static constexpr int kCheckIntervalMs = 4 * 60 * 60 * 1000;
    static constexpr int kIconIntervalMs = 30 * 60 * 1000;
    static constexpr int kRelaunchDelayMs = 2000;

    struct Hooks {
        std::function<bool(const QString &path)> setDockIcon;
        std::function<void()> clearDockIcon;
        // Starts the installed program (default: detached) and ends this one (default: quit).
        std::function<void(const QString &program)> relaunch;
        std::function<void()> quit;
    };

    // `installRoot`: the tree the update replaces (the running program's by default).
    Updater(MacClientAppDelegate &delegate, std::shared_ptr<Service> service, Hooks hooks,
        QString installRoot = {}, QObject *parent = nullptr);
    ~Updater() override;

    bool checkForUpdate() override { return checkForUpdate(false); }
    // `repeat`: called by the 4-hour timer, which schedules nothing more.
    bool checkForUpdate(bool repeat);
    void doUpdate();
    bool checkMD5();
    void install();
    void failureDuringUpdate();
    void checkIcons();
    void requestIcon(const QString &uri);
    // The local file of a dated icon, or empty when the uri names no safe file.
    static QString imageDest(const QString &uri);

    bool mandatory() const { return m_mandatory; }
    bool downloading() const { return m_downloading; }
    QString updatePath() const { return m_updatePath; }
    QString iconPath() const { return m_iconPath; }
    QString installRoot() const { return m_installRoot; }

signals:
    // The package download ended: whether it arrived whole.
    void downloadEnded(bool ok);

private:
    void downloadFinished(bool ok, const QString &path, const QString &error);
    void iconDownloaded(const QString &path, bool ok);
    void scheduleIcons();

    MacClientAppDelegate &m_delegate;
    std::shared_ptr<Service> m_service;
    Hooks m_hooks;
    QString m_installRoot;
    QString m_updateUri;
    QString m_updateMD5;
    QString m_updatePath;
    bool m_mandatory = false;
    bool m_downloading = false;
    QVariantList m_icons;
    QString m_iconPath;
    bool m_iconDownloading = false;
    ClockTimer *m_checkTimer = nullptr;
    ClockTimer *m_iconTimer = nullptr;
    // Cleared when the updater goes, so a download that ends later reports to no one.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace lf
