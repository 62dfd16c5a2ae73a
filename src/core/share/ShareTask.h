#pragma once

#include "share/PhotoInfo.h"
#include "share/ShareRecords.h"

#include <QImage>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace lf {

// Notification posted when a task's photo list changes (object none).
inline constexpr const char *kSelectedPhotosChangedNotification = "selectedPhotosChanged";

// Name of the archive inside a share-set folder, and the folder name's ending.
inline constexpr const char *kShareArchiveName = "info.plist";
// Beside it, between two archive saves: how far the send of the bundle got.
inline constexpr const char *kShareResumeNoteName = "resume.plist";
inline constexpr const char *kShareSetSuffix = "shareset";

// Archive keys.
inline constexpr const char *kArchiveBundleGuid = "bundleGuid";
inline constexpr const char *kArchiveRecipients = "recipients";
inline constexpr const char *kArchivePath = "path";
inline constexpr const char *kArchiveMessage = "message";
inline constexpr const char *kArchiveNames = "names";
inline constexpr const char *kArchivePhotos = "photos";
inline constexpr const char *kArchiveStagedPhotos = "stagedPhotos";
inline constexpr const char *kArchiveSendAttempted = "sendAttempted";
inline constexpr const char *kArchiveSendCompleted = "sendCompleted";
// The share was given up after its last attempt; absent in older archives (not failed).
inline constexpr const char *kArchiveSendFailed = "sendFailed";
inline constexpr const char *kArchiveContinuePhoto = "continuePhoto";
inline constexpr const char *kArchiveSentBundleCreate = "sentBundleCreate";
inline constexpr const char *kArchivePathLookup = "pathLookup";
inline constexpr const char *kArchiveMissingPhotos = "missingPhotos";
inline constexpr const char *kArchiveOwner = "owner";
inline constexpr const char *kArchiveOwnerHost = "ownerHost";
// The value every pathLookup entry maps to.
inline constexpr const char *kPathLookupMark = "!";

// Whose share a task is: an account is a user name on one server. Shares are only ever sent
// with their owner's own sign-in.
struct ShareOwner {
    QString user; // the e-mail address the account signs in with
    QString host; // the server, "host:port"

    // The account `user` on the server the program talks to now.
    static ShareOwner onCurrentServer(const QString &user);
    bool isEmpty() const { return user.isEmpty(); }
    // E-mail addresses compare without case.
    bool isUser(const QString &otherUser) const;
    bool sameAs(const ShareOwner &other) const;
    // "ann@example.org on host:port", for people.
    QString text() const;
};

// The recipients of a task: one list object shared in place by the task, the recent-recipients
// list and the address field. Safe from any thread.
class RecipientList {
public:
    QStringList list() const;
    void setList(const QStringList &recipients);
    void append(const QString &recipient);
    void insert(int index, const QString &recipient);
    void removeAt(int index);
    // Removes every entry equal to `recipient`; returns how many went.
    int removeAll(const QString &recipient);
    void clear();
    int count() const;
    bool isEmpty() const;

private:
    mutable QMutex m_mutex;
    QStringList m_list;
};

// One in-memory image of a task to be written as a JPEG file. `gps` is empty when the photo has none.
struct ImageJob {
    QImage image;
    QString path;
    QString origin;
    QVariantMap gps;
};

// Where in-memory images of a task go to be written as JPEG files (the share worker's image
// queue). The worker implements it and installs itself with ShareTask::setImageQueue.
class ImageQueue {
public:
    virtual ~ImageQueue() = default;
    // Queues the task's images in one step: the implementation marks the task's photos incoming,
    // writes each image to its path (writeJpegFile) and clears the mark once the task's last
    // queued image is written. One step, so the photos never look stable halfway through.
    virtual void enqueue(const ShareTaskPtr &task, const QList<ImageJob> &jobs) = 0;
};

