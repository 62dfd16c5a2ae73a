#include "share/ShareTask.h"

#include "api/ServiceAPI.h"
#include "foundation/FileRules.h"
#include "foundation/Identity.h"
#include "foundation/LogCategories.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Workers.h"
#include "share/PhotoPrep.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>

namespace lf {

namespace {

QMutex g_currentMutex;
ShareTaskPtr g_current;
std::atomic<ImageQueue *> g_imageQueue {nullptr};

QString key(const char *name) {
    return QString::fromLatin1(name);
}

bool isRemote(const QString &url) {
    return url.startsWith(QLatin1String(kRemoteUrlPrefix));
}

bool removePath(const QString &path, QString *error) {
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink()) {
        if (QDir(path).removeRecursively())
            return true;
        *error = QStringLiteral("cannot remove folder");
        return false;
    }
    QFile file(path);
    if (file.remove())
        return true;
    *error = file.errorString();
    return false;
}

// A thumbnail given as a plain image becomes a PhotoThumb, so it is written to disk only once.
PhotoInfo withThumbHolder(PhotoInfo info) {
    const auto it = info.find(key(kPhotoThumb));
    if (it != info.end() && it.value().typeId() == QMetaType::QImage)
        it.value() = QVariant::fromValue(PhotoThumb(it.value().value<QImage>()));
    return info;
}

} // namespace

// ---- ShareOwner ----

ShareOwner ShareOwner::onCurrentServer(const QString &user) {
    return {user, QStringLiteral("%1:%2").arg(ServiceAPI::currentHost(), ServiceAPI::currentPort())};
}

bool ShareOwner::isUser(const QString &otherUser) const {
    return user.compare(otherUser, Qt::CaseInsensitive) == 0;
}

bool ShareOwner::sameAs(const ShareOwner &other) const {
    return isUser(other.user) && host == other.host;
}

QString ShareOwner::text() const {
    return host.isEmpty() ? user : QStringLiteral("%1 on %2").arg(user, host);
}

// ---- RecipientList ----

QStringList RecipientList::list() const {
    QMutexLocker lock(&m_mutex);
    return m_list;
}

void RecipientList::setList(const QStringList &recipients) {
    QMutexLocker lock(&m_mutex);
    m_list = recipients;
}

void RecipientList::append(const QString &recipient) {
    QMutexLocker lock(&m_mutex);
    m_list.append(recipient);
}

void RecipientList::insert(int index, const QString &recipient) {
    QMutexLocker lock(&m_mutex);
    m_list.insert(qBound(0, index, int(m_list.size())), recipient);
}

void RecipientList::removeAt(int index) {
    QMutexLocker lock(&m_mutex);
    if (index >= 0 && index < m_list.size())
        m_list.removeAt(index);
}

int RecipientList::removeAll(const QString &recipient) {
    QMutexLocker lock(&m_mutex);
    return int(m_list.removeAll(recipient));
}

void RecipientList::clear() {
    QMutexLocker lock(&m_mutex);
    m_list.clear();
}

int RecipientList::count() const {
    QMutexLocker lock(&m_mutex);
    return int(m_list.size());
}

bool RecipientList::isEmpty() const {
    return count() == 0;
}

QString ShareTask::sourceOf(const PhotoInfo &info) {
    const QString source = info.value(key(kPhotoOpath)).toString();
    return source.isEmpty() ? info.value(key(kPhotoUrl)).toString() : source;
}

// ---- the current task ----

ShareTaskPtr ShareTask::create() {
    PhotoThumb::registerType();
    qRegisterMetaType<ShareTaskPtr>();
    auto task = std::make_shared<ShareTask>(CreateTag {});
    NotificationCenter::defaultCenter().post(key(kSelectedPhotosChangedNotification));
    return task;
}

ShareTask::ShareTask(CreateTag)
    : m_recipients(std::make_shared<RecipientList>()) { }

