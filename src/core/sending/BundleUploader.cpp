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

ApiRequest BundleUploader::createBundleRequest(const QVariantMap &request) const {
    QVariantMap body = request;
    body.remove(BundleKey::Context);
    QVariantList photos;
    for (const QVariant &entry : request.value(BundleKey::Photos).toList()) {
        QVariantMap photo = entry.toMap();
        photo.remove(BundleKey::Context);
        if (photo.value(kPhotoOrigin).toString() == QLatin1String(kOriginReshare)) {
            photo.insert(BundleKey::ServerGuid, photo.value(kPhotoGuid));
            photo.remove(kPhotoGuid);
        }
        photo.insert(BundleKey::Filename, QFileInfo(photo.value(kPhotoUrl).toString()).fileName());
        photo.remove(kPhotoImage);
        photo.remove(kPhotoGps);
        photos.append(photo);
    }
    body.insert(BundleKey::Photos, photos);
    return m_api.createBundleRequest(body);
}

std::optional<ApiRequest> BundleUploader::uploadPhotoRequest(
    const QVariantMap &request, int index, QString *unreadable) const {
    const UploadItem item = request.value(BundleKey::Photos).toList().value(index).toMap();
    return uploadPhotoRequest(
        item, item.value(kUploadType).toString(), item.value(kUploadFullImage).toBool(), unreadable);
}

