// The archive of a share task: "info.plist" in its share-set folder, an XML property list with
// the keys below. Thumbnails are JPEG files beside it, named by each photo's "thumb".
#include "share/ShareTask.h"

#include "foundation/FileRules.h"
#include "foundation/LogCategories.h"
#include "foundation/PropertyList.h"
#include "share/PhotoBytes.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <limits>

namespace lf {

namespace {

QString key(const char *name) {
    return QString::fromLatin1(name);
}

const char *const kTransientPhotoKeys[]
    = {kPhotoImage, kPhotoCameraPhoto, kPhotoData, kPhotoRetry, kPhotoPendingWrite};

// Keeps only what a property list can hold (a task-pointer or image would break the file).
QVariant storable(const QVariant &v) {
    switch (v.typeId()) {
    case QMetaType::QString:
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::QDateTime:
    case QMetaType::QByteArray:
        return v;
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        QVariantList out;
        for (const QVariant &item : v.toList()) {
            const QVariant kept = storable(item);
            if (kept.isValid())
                out.append(kept);
        }
        return out;
    }
    case QMetaType::QVariantMap: {
        QVariantMap out;
        const QVariantMap in = v.toMap();
        for (auto it = in.cbegin(); it != in.cend(); ++it) {
            const QVariant kept = storable(it.value());
            if (kept.isValid())
                out.insert(it.key(), kept);
        }
        return out;
    }
    default:
        return {};
    }
}

QVariantList stringsToList(const QStringList &strings) {
    QVariantList out;
    out.reserve(strings.size());
    for (const QString &s : strings)
        out.append(s);
    return out;
}

// Reading: every known key must have its type when present.
class ArchiveReader {
public:
    explicit ArchiveReader(const QVariantMap &root)
        : m_root(root) { }

    QString error;

    bool has(const char *name) const { return m_root.contains(key(name)); }

    QString string(const char *name) {
        const QVariant v = m_root.value(key(name));
        if (v.isValid() && v.typeId() != QMetaType::QString)
            fail(name);
        return v.toString();
    }

    std::optional<QStringList> strings(const char *name) {
        const QVariant v = m_root.value(key(name));
        if (!v.isValid())
            return std::nullopt;
        if (v.typeId() != QMetaType::QVariantList) {
            fail(name);
            return std::nullopt;
        }
        QStringList out;
        for (const QVariant &item : v.toList()) {
            if (item.typeId() != QMetaType::QString) {
                fail(name);
                return std::nullopt;
            }
            out.append(item.toString());
        }
        return out;
    }

    QList<QVariantMap> dictionaries(const char *name) {
        const QVariant v = m_root.value(key(name));
        if (!v.isValid())
            return {};
        if (v.typeId() != QMetaType::QVariantList) {
            fail(name);
            return {};
        }
        QList<QVariantMap> out;
        for (const QVariant &item : v.toList()) {
            if (item.typeId() != QMetaType::QVariantMap) {
                fail(name);
                return {};
            }
            out.append(item.toMap());
        }
        return out;
    }

    QVariantMap dictionary(const char *name) {
        const QVariant v = m_root.value(key(name));
        if (v.isValid() && v.typeId() != QMetaType::QVariantMap)
            fail(name);
        return v.toMap();
    }

    bool boolean(const char *name) {
        const QVariant v = m_root.value(key(name));
        if (!v.isValid())
            return false;
        if (v.typeId() != QMetaType::Bool && v.typeId() != QMetaType::LongLong)
            fail(name);
        return v.toBool();
    }

    int int32(const char *name) {
        const QVariant v = m_root.value(key(name));
        if (!v.isValid())
            return 0;
        bool ok = false;
        const qlonglong n = v.toLongLong(&ok);
        if (v.typeId() != QMetaType::LongLong || !ok || n < std::numeric_limits<qint32>::min()
            || n > std::numeric_limits<qint32>::max())
            fail(name);
        return int(n);
    }

private:
    void fail(const char *name) {
        if (error.isEmpty())
            error = QStringLiteral("bad value for \"%1\"").arg(key(name));
    }

    QVariantMap m_root;
};

} // namespace

std::pair<ShareTask::State, QStringList> ShareTask::snapshot() const {
    State state;
    {
        QMutexLocker lock(&m_mutex);
        state = m_state;
    }
    return {state, m_recipients->list()};
}