// Files are not deleted here: a task dropped from memory (at exit, or one restored and kept
// for the next start) must keep its share on disk. Finished and cancelled shares are deleted
// explicitly (deleteArchives), and folders no live share names are swept at start-up.
ShareTask::~ShareTask() = default;

ShareTaskPtr ShareTask::singleton() {
    QMutexLocker lock(&g_currentMutex);
    if (!g_current) {
        auto task = create();
        task->setPath(newBundleInfoPath());
        g_current = std::move(task);
    }
    return g_current;
}

ShareTaskPtr ShareTask::singletonNA() {
    QMutexLocker lock(&g_currentMutex);
    return g_current;
}

void ShareTask::terminate() {
    ShareTaskPtr old; // released after the lock
    QMutexLocker lock(&g_currentMutex);
    old.swap(g_current);
}

void ShareTask::detach() {
    terminate();
}

void ShareTask::adopt(const ShareTaskPtr &task) {
    ShareTaskPtr old;
    {
        QMutexLocker lock(&g_currentMutex);
        old = g_current;
        g_current = task;
    }
    if (old && old != task && !old->hasPhotos())
        old->deleteArchives();
}

void ShareTask::setImageQueue(ImageQueue *queue) {
    g_imageQueue.store(queue);
}

// ---- fields ----

QList<PhotoInfo> ShareTask::photoInfos() const {
    QMutexLocker lock(&m_mutex);
    return m_state.photoInfos;
}

int ShareTask::photoCount() const {
    QMutexLocker lock(&m_mutex);
    return int(m_state.photoInfos.size());
}

PhotoInfo ShareTask::photoInfo(int index) const {
    QMutexLocker lock(&m_mutex);
    return index >= 0 && index < m_state.photoInfos.size() ? m_state.photoInfos.at(index) : PhotoInfo();
}

void ShareTask::setPhotoValue(int index, const QString &name, const QVariant &value) {
    QMutexLocker lock(&m_mutex);
    if (index < 0 || index >= m_state.photoInfos.size())
        return;
    if (value.isValid())
        m_state.photoInfos[index].insert(name, value);
    else
        m_state.photoInfos[index].remove(name);
    if (name == QLatin1String(kPhotoThumb))
        m_state.photoInfos[index] = withThumbHolder(m_state.photoInfos[index]);
}

void ShareTask::editPhotoInfos(const std::function<void(QList<PhotoInfo> &)> &edit) {
    QMutexLocker lock(&m_mutex);
    edit(m_state.photoInfos);
    for (PhotoInfo &info : m_state.photoInfos)
        info = withThumbHolder(info);
}

bool ShareTask::hasPhotos() const {
    return photoCount() > 0;
}

QList<UploadItem> ShareTask::fullPhotoInfos() const {
    QMutexLocker lock(&m_mutex);
    return m_state.fullPhotoInfos;
}

void ShareTask::setFullPhotoInfos(const QList<UploadItem> &items) {
    QMutexLocker lock(&m_mutex);
    m_state.fullPhotoInfos = items;
}

void ShareTask::appendFullPhotoInfo(const UploadItem &item) {
    QMutexLocker lock(&m_mutex);
    m_state.fullPhotoInfos.append(item);
}

bool ShareTask::removeFullPhotoInfo(const QString &url) {
    QMutexLocker lock(&m_mutex);
    for (qsizetype i = 0; i < m_state.fullPhotoInfos.size(); ++i) {
        if (m_state.fullPhotoInfos.at(i).url == url) {
            m_state.fullPhotoInfos.removeAt(i);
            return true;
        }
    }
    return false;
}

int ShareTask::fullPhotoCount() const {
    QMutexLocker lock(&m_mutex);
    return int(m_state.fullPhotoInfos.size());
}

QString ShareTask::message() const {
    QMutexLocker lock(&m_mutex);
    return m_state.message;
}

void ShareTask::setMessage(const QString &message) {
    QMutexLocker lock(&m_mutex);
    m_state.message = message;
}