// One share: its photos, recipients, note, the resume state of its upload and its share-set
// folder, which holds the photo files and the archive "info.plist". Every operation is safe
// from any thread; notifications are posted with no lock held.
class ShareTask : public QObject, public std::enable_shared_from_this<ShareTask> {
    Q_OBJECT
public:
    // A new empty task without a folder. Posts "selectedPhotosChanged".
    static ShareTaskPtr create();

    // The current task, the one the main window edits; made (with a new share-set folder) when
    // there is none.
    static ShareTaskPtr singleton();
    // The current task, or null.
    static ShareTaskPtr singletonNA();
    // Empties the current-task slot (the task lives on while someone holds it).
    static void terminate();
    // Empties the slot; the share queue that holds the task now owns it.
    static void detach();
    // Makes `task` current. The task it replaces has its folder deleted when it has no photos;
    // one with photos keeps its files (a later start sweeps folders no live share names).
    static void adopt(const ShareTaskPtr &task);

    // Restores a task from archive bytes; null (logged) when they are not a valid archive. A
    // resume note of the same bundle that got further than the archive moves the resume point on.
    static ShareTaskPtr shareTaskWithData(const QByteArray &data, const QVariantMap &resumeNote = {});
    // Restores the task of a share-set folder from its archive and resume note; null when there is
    // no archive or it is bad.
    static ShareTaskPtr shareTaskWithPath(const QString &folder);
    // The archive bytes as saveTask would write them (thumbnails not yet written are left out).
    QByteArray archiveData() const;

    // Installs the image queue (not owned); nullptr makes processPhotoInfos write files itself.
    static void setImageQueue(ImageQueue *queue);

    ~ShareTask() override;

    // Photos.
    QList<PhotoInfo> photoInfos() const;
    int photoCount() const;
    PhotoInfo photoInfo(int index) const;
    // Sets (or with an invalid value removes) one key of the photo at `index`.
    void setPhotoValue(int index, const QString &key, const QVariant &value);
    // Edits the photo list in one step under the task's lock (keep `edit` short; no callbacks).
    void editPhotoInfos(const std::function<void(QList<PhotoInfo> &)> &edit);
    bool hasPhotos() const;

    // Full-size uploads still to do after the bundle was sent.
    QList<UploadItem> fullPhotoInfos() const;
    void setFullPhotoInfos(const QList<UploadItem> &items);
    void appendFullPhotoInfo(const UploadItem &item);
    // Removes the first staged item of the file `url`; false when none matched.
    bool removeFullPhotoInfo(const QString &url);
    int fullPhotoCount() const;

    std::shared_ptr<RecipientList> recipients() const { return m_recipients; }
    bool hasRecipients() const { return !m_recipients->isEmpty(); }

    QString message() const;
    void setMessage(const QString &message);
    std::optional<QStringList> names() const;
    void setNames(const std::optional<QStringList> &names);
    QString path() const;
    void setPath(const QString &path);
    // The bundle's identity; a new UUID string is made and kept on first read when empty.
    QString bundleGuid();
    void setBundleGuid(const QString &guid);
    int continuePhoto() const;
    void setContinuePhoto(int index);
    bool sentBundleCreate() const;
    void setSentBundleCreate(bool sent);
    bool sendAttempted() const;
    void setSendAttempted(bool attempted);
    bool sendCompleted() const;
    void setSendCompleted(bool completed);
    // Given up: kept to be sent again, as a new bundle unless the old one could not be withdrawn.
    bool sendFailed() const;
    void setSendFailed(bool failed);
    QVariantMap pathLookup() const;

    // Photos of a sent share that did not reach the server (their files vanished or could not
    // be read), by their source paths ("opath", else "url").
    QStringList missingPhotos() const;
    // Records the photo with that server identity as missing.
    void notePhotoMissing(const QString &photoGuid);
    ShareOwner owner() const;
    void setOwner(const ShareOwner &owner);