QVariantMap ShareTask::archiveMap(const State &s, const QStringList &recipients, bool writeThumbs) {
    QVariantMap root;
    if (!s.bundleGuid.isEmpty())
        root.insert(key(kArchiveBundleGuid), s.bundleGuid);
    root.insert(key(kArchiveRecipients), stringsToList(recipients));
    if (!s.path.isEmpty())
        root.insert(key(kArchivePath), s.path);
    if (!s.message.isNull())
        root.insert(key(kArchiveMessage), s.message);
    if (s.names)
        root.insert(key(kArchiveNames), stringsToList(*s.names));

    QVariantList photos;
    photos.reserve(s.photoInfos.size());
    for (qsizetype i = 0; i < s.photoInfos.size(); ++i) {
        PhotoInfo entry = s.photoInfos.at(i);
        for (const char *transient : kTransientPhotoKeys)
            entry.remove(key(transient));
        entry.insert(key(kPhotoOrder), int(i));
        const QVariant thumb = entry.take(key(kPhotoThumb));
        if (thumb.typeId() == qMetaTypeId<PhotoThumb>() && !s.path.isEmpty()) {
            const PhotoThumb holder = thumb.value<PhotoThumb>();
            QString name;
            if (writeThumbs) {
                name = holder.fileNameIn(s.path);
            } else if (const QFileInfo file(holder.filePath());
                       file.absolutePath() == QDir(s.path).absolutePath()) {
                name = file.fileName();
            }
            if (!name.isEmpty())
                entry.insert(key(kPhotoThumb), name);
        }
        photos.append(storable(entry));
    }
    root.insert(key(kArchivePhotos), photos);

    QVariantList staged;
    for (const UploadItem &item : s.fullPhotoInfos)
        staged.append(storable(item.toMap()));
    root.insert(key(kArchiveStagedPhotos), staged);

    root.insert(key(kArchiveSendAttempted), s.sendAttempted);
    root.insert(key(kArchiveSendCompleted), s.sendCompleted);
    // Written only when set, so archives of shares that never failed stay as they were.
    if (s.sendFailed)
        root.insert(key(kArchiveSendFailed), true);
    root.insert(key(kArchiveContinuePhoto), qint32(s.continuePhoto));
    root.insert(key(kArchiveSentBundleCreate), s.sentBundleCreate);
    root.insert(key(kArchivePathLookup), storable(s.pathLookup));
    if (!s.missingPhotos.isEmpty())
        root.insert(key(kArchiveMissingPhotos), stringsToList(s.missingPhotos));
    if (!s.owner.isEmpty()) {
        root.insert(key(kArchiveOwner), s.owner.user);
        root.insert(key(kArchiveOwnerHost), s.owner.host);
    }
    return root;
}

QByteArray ShareTask::archiveData() const {
    const auto [state, recipients] = snapshot();
    return writePropertyList(archiveMap(state, recipients, false));
}

bool ShareTask::saveTask() {
    // One save at a time: the snapshot taken last is the one written last.
    QMutexLocker save(&m_saveMutex);
    const auto [s, recipients] = snapshot();
    if (s.path.isEmpty())
        return false;
    if (!ownsFolder(s.path)) {
        qCWarning(lfShare).noquote()
            << QStringLiteral("not a share-set folder, archive not written: %1").arg(s.path);
        return false;
    }
    const QString file = QDir(s.path).filePath(key(kShareArchiveName));
    QString error;
    if (!writePropertyListFile(file, archiveMap(s, recipients, true), &error)) {
        qCWarning(lfShare).noquote() << QStringLiteral("cannot save %1: %2").arg(file, error);
        return false;
    }
    // The archive holds the point now; a note left beside it could only be older.
    QFile::remove(QDir(s.path).filePath(key(kShareResumeNoteName)));
    return true;
}

bool ShareTask::saveResumeNote() {
    QMutexLocker save(&m_saveMutex);
    const auto [s, recipients] = snapshot();
    if (s.path.isEmpty() || !ownsFolder(s.path))
        return false;
    const QString file = QDir(s.path).filePath(key(kShareResumeNoteName));
    const QVariantMap note {{key(kArchiveBundleGuid), s.bundleGuid},
        {key(kArchiveContinuePhoto), qint32(s.continuePhoto)},
        {key(kArchiveSentBundleCreate), s.sentBundleCreate}};
    QString error;
    // Not synced, for speed: a killed program still finds it; after a power cut the archive's
    // older point only means photos sent again into their slots.
    if (!writeFileAtomically(file, writePropertyList(note), &error, 0600, false)) {
        qCWarning(lfShare).noquote() << QStringLiteral("cannot save %1: %2").arg(file, error);
        return false;
    }
    return true;
}

ShareTaskPtr ShareTask::shareTaskWithPath(const QString &folder) {
    if (folder.isEmpty())
        return nullptr;
    const PhotoBytes archive
        = PhotoBytes::mapFile(QDir(folder).filePath(QString::fromLatin1(kShareArchiveName)));
    if (archive.isNull())
        return nullptr;
    // A note that does not read is no worse than none: the archive's own point is safe to resume at.
    QVariantMap note;
    if (const QString noteFile = QDir(folder).filePath(key(kShareResumeNoteName));
        QFileInfo::exists(noteFile))
        readPropertyListFile(noteFile, note);
    return shareTaskWithData(archive.rawData(), note);
}