std::optional<QStringList> ShareTask::names() const {
    QMutexLocker lock(&m_mutex);
    return m_state.names;
}

void ShareTask::setNames(const std::optional<QStringList> &names) {
    QMutexLocker lock(&m_mutex);
    m_state.names = names;
}

QString ShareTask::path() const {
    QMutexLocker lock(&m_mutex);
    return m_state.path;
}

void ShareTask::setPath(const QString &path) {
    QMutexLocker lock(&m_mutex);
    m_state.path = path;
}

QString ShareTask::bundleGuid() {
    QMutexLocker lock(&m_mutex);
    if (m_state.bundleGuid.isEmpty())
        m_state.bundleGuid = generateUUIDString();
    return m_state.bundleGuid;
}

void ShareTask::setBundleGuid(const QString &guid) {
    QMutexLocker lock(&m_mutex);
    m_state.bundleGuid = guid;
}

int ShareTask::continuePhoto() const {
    QMutexLocker lock(&m_mutex);
    return m_state.continuePhoto;
}

void ShareTask::setContinuePhoto(int index) {
    QMutexLocker lock(&m_mutex);
    m_state.continuePhoto = index;
}

bool ShareTask::sentBundleCreate() const {
    QMutexLocker lock(&m_mutex);
    return m_state.sentBundleCreate;
}

void ShareTask::setSentBundleCreate(bool sent) {
    QMutexLocker lock(&m_mutex);
    m_state.sentBundleCreate = sent;
}

bool ShareTask::sendAttempted() const {
    QMutexLocker lock(&m_mutex);
    return m_state.sendAttempted;
}

void ShareTask::setSendAttempted(bool attempted) {
    QMutexLocker lock(&m_mutex);
    m_state.sendAttempted = attempted;
}

bool ShareTask::sendCompleted() const {
    QMutexLocker lock(&m_mutex);
    return m_state.sendCompleted;
}

void ShareTask::setSendCompleted(bool completed) {
    QMutexLocker lock(&m_mutex);
    m_state.sendCompleted = completed;
}

bool ShareTask::sendFailed() const {
    QMutexLocker lock(&m_mutex);
    return m_state.sendFailed;
}

void ShareTask::setSendFailed(bool failed) {
    QMutexLocker lock(&m_mutex);
    m_state.sendFailed = failed;
}

QStringList ShareTask::missingPhotos() const {
    QMutexLocker lock(&m_mutex);
    return m_state.missingPhotos;
}

void ShareTask::notePhotoMissing(const QString &photoGuid) {
    QMutexLocker lock(&m_mutex);
    for (const PhotoInfo &info : std::as_const(m_state.photoInfos)) {
        if (info.value(key(kPhotoGuid)).toString() != photoGuid)
            continue;
        const QString source = sourceOf(info);
        if (!m_state.missingPhotos.contains(source))
            m_state.missingPhotos.append(source);
        return;
    }
}

ShareOwner ShareTask::owner() const {
    QMutexLocker lock(&m_mutex);
    return m_state.owner;
}

void ShareTask::setOwner(const ShareOwner &owner) {
    QMutexLocker lock(&m_mutex);
    m_state.owner = owner;
}

QVariantMap ShareTask::pathLookup() const {
    QMutexLocker lock(&m_mutex);
    return m_state.pathLookup;
}

bool ShareTask::photosIncoming() const {
    QMutexLocker lock(&m_mutex);
    return m_photosIncoming;
}

void ShareTask::setPhotosIncoming(bool incoming) {
    markPhotosIncoming(incoming);
    emit photosStabilizedChanged(!incoming);
}

void ShareTask::markPhotosIncoming(bool incoming) {
    QMutexLocker lock(&m_mutex);
    m_photosIncoming = incoming;
}

void ShareTask::announcePhotosIncoming() {
    emit photosStabilizedChanged(photosStabilized());
}

// ---- folder ----

