#include "sending/BundleUploader.h"

#include "foundation/Clock.h"
#include "foundation/LogCategories.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Strings.h"
#include "foundation/TextRules.h"
#include "foundation/Workers.h"
#include "session/Service.h"
#include "share/PhotoPrep.h"
#include "share/ShareTask.h"

#include <QFileInfo>

#include <exception>
#include <future>

namespace lf {

namespace {

constexpr const char *kBundlePath = "/api/bundle";

// Upload progress is reported when it moved by at least this fraction (or reached the end),
// so a large photo does not flood the main thread.
constexpr double kProgressStep = 0.01;

bool isSuccess(int status) {
    return status >= 200 && status <= 299;
}

QString httpErrorText(int status) {
    return QStringLiteral("http error %1").arg(status);
}

} // namespace

bool retrySamePhotoIfError(int status) {
    switch (status) {
    case NetError::NotConnected:
    case 422:
    case 449:
    case 502:
    case 503:
    case 504:
        return true;
    default:
        return false;
    }
}

void BundleUploader::install(Service &service) {
    service.installBundleSender(
        [](ServiceAPI &api, BundleReporter &reporter) -> std::unique_ptr<BundleSender> {
            return std::make_unique<BundleUploader>(api, reporter);
        });
}

BundleUploader::BundleUploader(ServiceAPI &api, BundleReporter &reporter)
    : m_api(api)
    , m_reporter(reporter) { }

bool BundleUploader::cancelled() const {
    return m_reporter.cancelled() || m_stopping;
}

void BundleUploader::setCancelled(bool cancelled) {
    m_reporter.setCancelled(cancelled);
    if (cancelled)
        HttpTransport::shared().wakeTransfers();
}

void BundleUploader::setStopping(bool stopping) {
    m_stopping = stopping;
    if (stopping)
        HttpTransport::shared().wakeTransfers();
}

void BundleUploader::setRetried(bool retried) {
    if (retried && !m_retried)
        m_reporter.progress(
            QString::fromLatin1(ProgressWhat::Network), localizedString(BundleProgress::TextRetrying));
    m_retried = retried;
}

void BundleUploader::cancelBundle(const QString &bundleGuid) {
    qCInfo(lfSending).noquote() << QStringLiteral("cancel bundle %1").arg(bundleGuid);
    // Reported first: progress is silent once the flag is set.
    m_reporter.progress(
        QString::fromLatin1(ProgressWhat::Cancelled), localizedString(BundleProgress::TextCancelled));
    setCancelled(true);
    m_reporter.completed({{RecordKey::ClientAction, ClientAction::SendBundle}});
}

ApiRequest BundleUploader::createBundleRequest(const ShareRequest &request) const {
    QVariantList photos;
    for (const UploadItem &item : request.photos) {
        QVariantMap photo = item.toMap();
        if (item.isReshare()) {
            photo.insert(BundleKey::ServerGuid, item.photoGuid);
            photo.remove(kPhotoGuid);
        }
        photo.insert(BundleKey::Filename, QFileInfo(item.url).fileName());
        photo.remove(kPhotoGps);
        photos.append(photo);
    }
    QVariantMap body {{BundleKey::BundleGuid, request.bundleGuid},
        {BundleKey::Recipients, request.recipients}, {BundleKey::Message, request.message},
        {BundleKey::Photos, photos}};
    if (request.continuePhoto)
        body.insert(BundleKey::ContinuePhoto, *request.continuePhoto);
    if (request.sentCreate)
        body.insert(BundleKey::SentCreate, true);
    return m_api.createBundleRequest(body);
}

std::optional<ApiRequest> BundleUploader::uploadPhotoRequest(
    const ShareRequest &request, int index, QString *unreadable) const {
    const UploadItem item = request.photos.value(index);
    return uploadPhotoRequest(item, item.type, item.fullImage.value_or(false), unreadable);
}

std::optional<ApiRequest> BundleUploader::uploadPhotoRequest(
    const UploadItem &item, const QString &type, bool full, QString *unreadable) const {
    if (item.isReshare())
        return std::nullopt;
    QString path = item.url;
    QString error;
    const PhotoBytes bytes = path.isEmpty() ? PhotoBytes() : dataForFile(path, full, &error);

    QVariantMap params {{kPhotoCaption, item.caption}, {kPhotoOrder, item.order}};
    if (!type.isEmpty())
        params.insert(kUploadType, type);
    if (!item.origin.isEmpty())
        params.insert(kPhotoOrigin, item.origin);
    if (!item.photoGuid.isEmpty())
        params.insert(kPhotoGuid, item.photoGuid);
    RequestBody body;
    if (bytes.isNull()) {
        if (error.isEmpty())
            error = QStringLiteral("no file");
        params.insert(BundleKey::Error, error);
        if (unreadable)
            *unreadable = error;
    } else {
        params.insert(BundleKey::Hash, SHA1(bytes.rawData()));
        // A file sent as it is streams from disk; an encoded rendition goes from memory.
        body = bytes.isMapped() ? RequestBody::fromFile(path) : RequestBody::data(bytes.toByteArray());
    }
    return m_api.uploadPhotoRequest(params, body);
}

BundleUploader::Transfer BundleUploader::runBundleTransfer(const ApiRequest &request, bool reportUpload) {
    SendOptions options;
    options.cancelled = [this] { return cancelled(); };
    double reported = -1.0;
    if (reportUpload) {
        options.uploadProgress = [this, &reported](qint64 sent, qint64 total) {
            if (total <= 0)
                return;
            const double fraction = double(sent) / double(total);
            if (fraction - reported < kProgressStep && fraction < 1.0)
                return;
            reported = fraction;
            m_reporter.progress(QString::fromLatin1(ProgressWhat::Upload), sent, total, false);
            m_reporter.progressConnected();
        };
    }
    const HttpResponse response = HttpTransport::shared().send(request.http, options);
    Transfer t;
    t.transportError = !response.hasResponse();
    t.status = t.transportError ? response.errorCode : response.status;
    t.body = response.body;
    return t;
}

// One bundle send: create the bundle, upload its photos one by one, close it, report. Each step
// either names the next one or stops the send.
class BundleSend {
public:
    BundleSend(BundleUploader &uploader, const ShareRequest &request)
        : m_uploader(uploader)
        , m_api(uploader.m_api)
        , m_reporter(uploader.m_reporter)
        , m_request(request)
        , m_task(request.task)
        , m_guid(request.bundleGuid)
        , m_count(int(request.photos.size()))
        , m_alreadyCreated(request.sentCreate)
        , m_resume(request.continuePhoto.value_or(-1)) { }

