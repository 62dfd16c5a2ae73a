#include "foundation/Prefs.h"

#include "foundation/Clock.h"
#include "foundation/FileRules.h"
#include "foundation/Log.h"
#include "foundation/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QStandardPaths>

#include <cmath>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lf {

namespace {

// What identifies one version of the file on disk: a replace makes a new inode.
struct FileStamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime {};

    bool operator==(const FileStamp &o) const {
        return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size
            && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

FileStamp stampOf(const QByteArray &path) {
    FileStamp s;
    struct stat st { };
    if (::stat(path.constData(), &st) == 0) {
        s.exists = true;
        s.dev = st.st_dev;
        s.ino = st.st_ino;
        s.size = st.st_size;
        s.mtime = st.st_mtim;
    }
    return s;
}

// Holds an exclusive inter-process lock on the store's lock file while it lives.
class ProcessLock {
public:
    explicit ProcessLock(const QByteArray &path) {
        m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) { }
        }
    }
    ~ProcessLock() {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

class PrefStore {
public:
    static PrefStore &instance() {
        static PrefStore store;
        return store;
    }

    QVariant value(const QString &key) {
        QMutexLocker lock(&m_mutex);
        refresh(false);
        return m_values.value(key);
    }

    QStringList keys() {
        QMutexLocker lock(&m_mutex);
        refresh(false);
        return m_values.keys();
    }

    // Applies `change` to the latest state on disk and writes the result, under both locks.
    // Nothing is written when the change leaves the values as they are.
    template<typename Change> bool update(Change change) {
        QMutexLocker lock(&m_mutex);
        resolveLocation();
        makePrivateFolder(QFileInfo(m_path).absolutePath());
        ProcessLock processLock(QFile::encodeName(m_path + QStringLiteral(".lock")));
        if (!processLock.held())
            SystemLog(QStringLiteral("preferences: cannot lock %1").arg(m_path));
        removeStaleTemporaries();
        refresh(processLock.held());
        if (m_unreadable) {
            // Writing now would replace a file we could not read, and lose what it holds.
            SystemLog(QStringLiteral("preferences: %1 cannot be read; not writing").arg(m_path));
            return false;
        }
        QVariantMap next = m_values;
        change(next);
        if (next == m_values)
            return true;
        const QByteArray bytes = writePropertyList(next);
        QString error;
        if (!readPropertyList(bytes, &error).isValid()) {
            SystemLog(
                QStringLiteral("preferences: not writing a store that would not read back (%1)").arg(error));
            return false;
        }
        if (!writeFileAtomically(m_path, bytes, &error)) {
            SystemLog(QStringLiteral("preferences: %1").arg(error));
            return false;
        }
        m_values = next;
        m_stamp = stampOf(m_encodedPath);
        return true;
    }

    QString path() {
        QMutexLocker lock(&m_mutex);
        resolveLocation();
        return m_path;
    }

    void reloadLocation() {
        QMutexLocker lock(&m_mutex);
        m_path.clear();
        m_values.clear();
        m_stamp = {};
        m_unreadable = false;
    }

private:
    void resolveLocation() {
        if (!m_path.isEmpty())
            return;
        const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        m_path = QDir(config).filePath(
            QStringLiteral("Lanternfish/") + QLatin1String(kPrefsDomain) + QStringLiteral(".plist"));
        m_encodedPath = QFile::encodeName(m_path);
    }

    // A writer killed between creating its temporary file and the rename leaves it behind;
    // under the inter-process lock no other write is under way, so any such file is stale.
    void removeStaleTemporaries() {
        const QFileInfo info(m_path);
        QDir dir(info.absolutePath());
        const QStringList leftovers = dir.entryList(
            {QLatin1Char('.') + info.fileName() + QStringLiteral(".??????")}, QDir::Files | QDir::Hidden);
        for (const QString &name : leftovers)
            dir.remove(name);
    }

    // Rereads the file when it is not the version held in memory. `locked`: the caller holds
    // the inter-process lock.
    void refresh(bool locked) {
        resolveLocation();
        const FileStamp now = stampOf(m_encodedPath);
        if (now == m_stamp)
            return;
        m_stamp = now;
        m_values.clear();
        m_unreadable = false;
        if (!now.exists)
            return;
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly)) {
            // Perhaps only for now (no file handles left, say): keep the file and refuse writes.
            m_unreadable = true;
            SystemLog(QStringLiteral("preferences: cannot open %1 (%2)").arg(m_path, file.errorString()));
            return;
        }
        QString error;
        const QVariant root = readPropertyList(file.readAll(), &error);
        file.close();
        if (root.typeId() == QMetaType::QVariantMap) {
            m_values = root.toMap();
            return;
        }
        if (!locked) {
            // Moving it aside needs the inter-process lock, and a fresh look once it is held:
            // another process may have replaced the file meanwhile.
            ProcessLock processLock(QFile::encodeName(m_path + QStringLiteral(".lock")));
            m_stamp = {};
            refresh(true);
            return;
        }
        setAside(root.isValid() ? QStringLiteral("root is not a dictionary") : error);
    }