QString ShareTask::newBundleInfoPath() {
    const QString path
        = QDir(sandboxFolder())
              .filePath(QStringLiteral("%1.%2").arg(generateUUIDString(), key(kShareSetSuffix)));
    if (!makePrivateFolder(path))
        qCWarning(lfShare).noquote() << QStringLiteral("couldn't create bundle %1").arg(path);
    return path;
}

// Only a share-set folder inside the cache folder is ever written to or emptied, whatever
// path an archive claims.
bool ShareTask::ownsFolder(const QString &folder) {
    if (folder.isEmpty() || !folder.endsWith(QLatin1String(kShareSetSuffix)))
        return false;
    const QString cache = sandboxFolder();
    return isInsideFolder(folder, cache) && QDir::cleanPath(folder) != QDir::cleanPath(cache);
}

// ---- photos ----

void ShareTask::pushPhoto(const PhotoInfo &info) {
    PhotoInfo entry = withThumbHolder(info);
    {
        QMutexLocker lock(&m_mutex);
        entry.insert(key(kPhotoOrder), int(m_state.photoInfos.size()));
        m_state.photoInfos.append(entry);
        const QString opath = entry.value(key(kPhotoOpath)).toString();
        if (!opath.isEmpty())
            m_state.pathLookup.insert(opath, key(kPathLookupMark));
    }
    postPhotosChanged();
}

void ShareTask::deletePhoto(int index) {
    const PhotoInfo entry = photoInfo(index);
    if (!entry.isEmpty())
        deletePhotoEntry(entry);
}

void ShareTask::deletePhotoEntry(const PhotoInfo &info) {
    deleteCachedFile(info);
    const QString path = this->path();
    const QVariant thumb = info.value(key(kPhotoThumb));
    if (thumb.typeId() == qMetaTypeId<PhotoThumb>()) {
        const QString thumbFile = thumb.value<PhotoThumb>().filePath();
        if (!thumbFile.isEmpty() && ownsFolder(path) && isInsideFolder(thumbFile, path))
            QFile::remove(thumbFile);
    }
    {
        QMutexLocker lock(&m_mutex);
        m_state.photoInfos.removeOne(info);
        // The same source may be in the task twice; it stays known while one copy remains.
        const QString opath = info.value(key(kPhotoOpath)).toString();
        const bool stillThere = std::any_of(m_state.photoInfos.cbegin(), m_state.photoInfos.cend(),
            [&](const PhotoInfo &p) { return p.value(key(kPhotoOpath)).toString() == opath; });
        if (!opath.isEmpty() && !stillThere)
            m_state.pathLookup.remove(opath);
    }
    postPhotosChanged();
}

void ShareTask::deleteThisPhoto(const QString &sourcePath) {
    PhotoInfo found;
    {
        QMutexLocker lock(&m_mutex);
        for (const PhotoInfo &info : std::as_const(m_state.photoInfos)) {
            if (info.value(key(kPhotoOpath)).toString() == sourcePath) {
                found = info;
                break;
            }
        }
    }
    if (!found.isEmpty())
        deletePhotoEntry(found);
}

bool ShareTask::hasThisPhoto(const QString &sourcePath) const {
    QMutexLocker lock(&m_mutex);
    return m_state.pathLookup.contains(sourcePath);
}

void ShareTask::deleteCachedFile(const PhotoInfo &info) {
    const QString url = info.value(key(kPhotoUrl)).toString();
    if (url.isEmpty() || isRemote(url))
        return;
    // A photo sent from where it lies (not copied in) is the user's own file: never deleted.
    const QString folder = path();
    if (!ownsFolder(folder) || !isInsideFolder(url, folder))
        return;
    QFile file(url);
    if (file.exists() && !file.remove())
        qCWarning(lfShare).noquote() << QStringLiteral("cannot delete %1: %2").arg(url, file.errorString());
}