    SendResult run();

private:
    // A photo that could not be read still goes, as a report in place of its bytes; the server
    // then holds no copy of it, so the share names it missing.
    struct PhotoStep {
        std::optional<ApiRequest> request;
        bool unreadable = false;
    };

    BundleState state() const { return m_uploader.m_bundleState; }
    void setState(BundleState state) { m_uploader.m_bundleState = state; }
    void step();
    void start();
    void create();
    void photo();
    void close();
    void send(const ApiRequest &request, bool reportUpload, bool unreadable);
    void succeeded(bool reportUpload, bool unreadable);
    void saveResumePoint();
    void failed(const BundleUploader::Transfer &t);
    void stop(int status, const QString &error);
    void stopCancelled();
    PhotoStep makePhotoStep(int i) const;
    std::future<PhotoStep> prefetch(int i);
    PhotoStep photoRequest(int i);
    SendResult report();
    // The delegate's record of the result.
    QVariantMap record() const;

    BundleUploader &m_uploader;
    ServiceAPI &m_api;
    BundleReporter &m_reporter;
    const ShareRequest &m_request;
    const ShareTaskPtr m_task;
    const QString m_guid;
    const int m_count;
    const bool m_alreadyCreated;
    int m_resume; // the resume value, -1 once used or when there is none
    std::optional<int> m_stoppedAt;
    int m_index = 0;
    int m_retries = 0;
    bool m_createdNow = false;
    int m_successfulPhotos = 0;
    bool m_closed = false;
    bool m_wasCancelled = false;
    // When the resume point was last written to the archive (monotonic ms); none yet.
    std::optional<qint64> m_resumeSavedMs;
    bool m_resumeUnsaved = false;
    SendResult m_result;
    // The next photo's request (its bytes encoded and hashed) is made while the current one
    // travels, so the CPU and the network work at the same time. Joined before run() returns.
    std::future<PhotoStep> m_next;
    int m_nextIndex = -1;
};

SendResult BundleSend::run() {
    setState(BundleState::Start);
    {
        ScopedCancelHandler handler(&m_uploader);
        while (state() != BundleState::Finished) {
            try {
                step();
            } catch (const std::exception &e) {
                // A step that throws would throw again: end the send there, so the caller
                // moves past the photo instead of this loop spinning on it.
                stop(0, QString::fromUtf8(e.what()));
            }
        }
    }
    if (m_next.valid())
        m_next.wait();
    // However the send ended, the archive itself takes the point reached.
    if (m_resumeUnsaved)
        m_task->saveTask();
    return report();
}

void BundleSend::step() {
    if (m_uploader.cancelled()) {
        stopCancelled();
        return;
    }
    switch (state()) {
    case BundleState::Start:
        start();
        break;
    case BundleState::Create:
        create();
        break;
    case BundleState::Photos:
        photo();
        break;
    case BundleState::Close:
        close();
        break;
    case BundleState::Finished:
        break;
    }
}

void BundleSend::start() {
    if (!m_alreadyCreated)
        m_reporter.progress(BundleProgress::Creating, localizedString(BundleProgress::TextSending));
    setState(BundleState::Create);
}

void BundleSend::create() {
    if (m_alreadyCreated) {
        m_index = std::clamp(std::max(m_resume, 0), 0, m_count);
        m_resume = -1;
        setState(BundleState::Photos);
        return;
    }
    m_reporter.progress(BundleProgress::Creating, localizedString(BundleProgress::TextCreating));
    const ApiRequest request = m_uploader.createBundleRequest(m_request);
    qCInfo(lfSending).noquote() << QStringLiteral("creating the bundle");
    m_successfulPhotos = 0;
    send(request, false, false);
}

void BundleSend::photo() {
    if (m_index >= m_count) {
        setState(BundleState::Close);
        return;
    }
    m_reporter.progress(BundleProgress::Photo,
        localizedFormat(
            BundleProgress::TextSharingPhotos, {QString::number(m_index + 1), QString::number(m_count)}),
        m_index, m_count);
    const PhotoStep made = photoRequest(m_index);
    if (!made.request) {
        ++m_index; // already on the server
        return;
    }
    send(*made.request, true, made.unreadable);
}

void BundleSend::close() {
    m_reporter.progress(BundleProgress::Closing, localizedString(BundleProgress::TextClosing));
    send(m_api.closeBundleRequest({{BundleKey::BundleGuid, m_guid}}), false, false);
}

void BundleSend::send(const ApiRequest &request, bool reportUpload, bool unreadable) {
    const BundleUploader::Transfer t = m_uploader.runBundleTransfer(request, reportUpload);
    if (m_uploader.cancelled())
        stopCancelled();
    else if (isSuccess(t.status))
        succeeded(reportUpload, unreadable);
    else
        failed(t);
}

void BundleSend::succeeded(bool reportUpload, bool unreadable) {
    NotificationCenter::defaultCenter().post(kGoodNetNotification);
    if (state() == BundleState::Photos) {
        if (unreadable && m_task)
            m_task->notePhotoMissing(m_request.photos.value(m_index).photoGuid);
        ++m_successfulPhotos;
        ++m_index;
        if (m_task) {
            m_task->setContinuePhoto(m_index);
            saveResumePoint();
        }
    } else if (state() == BundleState::Create) {
        if (m_task) {
            m_task->setSentBundleCreate(true);
            m_task->saveTask();
        }
        m_createdNow = true;
        setState(BundleState::Photos);
    } else {
        setState(BundleState::Finished);
        m_closed = true;
    }
    m_retries = 0;
    m_result.failed = false;
    m_result.status = 0;
    m_result.error.clear();
    if (reportUpload)
        m_reporter.progress(QString::fromLatin1(ProgressWhat::Upload), 1.0, true);
}

// The whole archive is written each time, so saving it after every photo made a share of n photos
// write n archives of up to n entries. It is saved after the first and the last photo and at most
// every kResumeSaveGapMs between; after the other photos a small note beside it takes the point, so
// a send stopped in any way, even killed, resumes after the last photo the server accepted.
void BundleSend::saveResumePoint() {
    const qint64 now = Clock::instance().monotonicMs();
    m_resumeUnsaved = m_resumeSavedMs && m_index < m_count && now - *m_resumeSavedMs < kResumeSaveGapMs;
    if (m_resumeUnsaved) {
        m_task->saveResumeNote();
        return;
    }
    m_task->saveTask();
    m_resumeSavedMs = now;
}

void BundleSend::failed(const BundleUploader::Transfer &t) {
    const int status = t.status;
    const QString error = t.transportError ? networkErrorDescription(status) : httpErrorText(status);
    ++m_retries;
    if (retrySamePhotoIfError(status) && m_retries <= kBundleStepRetries) {
        m_reporter.progress(BundleProgress::Retrying, localizedString(BundleProgress::TextRetrying));
        Clock::instance().sleepUnless(
            std::chrono::milliseconds(kBundleRetryDelayMs), [this] { return m_uploader.cancelled(); });
        m_result.failed = true;
        m_result.status = status;
        m_result.error = error;
        return;
    }
    if (state() == BundleState::Close && m_successfulPhotos == 0)
        qCWarning(lfSending).noquote()
            << QStringLiteral("close bundle failure with no successful photos uploaded");
    // Every final failure says so, so the caller never takes it for a sent share.
    stop(status, error);
}

void BundleSend::stop(int status, const QString &error) {
    m_result.failed = true;
    m_result.status = status;
    m_result.error = error;
    if (state() == BundleState::Photos)
        m_stoppedAt = m_index;
    setState(BundleState::Finished);
}

void BundleSend::stopCancelled() {
    m_wasCancelled = true;
    stop(NetError::Cancelled, QStringLiteral("cancelled"));
}

BundleSend::PhotoStep BundleSend::makePhotoStep(int i) const {
    QString problem;
    PhotoStep made {m_uploader.uploadPhotoRequest(m_request, i, &problem), false};
    made.unreadable = !problem.isEmpty();
    return made;
}

// On a worker, so shutdown waits for it; made here when the program is already stopping.
std::future<BundleSend::PhotoStep> BundleSend::prefetch(int i) {
    auto promise = std::make_shared<std::promise<PhotoStep>>();
    std::future<PhotoStep> made = promise->get_future();
    const auto run = [this, promise, i] {
        try {
            promise->set_value(makePhotoStep(i));
        } catch (...) {
            promise->set_exception(std::current_exception());
        }
    };
    if (!Workers::instance().start(QStringLiteral("photo prefetch"), run))
        run();
    return made;
}

BundleSend::PhotoStep BundleSend::photoRequest(int i) {
    PhotoStep made;
    if (m_next.valid() && m_nextIndex == i) {
        made = m_next.get();
    } else {
        if (m_next.valid())
            m_next.wait();
        made = makePhotoStep(i);
    }
    m_nextIndex = -1;
    if (i + 1 < m_count) {
        m_nextIndex = i + 1;
        m_next = prefetch(i + 1);
    }
    return made;
}

SendResult BundleSend::report() {
    // Only a bundle the server closed is complete; any other end (short of a cancel, which
    // reported itself) says the share did not get through.
    if (!m_uploader.cancelled()) {
        if (m_closed)
            m_reporter.progress(BundleProgress::Complete, localizedString(BundleProgress::TextCompleted));
        else
            m_reporter.progress(BundleProgress::Failed, localizedString(BundleProgress::TextFailed));
    }
    if (m_uploader.cancelled()) {
        m_wasCancelled = true;
        m_uploader.setCancelled(false);
        if (m_createdNow && !m_uploader.m_stopping)
            m_api.cancelBundle({{BundleKey::BundleGuid, m_guid}});
    }
    if (m_stoppedAt)
        m_result.continuePhoto = *m_stoppedAt;
    else if (m_resume >= 0)
        m_result.continuePhoto = m_resume;
    m_result.sentCreate = m_createdNow;
    if (!m_wasCancelled)
        m_reporter.completed(record());
    return m_result;
}

QVariantMap BundleSend::record() const {
    QVariantMap record {{RecordKey::ClientAction, ClientAction::SendBundle},
        {BundleKey::Context, QVariant::fromValue(m_task)}};
    if (m_result.failed) {
        record.insert(BundleKey::HttpStatus, m_result.status);
        record.insert(BundleKey::Error, m_result.error);
    }
    if (m_result.continuePhoto)
        record.insert(BundleKey::ContinuePhoto, *m_result.continuePhoto);
    if (m_result.sentCreate)
        record.insert(BundleKey::SentCreate, true);
    return record;
}

SendResult BundleUploader::sendBundleAsynch(const ShareRequest &request) {
    QMutexLocker slot(&m_bundleSlot);
    return BundleSend(*this, request).run();
}

SendResult BundleUploader::uploadPhotoAsynch(const UploadItem &item) {
    QMutexLocker slot(&m_stagedSlot);
    const std::optional<ApiRequest> request = uploadPhotoRequest(item, kUploadTypeFull, true);
    if (!request)
        return {};

    Clock &clock = Clock::instance();
    HttpResponse response;
    bool stalled = false;
    for (int attempt = 1; attempt <= kStagedAttempts; ++attempt) {
        // None until the first progress of this attempt: no stall limit before the upload moves.
        // (Not 0: a clock may well read 0 when the upload starts.)
        std::optional<qint64> lastProgressMs;
        qint64 lastSent = -1;
        stalled = false;
        SendOptions options;
        options.uploadProgress = [&](qint64 sent, qint64 total) {
            if (sent == lastSent)
                return;
            lastSent = sent;
            lastProgressMs = clock.monotonicMs();
            m_reporter.progress(QString::fromLatin1(ProgressWhat::StagedUpload), sent, total, false);
        };
        options.cancelled = [&] {
            if (Workers::cancelled() || m_stopping)
                return true;
            if (lastProgressMs && clock.monotonicMs() - *lastProgressMs > kStagedStallSeconds * 1000LL)
                stalled = true;
            return stalled;
        };
        response = HttpTransport::shared().send(request->http, options);
        if (!stalled)
            break;
        qCWarning(lfSending).noquote() << QStringLiteral("staged upload stalled (attempt %1)").arg(attempt);
        if (attempt < kStagedAttempts)
            clock.sleep(std::chrono::milliseconds(kStagedRestartDelayMs));
    }

    if (stalled)
        return SendResult::failure(NetError::TimedOut, httpErrorText(NetError::TimedOut));
    if (!response.hasResponse())
        return SendResult::failure(response.errorCode, networkErrorDescription(response.errorCode));
    SendResult result;
    if (isSuccess(response.status))
        NotificationCenter::defaultCenter().post(kGoodNetNotification);
    else
        result = SendResult::failure(response.status, httpErrorText(response.status));
    result.body = QString::fromUtf8(response.body);
    return result;
}

} // namespace lf
