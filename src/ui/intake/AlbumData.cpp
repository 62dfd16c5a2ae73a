#include "intake/AlbumData.h"

#include "foundation/FileRules.h"
#include "foundation/LogCategories.h"
#include "foundation/MainThread.h"
#include "foundation/Prefs.h"
#include "foundation/PropertyList.h"
#include "foundation/TextMatch.h"
#include "foundation/Workers.h"
#include "share/PhotoPrep.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>

namespace lf {

namespace {

QString text(const QVariantMap &record, const char *key) {
    return record.value(QLatin1String(key)).toString();
}

// A record's file: the edited image when there is one, else the original.
QString imagePath(const QVariantMap &record) {
    const QString image = text(record, "ImagePath");
    return image.isEmpty() ? text(record, "OriginalPath") : image;
}

// Keeps, in each album or roll, the keys still in the master list; drops the ones left empty.
QList<AlbumDataLibrary::Group> groups(const QVariant &list, const char *nameKey, const QVariantMap &master) {
    QList<AlbumDataLibrary::Group> result;
    for (const QVariant &entry : list.toList()) {
        const QVariantMap group = entry.toMap();
        QStringList keys;
        for (const QVariant &key : group.value(QStringLiteral("KeyList")).toList()) {
            if (master.contains(key.toString()))
                keys.append(key.toString());
        }
        if (!keys.isEmpty())
            result.append({text(group, nameKey), keys});
    }
    return result;
}

} // namespace

QStringList AlbumDataLibrary::candidateFolders() {
    QStringList folders;
    const QString last = Prefs::prefForKey(QLatin1String(kLibraryPref)).toString();
    if (!last.isEmpty())
        folders.append(last);
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    folders.append(QDir(pictures).filePath(QLatin1String(kLibraryFolderName)));
    folders.removeDuplicates();
    return folders;
}

bool AlbumDataLibrary::available() {
    const QStringList folders = candidateFolders();
    return std::any_of(folders.begin(), folders.end(), [](const QString &candidate) {
        const QString folder = stringByResolvingSymlinksAndAliases(candidate);
        return !folder.isEmpty() && QFileInfo(QDir(folder).filePath(QLatin1String(kFileName))).isReadable();
    });
}

bool AlbumDataLibrary::load() {
    for (const QString &candidate : candidateFolders()) {
        const QString folder = stringByResolvingSymlinksAndAliases(candidate);
        if (folder.isEmpty())
            continue;
        Prefs::setPref(folder, QLatin1String(kLibraryPref));
        QString error;
        if (read(folder, &error))
            return true;
        qCInfo(lfUi) << "no photo library in" << folder << error;
    }
    return false;
}

bool AlbumDataLibrary::read(const QString &folder, QString *error) {
    const QString path = QDir(folder).filePath(QLatin1String(kFileName));
    QVariantMap root;
    QString why;
    if (!readPropertyListFile(path, root, &why)) {
        if (error)
            *error = why;
        return false;
    }
    m_dataFilePath = path;
    m_modDate = QFileInfo(path).lastModified();
    qCInfo(lfUi) << "loaded modification date =" << m_modDate;

    m_master.clear();
    const QVariantMap master = root.value(QStringLiteral("Master Image List")).toMap();
    for (auto it = master.constBegin(); it != master.constEnd(); ++it) {
        const QVariantMap record = it.value().toMap();
        const QString original = text(record, "OriginalPath");
        const QString file = original.isEmpty() ? text(record, "ImagePath") : original;
        // A photo whose file is gone could only fail later, when it is shared.
        if (supportedFile(file) && QFileInfo::exists(imagePath(record)))
            m_master.insert(it.key(), record);
    }
    m_keywords = root.value(QStringLiteral("List of Keywords")).toMap();
    m_albums = groups(root.value(QStringLiteral("List of Albums")), "AlbumName", m_master);
    m_rolls = groups(root.value(QStringLiteral("List of Rolls")), "RollName", m_master);
    return true;
}

bool AlbumDataLibrary::dirty() const {
    if (m_dataFilePath.isEmpty())
        return false;
    const QDateTime now = QFileInfo(m_dataFilePath).lastModified();
    if (now == m_modDate)
        return false;
    qCInfo(lfUi) << "new modification date =" << now;
    return true;
}

QList<QVariantMap> AlbumDataLibrary::photoData(const QStringList &keys) const {
    QList<QVariantMap> items;
    for (const QString &key : keys) {
        const auto found = m_master.constFind(key);
        if (found == m_master.constEnd())
            continue;
        const QVariantMap record = found->toMap();
        QVariantMap item;
        const QString path = imagePath(record);
        item.insert(QLatin1String(kPath), path);
        item.insert(QLatin1String(kThumbPath), text(record, "ThumbPath"));
        item.insert(QLatin1String(kDate), record.value(QStringLiteral("DateAsTimerInterval")).toDouble());
        item.insert(QLatin1String(kFileNameKey), QFileInfo(path).fileName());
        const QString caption = text(record, "Caption").trimmed();
        if (!caption.isEmpty())
            item.insert(QLatin1String(kCaption), caption);
        const QString comment = text(record, "Comment").trimmed();
        if (!comment.isEmpty())
            item.insert(QLatin1String(kComment), comment);
        QStringList names;
        for (const QVariant &keyword : record.value(QStringLiteral("Keywords")).toList()) {
            const QString name = m_keywords.value(keyword.toString()).toString();
            if (!name.isEmpty())
                names.append(name);
        }
        if (!names.isEmpty())
            item.insert(QLatin1String(kKeywords), names.join(QStringLiteral(", ")));
        items.append(item);
    }
    std::stable_sort(items.begin(), items.end(),
        [](const QVariantMap &a, const QVariantMap &b) { return CompareByDate(a, b) < 0; });
    return items;
}

QList<QVariantMap> AlbumDataLibrary::search(
    const QList<QVariantMap> &items, const QString &text, const std::function<bool()> &cancelled) {
    // Matched literally: quotes and wildcard characters in the search text are plain characters.
    const QString wanted = foldCaseAndDiacritics(text);
    QList<QVariantMap> found;
    for (const QVariantMap &item : items) {
        if (cancelled && cancelled())
            return {};
        for (const char *key : {kCaption, kComment, kKeywords}) {
            if (foldCaseAndDiacritics(item.value(QLatin1String(key)).toString()).contains(wanted)) {
                found.append(item);
                break;
            }
        }
    }
    return found;
}

AlbumSearch::~AlbumSearch() {
    cancel();
}

void AlbumSearch::cancel() {
    if (m_cancel)
        *m_cancel = true;
}

void AlbumSearch::start(const QList<QVariantMap> &items, const QString &text, Done done) {
    cancel();
    auto flag = std::make_shared<std::atomic<bool>>(false);
    m_cancel = flag;
    Workers::instance().start(QStringLiteral("album search"), [flag, items, text, done = std::move(done)] {
        const auto stop = [&flag] { return flag->load() || Workers::cancelled(); };
        QList<QVariantMap> found = AlbumDataLibrary::search(items, text, stop);
        if (stop())
            return;
        runOnMainThread([flag, found = std::move(found), done] {
            if (!*flag)
                done(found);
        });
    });
}

} // namespace lf
