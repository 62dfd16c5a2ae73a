#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace lf {

// A photo library folder described by an "AlbumData.xml" property list: its images ("Master
// Image List"), albums, rolls and keywords. Images whose files are not photos, or are gone, are
// left out, and so are albums and rolls left empty by that.
class AlbumDataLibrary {
public:
    static constexpr const char *kFileName = "AlbumData.xml";
    // Preference: the library folder tried last.
    static constexpr const char *kLibraryPref = "iPhoto Library";
    static constexpr const char *kLibraryFolderName = "iPhoto Library";

    // Photo item keys, as the grid reads them.
    static constexpr const char *kPath = "path";
    static constexpr const char *kThumbPath = "thumbPath";
    static constexpr const char *kDate = "date";
    static constexpr const char *kFileNameKey = "filename";
    static constexpr const char *kCaption = "caption";
    static constexpr const char *kComment = "comment";
    static constexpr const char *kKeywords = "keywords";

    struct Group {
        QString name;
        QStringList keys;
    };

    // The folders to look in, in order: the one tried last, then the Pictures folder's library.
    static QStringList candidateFolders();
    // Whether a candidate folder holds an album data file, without reading it.
    static bool available();
    // Reads the first candidate that holds a readable album data file; false when none does.
    bool load();
    // Reads the album data file of `folder`; false with `error` set when it cannot.
    bool read(const QString &folder, QString *error = nullptr);

    QString dataFilePath() const { return m_dataFilePath; }
    // Whether the file changed since it was read.
    bool dirty() const;
    const QList<Group> &albums() const { return m_albums; }
    const QList<Group> &rolls() const { return m_rolls; }
    QStringList allKeys() const { return m_master.keys(); }
    int imageCount() const { return int(m_master.size()); }

    // The photo items of these image keys (unknown keys are skipped), oldest first.
    QList<QVariantMap> photoData(const QStringList &keys) const;

    // The items whose caption, comment or keywords contain `text`, ignoring case and accents.
    // Empty when `cancelled` turned true on the way.
    static QList<QVariantMap> search(
        const QList<QVariantMap> &items, const QString &text, const std::function<bool()> &cancelled = {});

private:
    QString m_dataFilePath;
    QDateTime m_modDate;
    QVariantMap m_master;
    QVariantMap m_keywords;
    QList<Group> m_albums;
    QList<Group> m_rolls;
};

// Searches on a worker thread; a new search makes the one before it stop and be forgotten.
class AlbumSearch {
public:
    using Done = std::function<void(const QList<QVariantMap> &found)>;
    ~AlbumSearch();
    // `done` runs on the main thread, only for the latest search.
    void start(const QList<QVariantMap> &items, const QString &text, Done done);
    void cancel();

private:
    std::shared_ptr<std::atomic<bool>> m_cancel;
};

} // namespace lf