    // Keeps a store that does not parse under another name, so that the next write starts a
    // new file instead of replacing it; the user or support can still recover its values.
    void setAside(const QString &reason) {
        const QString stem = m_path + QStringLiteral(".corrupt-")
            + Clock::instance().now().toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        QString target = stem;
        for (int n = 2; QFileInfo::exists(target); ++n)
            target = stem + QLatin1Char('-') + QString::number(n);
        if (!QFile::rename(m_path, target)) {
            m_unreadable = true;
            SystemLog(QStringLiteral("preferences: %1 is unreadable (%2) and cannot be moved aside")
                          .arg(m_path, reason));
            return;
        }
        SystemLog(QStringLiteral("preferences: %1 was unreadable (%2); kept as %3, starting empty")
                      .arg(m_path, reason, target));
        m_stamp = stampOf(m_encodedPath);
    }

    QMutex m_mutex;
    QString m_path;
    QByteArray m_encodedPath;
    QVariantMap m_values;
    FileStamp m_stamp;
    bool m_unreadable = false; // the file exists but could not be read: never overwrite it
};

using T = PrefKeyInfo::Type;

} // namespace

QVariant Prefs::prefForKey(const QString &key) {
    return PrefStore::instance().value(key);
}

QVariant Prefs::prefForKey(const QString &key, const QVariant &defaultValue) {
    const QVariant v = prefForKey(key);
    return v.isValid() ? v : defaultValue;
}

double Prefs::toFloat(const QVariant &value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? 1.0 : 0.0;
    case QMetaType::QString:
        return value.toString().trimmed().section(QLatin1Char(' '), 0, 0).toDouble();
    default:
        return value.canConvert<double>() ? value.toDouble() : 0.0;
    }
}

bool Prefs::toBool(const QVariant &value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::QString: {
        // As a string's boolean value: after white space, a sign and leading zeros, a Y, y,
        // T, t or a digit 1 to 9 means yes; anything else no.
        const QString t = value.toString().trimmed();
        qsizetype i = 0;
        if (i < t.size() && (t[i] == QLatin1Char('+') || t[i] == QLatin1Char('-')))
            ++i;
        while (i < t.size() && t[i] == QLatin1Char('0'))
            ++i;
        return i < t.size() && QStringLiteral("YyTt123456789").contains(t[i]);
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toDouble() != 0.0;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toLongLong() != 0;
    default:
        return false;
    }
}

int Prefs::toInt(const QVariant &value) {
    const double d = toFloat(value);
    if (std::isnan(d))
        return 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return int(value.toLongLong()); // wraps to 32 bits
    default:
        break;
    }
    if (d >= 2147483647.0)
        return 2147483647;
    if (d <= -2147483648.0)
        return int(-2147483647 - 1);
    return int(std::trunc(d));
}

double Prefs::floatPrefForKey(const QString &key, double defaultValue) {
    const QVariant v = prefForKey(key);
    return v.isValid() ? toFloat(v) : defaultValue;
}

bool Prefs::boolPrefForKey(const QString &key, bool defaultValue) {
    const QVariant v = prefForKey(key);
    return v.isValid() ? toBool(v) : defaultValue;
}

int Prefs::intPrefForKey(const QString &key, int defaultValue) {
    const QVariant v = prefForKey(key);
    return v.isValid() ? toInt(v) : defaultValue;
}

bool Prefs::setPref(const QVariant &value, const QString &key) {
    QString why;
    if (value.isValid() && !value.isNull() && !isPropertyListValue(value, &why)) {
        SystemLog(QStringLiteral("preferences: not storing %1: %2").arg(key, why));
        return false;
    }
    return PrefStore::instance().update([&](QVariantMap &values) {
        if (value.isValid() && !value.isNull())
            values.insert(key, value);
        else
            values.remove(key);
    });
}

QVariant Prefs::ensurePref(const QString &key, const std::function<QVariant()> &makeValue) {
    const auto present = [](const QVariant &v) {
        return v.isValid() && !(v.typeId() == QMetaType::QString && v.toString().isEmpty());
    };
    const QVariant stored = prefForKey(key);
    if (present(stored))
        return stored;
    QVariant result;
    const bool written = PrefStore::instance().update([&](QVariantMap &values) {
        // Decided under both locks: a value another thread or process stored first wins.
        if (!present(values.value(key))) {
            const QVariant made = makeValue();
            if (isPropertyListValue(made))
                values.insert(key, made);
            result = made;
        } else {
            result = values.value(key);
        }
    });
    if (!written)
        SystemLog(QStringLiteral("preferences: %1 could not be stored").arg(key));
    return result;
}

