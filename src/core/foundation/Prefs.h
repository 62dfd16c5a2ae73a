#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <vector>

namespace lf {

// Keys of the preference store. The store holds nothing else (user-scoped keys get "[user]").
namespace PrefKey {
inline constexpr const char *ClientID = "credential.clientID";
inline constexpr const char *UserName = "credential.userName";
inline constexpr const char *UserToken = "credential.userToken";
inline constexpr const char *Host = "host";
inline constexpr const char *Port = "port";
inline constexpr const char *HostVersion = "hostVersion";
inline constexpr const char *MainWindowFrame = "MainWindowFrame";
inline constexpr const char *PendingFiles = "pendingFiles";
inline constexpr const char *CanUploadCrashLogs = "canUploadCrashLogs";
inline constexpr const char *DateLastCrashlog = "dateLastCrashlog";
inline constexpr const char *FirstRun001 = "firstrun001";
inline constexpr const char *FirstRun002 = "firstrun002";
inline constexpr const char *CameraGPSInfo = "cameraGPSInfo";
inline constexpr const char *SaveCameraToRoll = "saveCameraToRoll";
inline constexpr const char *Sounds = "sounds";
inline constexpr const char *ShareHighResPhotos = "shareHighResPhotos";
inline constexpr const char *StagedOnWifi2 = "stagedOnWifi2";
inline constexpr const char *FirstConnect = "firstConnect";
inline constexpr const char *StartAtLogin = "startAtLogin";
inline constexpr const char *PlaySounds = "playSounds";
inline constexpr const char *Bundles = "bundles";
inline constexpr const char *WhichPhotoLibrary = "WhichPhotoLibrary";
inline constexpr const char *SliderPref = "SliderPref";
inline constexpr const char *PhotoLibraryPath = "iPhoto Library";
} // namespace PrefKey

// The domain name; also the name of the cache folder.
inline constexpr const char *kPrefsDomain = "com.Lanternfish.MacClient";

// One row of the key table: the value's type and what a reader assumes when the key is absent.
struct PrefKeyInfo {
    enum class Type { String, Integer, Real, Boolean, Date, Array, Dictionary };
    QString key;
    Type type;
    QVariant defaultValue; // invalid: no default
    bool userScoped = false;
};

// The per-user preference store. Every write is on disk, atomically, before it returns, and
// is merged with what another process wrote meanwhile; reads see the other process's last write.
class Prefs {
public:
    static QVariant prefForKey(const QString &key);
    static QVariant prefForKey(const QString &key, const QVariant &defaultValue);
    static double floatPrefForKey(const QString &key, double defaultValue);
    static bool boolPrefForKey(const QString &key, bool defaultValue);
    static int intPrefForKey(const QString &key, int defaultValue);

    // An invalid value removes the key. A value the store cannot hold (see isPropertyListValue:
    // a QDate, a QUrl, a QVariantHash, ..., also inside a list or dictionary) is refused: false.
    static bool setPref(const QVariant &value, const QString &key);
    // The stored value; when absent (or an empty text), makeValue()'s, stored first. Atomic across threads
    // and processes: every caller gets the one value stored.
    static QVariant ensurePref(const QString &key, const std::function<QVariant()> &makeValue);
    static bool setFloatPref(double value, const QString &key);
    static bool setBoolPref(bool value, const QString &key);
    static bool setIntPref(int value, const QString &key);
    static bool clearPrefForKey(const QString &key);
    // Removes the key only while it holds `expected`, decided under both locks.
    static bool clearPrefIfEqual(const QString &key, const QVariant &expected);
    static bool clearAllPrefs();

    // "key[user]" for the signed-in user.
    static QString userKey(const QString &key);
    static bool boolPrefForUserKey(const QString &key, bool defaultValue);
    static bool setBoolPrefForUserKey(bool value, const QString &key);
    static QVariant prefForUserKey(const QString &key, const QVariant &defaultValue);
    static bool setPrefForUserKey(const QVariant &value, const QString &key);

    static void validate() { }

    // Every key currently stored.
    static QStringList allKeys();

    // The first-run blocks, written once each; the application calls this at every launch.
    static void applyFirstRunDefaults();

    // The table of every key with its type and default.
    static const std::vector<PrefKeyInfo> &keyTable();
    static const PrefKeyInfo *keyInfo(const QString &key);

    // Where the store lives: $XDG_CONFIG_HOME/Lanternfish/com.Lanternfish.MacClient.plist.
    static QString storePath();
    // Drops the in-memory copy and resolves the location again (tests switch homes).
    static void reloadLocation();

    // Conversions the typed reads apply to a stored value.
    static double toFloat(const QVariant &value);
    static bool toBool(const QVariant &value);
    static int toInt(const QVariant &value);
};

} // namespace lf