void ShareTask::deletePhotoFiles() {
    const QString folder = path();
    if (folder.isEmpty())
        return;
    if (!ownsFolder(folder)) {
        qCWarning(lfShare).noquote() << QStringLiteral("not a share-set folder, left alone: %1").arg(folder);
        return;
    }
    const QDir dir(folder);
    if (!dir.exists()) {
        qCWarning(lfShare).noquote()
            << QStringLiteral("(%1) couldn't get contents %2").arg(QStringLiteral("no such folder"), folder);
        return;
    }
    const QFileInfoList entries
        = dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        QString error;
        if (!removePath(entry.filePath(), &error))
            qCWarning(lfShare).noquote()
                << QStringLiteral("(%1) couldn't delete %2").arg(error, entry.filePath());
    }
}

void ShareTask::deleteArchives() {
    const QString folder = path();
    if (folder.isEmpty() || fullPhotoCount() > 0)
        return;
    deletePhotoFiles();
    if (ownsFolder(folder) && QFileInfo::exists(folder) && !QDir().rmdir(folder))
        qCWarning(lfShare).noquote()
            << QStringLiteral("(%1) couldn't delete %2").arg(QStringLiteral("cannot remove folder"), folder);
    setPath(QString());
}

void ShareTask::clearTask() {
    {
        QMutexLocker lock(&m_mutex);
        if (!m_state.fullPhotoInfos.isEmpty())
            return;
        m_state.message = QString();
        m_state.names.reset();
        m_state.photoInfos.clear();
        m_state.pathLookup.clear();
        m_state.missingPhotos.clear();
    }
    m_recipients->clear();
    deletePhotoFiles();
    postPhotosChanged();
}

void ShareTask::postPhotosChanged() {
    NotificationCenter::defaultCenter().post(key(kSelectedPhotosChangedNotification));
}

// ---- in-memory images ----

void ShareTask::replacePhotos(const QList<PhotoInfo> &infos) {
    {
        QMutexLocker lock(&m_mutex);
        m_state.photoInfos.clear();
        for (const PhotoInfo &info : infos)
            m_state.photoInfos.append(withThumbHolder(info));
    }
    auto self = shared_from_this();
    if (!Workers::instance().start(
            QStringLiteral("processPhotoInfos"), [self] { self->processPhotoInfos(); })) {
        // Shutting down: no new threads, so the images are written here and now.
        processPhotoInfos();
    }
}

void ShareTask::processPhotoInfos() {
    QList<ImageJob> jobs;
    {
        QMutexLocker lock(&m_mutex);
        for (PhotoInfo &info : m_state.photoInfos) {
            const auto photo = info.constFind(key(kPhotoImage));
            if (photo == info.cend())
                continue;
            if (!info.contains(key(kPhotoUrl)) && m_state.path.isEmpty()) {
                qCInfo(lfShare).noquote() << QStringLiteral("no share-set folder for an in-memory image");
            } else if (!info.contains(key(kPhotoUrl))) {
                const QString file
                    = QDir(m_state.path).filePath(QStringLiteral("%1.jpg").arg(generateUUIDString()));
                info.insert(key(kPhotoUrl), file);
                const QString origin = info.value(key(kPhotoOrigin)).toString();
                jobs.append({photo.value().value<QImage>(), file,
                    origin.isEmpty() ? key(kOriginLibrary) : origin, info.value(key(kPhotoGps)).toMap()});
            }
            info.remove(key(kPhotoImage));
        }
    }
    ImageQueue *queue = g_imageQueue.load();
    if (queue && !jobs.isEmpty()) {
        queue->enqueue(shared_from_this(), jobs);
    } else if (!jobs.isEmpty()) {
        setPhotosIncoming(true);
        for (const ImageJob &job : std::as_const(jobs)) {
            QString error;
            if (!writeJpegFile(job.image, job.path, job.gps, &error))
                qCWarning(lfShare).noquote()
                    << QStringLiteral("error writing image file = %1 (%2)").arg(job.path, error);
        }
        setPhotosIncoming(false);
    }
    saveTask();
}

} // namespace lf