    bool photosIncoming() const;
    // Sets the flag and emits photosStabilizedChanged.
    void setPhotosIncoming(bool incoming);
    // The same in two halves, for a caller that sets the flag under its own lock and must not
    // emit there: the store, then the signal with the flag as it is by then.
    void markPhotosIncoming(bool incoming);
    void announcePhotosIncoming();
    bool photosStabilized() const { return !photosIncoming(); }

    // Creates a new share-set folder in the cache folder and returns its path (also on failure,
    // which is logged).
    static QString newBundleInfoPath();
    // Writes the archive (and the thumbnails not yet on disk) into the folder, atomically, and
    // drops the resume note it now holds. False when there is no folder or the write failed.
    bool saveTask();
    // Writes only the bundle guid and resume point, as a small note beside the archive: the
    // whole archive of a large share is too much to write after every photo. Atomic, not synced.
    bool saveResumeNote();

    // Appends a photo; its "order" becomes the number of photos before it.
    void pushPhoto(const PhotoInfo &info);
    void deletePhoto(int index);
    // Removes the (first equal) entry, its source path and its files.
    void deletePhotoEntry(const PhotoInfo &info);
    // deletePhotoEntry of the first photo whose "opath" is `sourcePath`.
    void deleteThisPhoto(const QString &sourcePath);
    bool hasThisPhoto(const QString &sourcePath) const;
    // Deletes the photo's file, unless it is remote or lies outside this task's folder.
    void deleteCachedFile(const PhotoInfo &info);
    // Deletes everything inside the share-set folder, not the folder.
    void deletePhotoFiles();
    // Deletes the folder and forgets the path; nothing while staged uploads are pending.
    void deleteArchives();
    // Empties the task and its folder; nothing while staged uploads are pending.
    void clearTask();

    // Replaces the photo list, then writes its in-memory images on a background thread.
    void replacePhotos(const QList<PhotoInfo> &infos);
    // Gives every photo that has an in-memory image ("photo") and no file a JPEG path in the
    // folder and hands the image to the image queue; drops the in-memory images; saves.
    void processPhotoInfos();

signals:
    // Emitted on the thread that changed the flag.
    void photosStabilizedChanged(bool stabilized);

private:
    struct CreateTag { };

public:
    explicit ShareTask(CreateTag);

private:
    // The archived fields, copied whole for a save.
    struct State {
        QList<PhotoInfo> photoInfos;
        QList<UploadItem> fullPhotoInfos;
        QString message;
        std::optional<QStringList> names;
        QString path;
        QString bundleGuid;
        int continuePhoto = 0;
        bool sentBundleCreate = false;
        QVariantMap pathLookup;
        bool sendAttempted = false;
        bool sendCompleted = false;
        bool sendFailed = false;
        QStringList missingPhotos;
        ShareOwner owner;
    };
    // The state and the recipients, taken under the lock.
    std::pair<State, QStringList> snapshot() const;
    static QVariantMap archiveMap(const State &state, const QStringList &recipients, bool writeThumbs);
    void postPhotosChanged();
    // How a missing photo is named: where it came from, else its file.
    static QString sourceOf(const PhotoInfo &info);
    // The archived photos whose files are still there, thumbnails read from the task's folder.
    // A photo gone before the resume point moves `resumeAt` back; one gone after it is named in
    // `missing` once the share was sent.
    static QList<PhotoInfo> restorePhotos(const QList<QVariantMap> &photos, const QString &folder,
        int continuePhoto, bool sent, int &resumeAt, QStringList &missing);
    static bool ownsFolder(const QString &folder);

    mutable QMutex m_mutex;
    // Serialises whole saves so an older snapshot never lands after a newer one.
    QMutex m_saveMutex;
    State m_state;
    std::shared_ptr<RecipientList> m_recipients;
    bool m_photosIncoming = false;
};

} // namespace lf

Q_DECLARE_METATYPE(lf::ShareTaskPtr)
