#pragma once

#include "api/ServiceAPI.h"
#include "session/BundleSender.h"
#include "session/SessionRecords.h"
#include "share/PhotoInfo.h"

#include <QMutex>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <optional>

namespace lf {

class Service;
class BundleSend;

// Progress kinds and texts of a bundle send.
namespace BundleProgress {
inline constexpr const char *Creating = "creating";
inline constexpr const char *Photo = "photo";
inline constexpr const char *Closing = "closing";
inline constexpr const char *Retrying = "retrying";
inline constexpr const char *Complete = "complete";
inline constexpr const char *Failed = "failed";
inline constexpr const char *TextSending = "[sending...]";
inline constexpr const char *TextCreating = "[creating bundle]";
inline constexpr const char *TextSharingPhotos = "[sharingphotos]";
inline constexpr const char *TextClosing = "[closing bundle]";
inline constexpr const char *TextRetrying = "[retrying]";
inline constexpr const char *TextCompleted = "[upload completed]";
inline constexpr const char *TextFailed = "[upload failed]";
inline constexpr const char *TextCancelled = "[upload cancelled]";
} // namespace BundleProgress

// Posted (object none) after every transfer the server accepted.
inline constexpr const char *kGoodNetNotification = "goodNet";

// Steps of a bundle send.
enum class BundleState { Start = 0, Create = 1, Photos = 2, Close = 3, Finished = 4 };

// Retry rules of the upload steps.
inline constexpr int kBundleStepRetries = 4;
inline constexpr int kBundleRetryDelayMs = 4000;
inline constexpr int kStagedAttempts = 5;
inline constexpr int kStagedStallSeconds = 60;
inline constexpr int kStagedRestartDelayMs = 2000;
// Least time between two whole-archive saves of a bundle send's resume point.
inline constexpr int kResumeSaveGapMs = 500;

// Statuses worth sending the same step again for: no network, and server overload answers.
bool retrySamePhotoIfError(int status);

// The bundle upload protocol of the session: creates a bundle, uploads its photos, closes it,
// resuming after the last accepted step; and the full-size ("staged") uploads of closed
// bundles. One bundle send and one staged upload may run at the same time, each on its own
// thread; a cancel from any thread stops the bundle send within about a second.
class BundleUploader : public BundleSender, public CancelHandler {
public:
    BundleUploader(ServiceAPI &api, BundleReporter &reporter);
    // Gives `service` an uploader unless it has one already.
    static void install(Service &service);

    // Blocks the calling thread until the bundle is sent, failed for good or cancelled.
    SendResult sendBundleAsynch(const ShareRequest &request) override;
    // Blocks the calling thread; an empty result means nothing was sent (a reshare).
    SendResult uploadPhotoAsynch(const UploadItem &item) override;

    ApiRequest createBundleRequest(const ShareRequest &request) const;
    // Nothing for a photo already on the server ("reshare"). A photo whose bytes cannot be made
    // goes as an error report in their place; `unreadable` then gets the reason.
    std::optional<ApiRequest> uploadPhotoRequest(
        const ShareRequest &request, int index, QString *unreadable = nullptr) const;
    std::optional<ApiRequest> uploadPhotoRequest(
        const UploadItem &item, const QString &type, bool full, QString *unreadable = nullptr) const;

    // Reports "cancelled", stops the send in flight and tells the delegate.
    void cancelBundle(const QString &bundleGuid) override;

    // The program is ending: sends in flight stop at once, without withdrawing their bundle
    // and without a report, so they resume at the next start.
    void setStopping(bool stopping) override;
    bool stopping() const { return m_stopping; }

    bool cancelled() const override;
    void setCancelled(bool cancelled);
    bool retried() const { return m_retried; }
    void setRetried(bool retried) override;
    BundleState bundleState() const { return m_bundleState; }
    int bundleStep() const override { return int(m_bundleState.load()); }

private:
    friend class BundleSend;
    struct Transfer {
        int status = 0; // HTTP status, or the transport's negative code
        bool transportError = false;
        QByteArray body;
        bool stalled = false;
    };
    Transfer runBundleTransfer(const ApiRequest &request, bool reportUpload);

    ServiceAPI &m_api;
    BundleReporter &m_reporter;
    std::atomic<bool> m_retried {false};
    std::atomic<bool> m_stopping {false};
    std::atomic<BundleState> m_bundleState {BundleState::Start};
    // Serialises whole sends and whole staged uploads: one slot each.
    QMutex m_bundleSlot;
    QMutex m_stagedSlot;
};

} // namespace lf