std::optional<ApiRequest> BundleUploader::uploadPhotoRequest(
    const UploadItem &item, const QString &type, bool full, QString *unreadable) const {
    if (item.value(kPhotoOrigin).toString() == QLatin1String(kOriginReshare))
        return std::nullopt;
    QString path = item.value(kPhotoUrl).toString();
    QString error;
    const PhotoBytes bytes = path.isEmpty() ? PhotoBytes() : dataForFile(path, full, &error);

    QVariantMap params {{kPhotoCaption, item.value(kPhotoCaption)}, {kPhotoOrder, item.value(kPhotoOrder)}};
    if (!type.isEmpty())
        params.insert(kUploadType, type);
    if (item.contains(kPhotoOrigin))
        params.insert(kPhotoOrigin, item.value(kPhotoOrigin));
    if (item.contains(kPhotoGuid))
        params.insert(kPhotoGuid, item.value(kPhotoGuid));
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

QVariantMap BundleUploader::sendBundleAsynch(const QVariantMap &request) {
    QMutexLocker slot(&m_bundleSlot);
    QVariantMap result;
    const ShareTaskPtr task = request.value(BundleKey::Context).value<ShareTaskPtr>();
    const QString guid = request.value(BundleKey::BundleGuid).toString();
    const int count = int(request.value(BundleKey::Photos).toList().size());
    const bool alreadyCreated = request.value(BundleKey::SentCreate).toBool();
    // The resume value, -1 once used or when there is none.
    int resume
        = request.contains(BundleKey::ContinuePhoto) ? request.value(BundleKey::ContinuePhoto).toInt() : -1;
    std::optional<int> stoppedAt;

    m_bundleState = BundleState::Start;
    int index = 0;
    int retries = 0;
    bool createdNow = false;
    int successfulPhotos = 0;
    bool closed = false;
    bool wasCancelled = false;

    // The next photo's request (its bytes encoded and hashed) is made while the current one
    // travels, so the CPU and the network work at the same time. Joined before this returns.
    // A photo that could not be read still goes, as a report in place of its bytes; the server
    // then holds no copy of it, so the share names it missing.
    struct PhotoStep {
        std::optional<ApiRequest> request;
        bool unreadable = false;
    };
    const auto makePhotoStep = [this](const QVariantMap &sendRequest, int i) {
        QString problem;
        PhotoStep made {uploadPhotoRequest(sendRequest, i, &problem), false};
        made.unreadable = !problem.isEmpty();
        return made;
    };
    // On a worker, so shutdown waits for it; made here when the program is already stopping.
    const auto prefetch = [](const auto &make, const QVariantMap &sendRequest, int i) {
        auto promise = std::make_shared<std::promise<PhotoStep>>();
        std::future<PhotoStep> made = promise->get_future();
        const auto run = [promise, make, sendRequest, i] {
            try {
                promise->set_value(make(sendRequest, i));
            } catch (...) {
                promise->set_exception(std::current_exception());
            }
        };
        if (!Workers::instance().start(QStringLiteral("photo prefetch"), run))
            run();
        return made;
    };
    std::future<PhotoStep> next;
    int nextIndex = -1;
    const auto photoRequest = [&](int i) {
        PhotoStep made;
        if (next.valid() && nextIndex == i) {
            made = next.get();
        } else {
            if (next.valid())
                next.wait();
            made = makePhotoStep(request, i);
        }
        nextIndex = -1;
        if (i + 1 < count) {
            nextIndex = i + 1;
            next = prefetch(makePhotoStep, request, i + 1);
        }
        return made;
    };

    const auto stop = [&](int status, const QString &error) {
        result.insert(BundleKey::HttpStatus, status);
        result.insert(BundleKey::Error, error);
        if (m_bundleState == BundleState::Photos)
            stoppedAt = index;
        m_bundleState = BundleState::Finished;
    };

    {
        ScopedCancelHandler handler(this);
        while (m_bundleState != BundleState::Finished) {
            try {
                if (cancelled()) {
                    wasCancelled = true;
                    stop(NetError::Cancelled, QStringLiteral("cancelled"));
                    break;
                }
                std::optional<ApiRequest> step;
                bool reportUpload = false;
                bool unreadable = false;
                switch (m_bundleState.load()) {
                case BundleState::Start:
                    if (!alreadyCreated)
                        m_reporter.progress(
                            BundleProgress::Creating, localizedString(BundleProgress::TextSending));
                    m_bundleState = BundleState::Create;
                    continue;
                case BundleState::Create:
                    if (alreadyCreated) {
                        index = std::clamp(std::max(resume, 0), 0, count);
                        resume = -1;
                        m_bundleState = BundleState::Photos;
                        continue;
                    }
                    m_reporter.progress(
                        BundleProgress::Creating, localizedString(BundleProgress::TextCreating));
                    step = createBundleRequest(request);
                    qCInfo(lfSending).noquote() << QStringLiteral("creating the bundle");
                    successfulPhotos = 0;
                    break;
                case BundleState::Photos:
                    if (index >= count) {
                        m_bundleState = BundleState::Close;
                        continue;
                    }
                    m_reporter.progress(BundleProgress::Photo,
                        localizedFormat(BundleProgress::TextSharingPhotos,
                            {QString::number(index + 1), QString::number(count)}),
                        index, count);
                    {
                        PhotoStep made = photoRequest(index);
                        step = std::move(made.request);
                        unreadable = made.unreadable;
                    }
                    if (!step) {
                        ++index; // already on the server
                        continue;
                    }
                    reportUpload = true;
                    break;
                case BundleState::Close:
                    m_reporter.progress(
                        BundleProgress::Closing, localizedString(BundleProgress::TextClosing));
                    step = m_api.closeBundleRequest({{BundleKey::BundleGuid, guid}});
                    break;
                case BundleState::Finished:
                    continue;
                }

                const Transfer t = runBundleTransfer(*step, reportUpload);
                const int status = t.status;
                if (cancelled()) {
                    wasCancelled = true;
                    stop(NetError::Cancelled, QStringLiteral("cancelled"));
                    break;
                }
                if (isSuccess(status)) {
                    NotificationCenter::defaultCenter().post(kGoodNetNotification);
                    result.remove(BundleKey::HttpStatus);
                    if (m_bundleState == BundleState::Photos) {
                        if (unreadable && task)
                            task->notePhotoMissing(request.value(BundleKey::Photos)
                                                       .toList()
                                                       .value(index)
                                                       .toMap()
                                                       .value(kPhotoGuid)
                                                       .toString());
                        ++successfulPhotos;
                        ++index;
                        if (task) {
                            task->setContinuePhoto(index);
                            task->saveTask();
                        }
                    } else if (m_bundleState == BundleState::Create) {
                        if (task) {
                            task->setSentBundleCreate(true);
                            task->saveTask();
                        }
                        createdNow = true;
                        m_bundleState = BundleState::Photos;
                    } else {
                        m_bundleState = BundleState::Finished;
                        closed = true;
                    }
                    retries = 0;
                    result.remove(BundleKey::Error);
                    if (reportUpload)
                        m_reporter.progress(QString::fromLatin1(ProgressWhat::Upload), 1.0, true);
                    continue;
                }

                const QString error
                    = t.transportError ? networkErrorDescription(status) : httpErrorText(status);
                result.insert(BundleKey::HttpStatus, status);
                ++retries;
                if (retrySamePhotoIfError(status) && retries <= kBundleStepRetries) {
                    m_reporter.progress(
                        BundleProgress::Retrying, localizedString(BundleProgress::TextRetrying));
                    Clock::instance().sleepUnless(
                        std::chrono::milliseconds(kBundleRetryDelayMs), [this] { return cancelled(); });
                    result.insert(BundleKey::Error, error);
                    continue;
                }
                if (m_bundleState == BundleState::Close && successfulPhotos == 0)
                    qCWarning(lfSending).noquote()
                        << QStringLiteral("close bundle failure with no successful photos uploaded");
                // Every final failure says so, so the caller never takes it for a sent share.
                stop(status, error);
            } catch (const std::exception &e) {
                // A step that throws would throw again: end the send there, so the caller
                // moves past the photo instead of this loop spinning on it.
                stop(0, QString::fromUtf8(e.what()));
            }
        }
    }

    if (next.valid())
        next.wait();
    // Only a bundle the server closed is complete; any other end (short of a cancel, which
    // reported itself) says the share did not get through.
    if (!cancelled()) {
        if (closed)
            m_reporter.progress(BundleProgress::Complete, localizedString(BundleProgress::TextCompleted));
        else
            m_reporter.progress(BundleProgress::Failed, localizedString(BundleProgress::TextFailed));
    }
    if (cancelled()) {
        wasCancelled = true;
        setCancelled(false);
        if (createdNow && !m_stopping)
            m_api.cancelBundle({{BundleKey::BundleGuid, guid}});
    }

    result.insert(BundleKey::Context, QVariant::fromValue(task));
    if (stoppedAt)
        result.insert(BundleKey::ContinuePhoto, *stoppedAt);
    else if (resume >= 0)
        result.insert(BundleKey::ContinuePhoto, resume);
    if (createdNow)
        result.insert(BundleKey::SentCreate, true);
    result.insert(RecordKey::ClientAction, ClientAction::SendBundle);

    if (!wasCancelled)
        m_reporter.completed(result);
    return result;
}

QVariantMap BundleUploader::uploadPhotoAsynch(const UploadItem &item) {
    QMutexLocker slot(&m_stagedSlot);
    const std::optional<ApiRequest> request = uploadPhotoRequest(item, kUploadTypeFull, true);
    if (!request)
        return {};

    Clock &clock = Clock::instance();
    HttpResponse response;
    bool stalled = false;
    for (int attempt = 1; attempt <= kStagedAttempts; ++attempt) {
        // 0 until the first progress of this attempt: no stall limit before the upload moves.
        qint64 lastProgressMs = 0;
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
            if (lastProgressMs != 0 && clock.monotonicMs() - lastProgressMs > kStagedStallSeconds * 1000LL)
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

    QVariantMap result;
    if (stalled) {
        result.insert(BundleKey::Error, httpErrorText(NetError::TimedOut));
        result.insert(BundleKey::HttpStatus, NetError::TimedOut);
    } else if (!response.hasResponse()) {
        result.insert(BundleKey::Error, networkErrorDescription(response.errorCode));
        result.insert(BundleKey::HttpStatus, response.errorCode);
    } else {
        result.insert(BundleKey::Body, QString::fromUtf8(response.body));
        if (isSuccess(response.status)) {
            NotificationCenter::defaultCenter().post(kGoodNetNotification);
        } else {
            result.insert(BundleKey::Error, httpErrorText(response.status));
            result.insert(BundleKey::HttpStatus, response.status);
        }
    }
    return result;
}

} // namespace lf