QList<PhotoInfo> ShareTask::restorePhotos(const QList<QVariantMap> &photos, const QString &folder,
    int continuePhoto, bool sent, int &resumeAt, QStringList &missing) {
    QList<PhotoInfo> kept;
    // The resume point counts the photos before it: one that vanished there moves it back, so
    // the next photo is not skipped. One that vanished after it never reaches the server.
    for (qsizetype i = 0; i < photos.size(); ++i) {
        PhotoInfo entry = photos.at(i);
        const QString url = entry.value(key(kPhotoUrl)).toString();
        if (url.startsWith(QLatin1Char('/')) && !QFileInfo::exists(url)) {
            qCWarning(lfShare).noquote() << QStringLiteral("missing file %1").arg(url);
            if (i < continuePhoto)
                --resumeAt;
            else if (sent && !missing.contains(sourceOf(entry)))
                missing.append(sourceOf(entry));
            continue;
        }
        // The thumbnail is a plain file name inside the task's own folder, nothing else.
        const QVariant thumb = entry.take(key(kPhotoThumb));
        const QString name = thumb.toString();
        if (thumb.typeId() == QMetaType::QString && !folder.isEmpty() && !name.isEmpty()
            && safeFileName(name) == name)
            entry.insert(
                key(kPhotoThumb), QVariant::fromValue(PhotoThumb::fromFile(QDir(folder).filePath(name))));
        kept.append(entry);
    }
    return kept;
}

ShareTaskPtr ShareTask::shareTaskWithData(const QByteArray &data, const QVariantMap &resumeNote) {
    QString error;
    const QVariant root = readPropertyList(data, &error);
    if (root.typeId() != QMetaType::QVariantMap) {
        if (error.isEmpty())
            error = QStringLiteral("the archive is not a dictionary");
        qCWarning(lfShare).noquote() << QStringLiteral("unreadable share archive: %1").arg(error);
        return nullptr;
    }
    ArchiveReader in(root.toMap());
    const QString bundleGuid = in.string(kArchiveBundleGuid);
    const QString path = in.string(kArchivePath);
    const QString message = in.string(kArchiveMessage);
    const bool hasMessage = in.has(kArchiveMessage);
    const std::optional<QStringList> recipients = in.strings(kArchiveRecipients);
    const std::optional<QStringList> names = in.strings(kArchiveNames);
    const QList<QVariantMap> photos = in.dictionaries(kArchivePhotos);
    const QList<QVariantMap> staged = in.dictionaries(kArchiveStagedPhotos);
    const bool sendAttempted = in.boolean(kArchiveSendAttempted);
    const bool sendCompleted = in.boolean(kArchiveSendCompleted);
    const bool sendFailed = in.boolean(kArchiveSendFailed);
    int continuePhoto = in.int32(kArchiveContinuePhoto);
    bool sentBundleCreate = in.boolean(kArchiveSentBundleCreate);
    const QVariantMap pathLookup = in.dictionary(kArchivePathLookup);
    QStringList missing = in.strings(kArchiveMissingPhotos).value_or(QStringList());
    const ShareOwner owner {in.string(kArchiveOwner), in.string(kArchiveOwnerHost)};
    if (!in.error.isEmpty()) {
        qCWarning(lfShare).noquote() << QStringLiteral("unreadable share archive: %1").arg(in.error);
        return nullptr;
    }

    // Only a note of this bundle that got further counts (a bundle sent again has a new guid).
    const int noted = resumeNote.value(key(kArchiveContinuePhoto)).toInt();
    if (!bundleGuid.isEmpty() && resumeNote.value(key(kArchiveBundleGuid)).toString() == bundleGuid
        && noted > continuePhoto && noted <= photos.size()) {
        continuePhoto = noted;
        sentBundleCreate = sentBundleCreate || resumeNote.value(key(kArchiveSentBundleCreate)).toBool();
    }
    int resumeAt = continuePhoto;
    const QList<PhotoInfo> kept
        = restorePhotos(photos, path, continuePhoto, sendAttempted || sentBundleCreate, resumeAt, missing);

    ShareTaskPtr task = create();
    {
        QMutexLocker lock(&task->m_mutex);
        task->m_state.bundleGuid = bundleGuid;
        task->m_state.path = path;
        task->m_state.message = hasMessage ? (message.isNull() ? QStringLiteral("") : message) : QString();
        task->m_state.names = names;
        task->m_state.photoInfos = kept;
        task->m_state.sendAttempted = sendAttempted;
        task->m_state.sendCompleted = sendCompleted;
        task->m_state.sendFailed = sendFailed;
        task->m_state.continuePhoto = std::max(0, resumeAt);
        task->m_state.sentBundleCreate = sentBundleCreate;
        task->m_state.pathLookup = pathLookup;
        task->m_state.missingPhotos = missing;
        task->m_state.owner = owner;
    }
    QList<UploadItem> stagedItems;
    for (const QVariantMap &item : staged)
        stagedItems.append(UploadItem::fromMap(item));
    task->setFullPhotoInfos(stagedItems);
    task->m_recipients->setList(recipients.value_or(QStringList()));
    return task;
}

} // namespace lf
