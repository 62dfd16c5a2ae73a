#include "WindowShare.h"

#include "CliClient.h"
#include "Output.h"

#include "platform/ScriptingClient.h"
#include "sending/ShareTaskManager.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QTimer>

#include <functional>

namespace lf::cli {

namespace {

// The window copies photos in and starts the upload on its own time: look every so often.
constexpr int kPollMs = 100;
constexpr int kHandOverTimeoutMs = 120000;
constexpr int kRecipientsTimeoutMs = 20000;

// Polls `done` with the event loop running; false when interrupted or out of time.
bool poll(const std::function<bool()> &done, int timeoutMs = -1) {
    const QDeadlineTimer deadline
        = timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs);
    while (!done()) {
        if (CliClient::interrupted() || deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(kPollMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

QStringList texts(const QList<QVariantMap> &records, const char *key) {
    QStringList out;
    for (const QVariantMap &record : records)
        out.append(record.value(QLatin1String(key)).toString());
    return out;
}

// The program on the bus is the one sending this account's shares: another user's or another
// home's program on the same bus is none of our business.
bool windowHoldsQueue(const ScriptingClient &window) {
    const qint64 holder = ShareTaskManager::queueHolder();
    return holder > 0 && window.programPid() == holder;
}

} // namespace

std::optional<int> shareThroughWindow(
    const QStringList &photos, const QStringList &recipients, const QString &message) {
    ScriptingClient window;
    if (!windowHoldsQueue(window))
        return std::nullopt;
    printNote(QStringLiteral("Lanternfish is running: the share goes through its window."));
    if (!window.property(QStringLiteral("SignedIn")).toBool())
        return fail(QStringLiteral("the Lanternfish window is not signed in; sign in there first"));
    // Whatever the user is composing there is theirs: never mix a script's photos into it.
    if (!window.records(QStringLiteral("CurrentPhotos")).isEmpty()
        || !window.records(QStringLiteral("CurrentRecipients")).isEmpty())
        return fail(QStringLiteral("the Lanternfish window holds a share being composed; share or cancel it "
                                   "there first"));

    CliClient::catchInterrupts();
    QStringList absolute;
    for (const QString &photo : photos)
        absolute.append(QFileInfo(photo).absoluteFilePath());
    if (!window.open(absolute))
        return fail(QStringLiteral("the window did not take the photos: %1").arg(window.error()));
    if (!poll([&] { return window.records(QStringLiteral("CurrentPhotos")).size() >= absolute.size(); },
            kHandOverTimeoutMs))
        return fail(QStringLiteral("the window did not take the photos; nothing was shared"));
    for (const QString &recipient : recipients) {
        // Groups and sites go by name, people by address.
        const bool named = recipient.startsWith(QLatin1Char('%')) || recipient.startsWith(QLatin1Char('@'));
        if (!window.call(QStringLiteral("AddRecipient"),
                {named ? recipient : QString(), named ? QString() : recipient}))
            return fail(QStringLiteral("the window did not take %1: %2").arg(recipient, window.error()));
    }
    if (!poll([&] { return window.records(QStringLiteral("CurrentRecipients")).size() >= recipients.size(); },
            kRecipientsTimeoutMs)) {
        window.call(QStringLiteral("Cancel"));
        return fail(QStringLiteral("the window did not take the recipients; nothing was shared"));
    }
    if (!window.setProperty(QStringLiteral("CurrentMessage"), message))
        return fail(QStringLiteral("the window did not take the note: %1").arg(window.error()));
    if (!window.call(QStringLiteral("Share")))
        return fail(QStringLiteral("the window did not share: %1").arg(window.error()));

    // Sent once the window moved the photos on to its queue; done when its queue is idle again.
    const bool started = poll(
        [&] {
            return window.property(QStringLiteral("Sharing")).toBool()
                || window.records(QStringLiteral("CurrentPhotos")).isEmpty();
        },
        kHandOverTimeoutMs);
    if (!started) {
        if (CliClient::interrupted())
            return kExitInterrupted;
        return fail(QStringLiteral("the window did not start the share; it waits there"));
    }
    printOut(QStringLiteral("Sharing %1 photo%2 with %3 through the window…")
                 .arg(photos.size())
                 .arg(photos.size() == 1 ? "" : "s")
                 .arg(recipients.join(QStringLiteral(", "))));
    if (!poll([&] {
            return !window.programRunning() || !window.property(QStringLiteral("Sharing")).toBool();
        })) {
        printNote(QStringLiteral("Stopped following; the window goes on with the share."));
        return kExitInterrupted;
    }
    if (!window.programRunning())
        return fail(
            QStringLiteral("Lanternfish ended before the share was sent; it goes on at its next start"));
    printOut(QStringLiteral("The window has sent the share."));
    return kExitOk;
}

std::optional<QJsonObject> windowState() {
    ScriptingClient window;
    if (!windowHoldsQueue(window))
        return std::nullopt;
    return QJsonObject {{"signed_in", window.property(QStringLiteral("SignedIn")).toBool()},
        {"sharing", window.property(QStringLiteral("Sharing")).toBool()},
        {"photos",
            QJsonArray::fromStringList(texts(window.records(QStringLiteral("CurrentPhotos")), "path"))},
        {"recipients",
            QJsonArray::fromStringList(texts(window.records(QStringLiteral("CurrentRecipients")), "email"))}};
}

} // namespace lf::cli