bool Prefs::setFloatPref(double value, const QString &key) {
    return setPref(value, key);
}

bool Prefs::setBoolPref(bool value, const QString &key) {
    return setPref(value, key);
}

bool Prefs::setIntPref(int value, const QString &key) {
    return setPref(value, key);
}

bool Prefs::clearPrefForKey(const QString &key) {
    return setPref(QVariant(), key);
}

bool Prefs::clearPrefIfEqual(const QString &key, const QVariant &expected) {
    return PrefStore::instance().update([&](QVariantMap &values) {
        if (values.value(key) == expected)
            values.remove(key);
    });
}

bool Prefs::clearAllPrefs() {
    return PrefStore::instance().update([](QVariantMap &values) { values.clear(); });
}

QString Prefs::userKey(const QString &key) {
    // Without a stored user the scope is empty ("key[]"); no caller reaches that case.
    return QStringLiteral("%1[%2]").arg(key, prefForKey(QLatin1String(PrefKey::UserName)).toString());
}

bool Prefs::boolPrefForUserKey(const QString &key, bool defaultValue) {
    return boolPrefForKey(userKey(key), defaultValue);
}

bool Prefs::setBoolPrefForUserKey(bool value, const QString &key) {
    return setBoolPref(value, userKey(key));
}

QVariant Prefs::prefForUserKey(const QString &key, const QVariant &defaultValue) {
    return prefForKey(userKey(key), defaultValue);
}

bool Prefs::setPrefForUserKey(const QVariant &value, const QString &key) {
    return setPref(value, userKey(key));
}

QStringList Prefs::allKeys() {
    return PrefStore::instance().keys();
}

void Prefs::applyFirstRunDefaults() {
    const QDateTime now = Clock::instance().now();
    if (!prefForKey(QLatin1String(PrefKey::FirstRun001)).isValid()) {
        setBoolPref(true, QLatin1String(PrefKey::CameraGPSInfo));
        setBoolPref(true, QLatin1String(PrefKey::SaveCameraToRoll));
        setBoolPref(true, QLatin1String(PrefKey::Sounds));
        setPref(now, QLatin1String(PrefKey::FirstRun001));
    }
    if (!prefForKey(QLatin1String(PrefKey::FirstRun002)).isValid()) {
        setBoolPref(true, QLatin1String(PrefKey::ShareHighResPhotos));
        setBoolPref(false, QLatin1String(PrefKey::StagedOnWifi2));
        setPref(now, QLatin1String(PrefKey::FirstRun002));
    }
}

const std::vector<PrefKeyInfo> &Prefs::keyTable() {
    static const std::vector<PrefKeyInfo> table = {
        {PrefKey::ClientID, T::String, {}},
        {PrefKey::UserName, T::String, {}},
        {PrefKey::UserToken, T::String, {}},
        {PrefKey::Host, T::String, {}}, // the production entry of the host table
        {PrefKey::Port, T::String, QStringLiteral("80")},
        {PrefKey::HostVersion, T::Integer, 5},
        {PrefKey::MainWindowFrame, T::Dictionary, {}},
        {PrefKey::PendingFiles, T::Array, {}},
        {PrefKey::CanUploadCrashLogs, T::Boolean, false},
        {PrefKey::DateLastCrashlog, T::Date, QDateTime::fromSecsSinceEpoch(-62135596800LL, Qt::UTC)},
        {PrefKey::FirstRun001, T::Date, {}},
        {PrefKey::FirstRun002, T::Date, {}},
        {PrefKey::CameraGPSInfo, T::Boolean, {}},
        {PrefKey::SaveCameraToRoll, T::Boolean, {}},
        {PrefKey::Sounds, T::Boolean, {}},
        {PrefKey::ShareHighResPhotos, T::Boolean, false},
        {PrefKey::StagedOnWifi2, T::Boolean, false},
        {PrefKey::FirstConnect, T::Boolean, true, true},
        {PrefKey::StartAtLogin, T::Boolean, false},
        {PrefKey::PlaySounds, T::Boolean, true},
        {PrefKey::Bundles, T::Array, QVariantList()},
        {PrefKey::WhichPhotoLibrary, T::Integer, 0},
        {PrefKey::SliderPref, T::Real, 0.5},
        {PrefKey::PhotoLibraryPath, T::String, {}},
    };
    return table;
}

const PrefKeyInfo *Prefs::keyInfo(const QString &key) {
    for (const auto &info : keyTable()) {
        if (info.key == key)
            return &info;
    }
    return nullptr;
}

QString Prefs::storePath() {
    return PrefStore::instance().path();
}

void Prefs::reloadLocation() {
    PrefStore::instance().reloadLocation();
}

} // namespace lf
