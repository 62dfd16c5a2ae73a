#include "ShareMonitor.h"

#include "CliClient.h"
#include "Output.h"

#include "foundation/MainThread.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Strings.h"
#include "sending/BundleUploader.h"
#include "sending/ShareTaskThread.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QPointer>

#include <cstdio>

namespace lf::cli {

namespace {

constexpr qint64 kRedrawMs = 100;
constexpr int kRecipientsShown = 48;

const char *const kStateCreating = "creating the share";
const char *const kStateUploading = "uploading";
const char *const kStateRetrying = "retrying";
const char *const kStateHolding = "holding for the network";
const char *const kStateClosing = "closing the share";
const char *const kStateFullSize = "uploading full size";

QString sizeText(qint64 bytes) {
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

} // namespace

ShareMonitor::ShareMonitor(CliClient &client)
    : m_client(client) {
    NotificationCenter &center = NotificationCenter::defaultCenter();
    center.addObserver(this, QString::fromLatin1(kGrowlNotification),
        [this](const Notification &n) { onGrowl(n.object.toString()); });
    center.addObserver(this, QString::fromLatin1(kUploadDoneNotification),
        [this](const Notification &n) { onUploadDone(n.object.value<ShareTaskPtr>()); });
    center.addObserver(this, QString::fromLatin1(kStagedUploadDoneNotification),
        [this](const Notification &) { setState(QString::fromLatin1(kStateFullSize)); });
    m_client.setProgressSink([this](const QVariantMap &p) { onProgress(p); });
    m_client.setBundleResultSink([this](const QVariantMap &r) { onBundleResult(r); });
    attach();
}

ShareMonitor::~ShareMonitor() {
    NotificationCenter::defaultCenter().removeObserver(this);
    m_client.setProgressSink({});
    m_client.setBundleResultSink({});
    if (m_client.hasShareQueue())
        m_client.manager().shareTaskThread().setPauseObserver({});
    clearLine();
}

void ShareMonitor::attach() {
    if (!m_client.hasShareQueue())
        return;
    // Called on the worker thread, possibly just after this object went.
    QPointer<ShareMonitor> self(this);
    m_client.manager().shareTaskThread().setPauseObserver([self](std::chrono::milliseconds pause) {
        runOnMainThread([self, ms = pause.count()] {
            if (self)
                self->onPause(ms);
        });
    });
}

void ShareMonitor::finish() {
    clearLine();
}

void ShareMonitor::onProgress(const QVariantMap &progress) {
    const QString what = progress.value(RecordKey::What).toString();
    if (what == QLatin1String(BundleProgress::Creating)) {
        setState(QString::fromLatin1(kStateCreating));
    } else if (what == QLatin1String(BundleProgress::Photo)) {
        // Records arrive in order, while the worker may already be at the next photo.
        m_photoIndex = progress.value(RecordKey::Index).toInt() + 1;
        m_photoCount = progress.value(RecordKey::Count).toInt();
        m_sent = m_total = -1;
        setState(QString::fromLatin1(kStateUploading));
    } else if (what == QLatin1String(ProgressWhat::Upload)
        || what == QLatin1String(ProgressWhat::StagedUpload)) {
        // The closing report of a photo has no byte counts; the line already shows them.
        if (!progress.contains(RecordKey::Total))
            return;
        m_sent = progress.value(RecordKey::Sent).toLongLong();
        m_total = progress.value(RecordKey::Total).toLongLong();
        if (what == QLatin1String(ProgressWhat::StagedUpload))
            setState(QString::fromLatin1(kStateFullSize));
        else if (m_state != QLatin1String(kStateUploading))
            setState(QString::fromLatin1(kStateUploading));
        else
            render();
    } else if (what == QLatin1String(BundleProgress::Retrying)
        || what == QLatin1String(ProgressWhat::Network)) {
        setState(QString::fromLatin1(kStateRetrying));
    } else if (what == QLatin1String(BundleProgress::Closing)) {
        m_sent = m_total = -1;
        setState(QString::fromLatin1(kStateClosing));
    }
}

void ShareMonitor::onBundleResult(const QVariantMap &result) {
    const QString error = result.value(RecordKey::Error).toString();
    const ShareTaskPtr task = result.value(kUploadBundleContext).value<ShareTaskPtr>();
    if (task && !error.isEmpty())
        m_lastError.insert(task->bundleGuid(), error);
}

void ShareMonitor::onPause(qint64 ms) {
    if (!m_client.hasShareQueue())
        return;
    const char *state = m_client.manager().shareTaskThread().lostNet() ? kStateHolding : kStateRetrying;
    setState(QStringLiteral("%1, next try in %2 s").arg(QLatin1String(state)).arg((ms + 999) / 1000));
}

void ShareMonitor::onUploadDone(const ShareTaskPtr &task) {
    m_finished = task;
    m_photoIndex = m_photoCount = 0;
    m_sent = m_total = -1;
    m_state.clear();
    clearLine();
}

void ShareMonitor::onGrowl(const QString &key) {
    note(localizedString(key));
    const ShareTaskPtr task = std::exchange(m_finished, nullptr);
    if (key == QLatin1String(GrowlKey::NetLost)) {
        setState(QString::fromLatin1(kStateHolding));
    } else if (key == QLatin1String(GrowlKey::SuccessScreen) && task) {
        ++m_shared;
        const int count = task->photoCount();
        result(QStringLiteral("Shared %1 photo%2 with %3")
                   .arg(count)
                   .arg(count == 1 ? "" : "s")
                   .arg(task->recipients()->list().join(QStringLiteral(", "))));
    } else if (key == QLatin1String(GrowlKey::SuccessMissing) && task) {
        ++m_shared;
        ++m_failures;
        clearLine();
        QStringList names;
        for (const QString &source : task->missingPhotos())
            names.append(QFileInfo(source).fileName());
        if (names.isEmpty())
            fail(QStringLiteral(
                "the share with %1 arrived without some of its photos: the server refused them")
                     .arg(recipientsText(task)));
        else
            fail(QStringLiteral(
                "the share with %1 arrived without %2: the file%3 vanished or could not be read")
                     .arg(recipientsText(task), names.join(QStringLiteral(", ")),
                         names.size() == 1 ? QString() : QStringLiteral("s")));
    } else if (key == QLatin1String(GrowlKey::Fail)) {
        ++m_failures;
        clearLine();
        if (task) {
            const QString why = m_lastError.value(task->bundleGuid());
            fail(QStringLiteral("gave up the share with %1%2; it is kept, \"%3 resume\" sends it again")
                     .arg(recipientsText(task), why.isEmpty() ? QString() : QStringLiteral(": ") + why,
                         QLatin1String(kProgramName)));
        } else {
            fail(QStringLiteral("some full-size photos could not be uploaded"));
        }
    }
}

void ShareMonitor::setState(const QString &state) {
    const bool changed = state != m_state;
    m_state = state;
    render(changed);
}

QString ShareMonitor::recipientsText(const ShareTaskPtr &task) {
    QString text = task ? task->recipients()->list().join(QStringLiteral(", ")) : QString();
    if (text.size() > kRecipientsShown)
        text = text.left(kRecipientsShown - 1) + QChar(0x2026);
    return text;
}

void ShareMonitor::render(bool force) {
    if (!m_client.hasShareQueue() || m_state.isEmpty())
        return;
    ShareTaskThread &worker = m_client.manager().shareTaskThread();
    const bool sharing = worker.isSharing();
    if (!sharing && !worker.isStaging())
        return;
    QString head;
    if (sharing) {
        const ShareTaskPtr task = worker.queuedTasks().value(0);
        head = QStringLiteral("Sharing with %1").arg(recipientsText(task));
        if (m_photoIndex > 0)
            head += QStringLiteral(": photo %1 of %2").arg(m_photoIndex).arg(m_photoCount);
    } else {
        head = QStringLiteral("Full-size photos: %1 of %2")
                   .arg(worker.currentShare() + 1)
                   .arg(worker.countShare());
    }
    const QString bytes
        = m_total > 0 ? QStringLiteral(", %1 of %2").arg(sizeText(m_sent), sizeText(m_total)) : QString();

    if (!stderrIsTerminal()) {
        const QString plain = head + QStringLiteral(", ") + m_state;
        if (plain != m_lastPlain) {
            m_lastPlain = plain;
            printNote(plain);
        }
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!force && now - m_lastDrawMs < kRedrawMs)
        return;
    m_lastDrawMs = now;
    m_shownLine = head + bytes + QStringLiteral(", ") + m_state;
    std::fputs(("\r\x1b[2K" + m_shownLine).toUtf8().constData(), stderr);
    std::fflush(stderr);
}

void ShareMonitor::clearLine() {
    if (m_shownLine.isEmpty())
        return;
    std::fputs("\r\x1b[2K", stderr);
    std::fflush(stderr);
    m_shownLine.clear();
}

void ShareMonitor::note(const QString &text) {
    const QString shown = m_shownLine;
    clearLine();
    printNote(text);
    if (!shown.isEmpty())
        render(true);
}

void ShareMonitor::result(const QString &text) {
    clearLine();
    printOut(text);
}

} // namespace lf::cli
