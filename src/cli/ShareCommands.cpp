#include "CliClient.h"
#include "Commands.h"
#include "Output.h"
#include "ShareMonitor.h"
#include "WindowShare.h"

#include "contacts/AddressBookUtil.h"
#include "foundation/Credentials.h"
#include "foundation/Identity.h"
#include "foundation/Prefs.h"
#include "foundation/TextRules.h"
#include "sending/BundleUploader.h"
#include "session/AddressBookSync.h"
#include "share/PhotoIntake.h"
#include "share/PhotoPrep.h"
#include "share/ShareState.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

namespace lf::cli {

namespace {

// The account of the stored credentials on the chosen server: the one the commands sign in as.
ShareOwner storedAccount() {
    QString user;
    QString token;
    Credentials::loadCredentials(user, token);
    return ShareOwner::onCurrentServer(user);
}

// A share that reached the server, was resumed once and stopped again comes back as the task
// being composed. Nobody will press Share on it in a window: send it on.
bool sendInterruptedCurrentTask(CliClient &client) {
    const ShareTaskPtr task = ShareTask::singletonNA();
    if (!task || !task->sentBundleCreate() || task->sendCompleted() || !task->hasPhotos()
        || !task->hasRecipients())
        return false;
    client.manager().sendCurrentShareTask();
    return true;
}

bool moreUnfinishedShares(CliClient &client) {
    const ShareTaskPtr current = ShareTask::singletonNA();
    for (const QString &path : client.manager().bundlePaths()) {
        if (current && current->path() == path)
            continue;
        if (const ShareTaskPtr task = ShareTask::shareTaskWithPath(path);
            task && isUnfinished(*task) && client.manager().ownedBySignedInUser(task))
            return true;
    }
    return false;
}

// The tasks of the stored share-set folders, in their order; unreadable ones left out.
QList<ShareTaskPtr> storedShares() {
    QList<ShareTaskPtr> tasks;
    for (const QString &path : Prefs::prefForKey(PrefKey::Bundles).toStringList()) {
        if (const ShareTaskPtr task = ShareTask::shareTaskWithPath(path))
            tasks.append(task);
    }
    return tasks;
}

// Unfinished shares of the stored account; those of other accounts are counted in `others`.
bool anyUnfinishedShareStored(int *others = nullptr) {
    const ShareOwner account = storedAccount();
    bool any = false;
    for (const ShareTaskPtr &task : storedShares()) {
        if (!isUnfinished(*task))
            continue;
        if (!isOtherAccountsShare(*task, account))
            any = true;
        else if (others)
            ++*others;
    }
    return any;
}

QString nothingToResume(int others) {
    if (others == 0)
        return QStringLiteral("Nothing to resume");
    return QStringLiteral("Nothing to resume (%1 share%2 of other accounts wait for them to sign in)")
        .arg(others)
        .arg(others == 1 ? "" : "s");
}

int finishWaiting(CliClient &client, ShareMonitor &monitor, bool done) {
    monitor.finish();
    if (!done) {
        printNote(QStringLiteral("Interrupted. Nothing is lost: \"%1 resume\" finishes the share.")
                      .arg(QLatin1String(kProgramName)));
        return kExitInterrupted;
    }
    if (monitor.sharedCount() > 0)
        printOut(QStringLiteral("See your shares at: %1").arg(client.service().getClientBrowserURL(true)));
    return monitor.failureCount() > 0 ? kExitFailed : kExitOk;
}

struct ShareArgs {
    QStringList recipients;
    QString message;
    QStringList files;
};

// Parses the arguments of share; an exit code when they are not usable.
std::optional<int> parseShareArgs(const QStringList &args, ShareArgs &out) {
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        QString value;
        const auto optionValue = [&](const QString &name) {
            if (arg == name) {
                if (i + 1 >= args.size())
                    return false;
                value = args.at(++i);
                return true;
            }
            value = arg.mid(name.size() + 1);
            return true;
        };
        if (arg == QLatin1String("--to") || arg.startsWith(QLatin1String("--to="))) {
            if (!optionValue(QStringLiteral("--to")))
                return usageError(QStringLiteral("--to needs a recipient"));
            for (const QString &piece : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                if (!piece.trimmed().isEmpty())
                    out.recipients.append(piece.trimmed());
            }
        } else if (arg == QLatin1String("--message") || arg.startsWith(QLatin1String("--message="))) {
            if (!optionValue(QStringLiteral("--message")))
                return usageError(QStringLiteral("--message needs a text"));
            out.message = value;
        } else if (arg == QLatin1String("--")) {
            out.files += args.mid(i + 1);
            break;
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return usageError(QStringLiteral("unknown option %1").arg(arg));
        } else {
            out.files.append(arg);
        }
    }
    if (out.recipients.isEmpty())
        return usageError(QStringLiteral("share needs at least one --to RECIPIENT"));
    if (out.files.isEmpty())
        return usageError(QStringLiteral("share needs at least one photo file"));
    QStringList unique;
    for (const QString &r : std::as_const(out.recipients)) {
        const bool named = r.startsWith(kGroupRecipientPrefix) || r.startsWith(kSiteRecipientPrefix);
        if (named ? r.size() < 2 : !validEmail(r))
            return usageError(QStringLiteral("not an e-mail address, %group or @site: %1").arg(r));
        if (!unique.contains(r, Qt::CaseInsensitive))
            unique.append(r);
    }
    out.recipients = unique;
    return std::nullopt;
}

// Groups and sites the user does not have, as one message; empty when all are known.
QString unknownRecipients(Service &service, const QStringList &recipients) {
    const QStringList groups = groupNames(service);
    const QStringList sites = linkedSiteNames(service);
    QStringList problems;
    for (const QString &r : recipients) {
        if (r.startsWith(kGroupRecipientPrefix) && !groups.contains(r.mid(1), Qt::CaseInsensitive))
            problems.append(QStringLiteral("no group named %1 in your address book").arg(r.mid(1)));
        else if (r.startsWith(kSiteRecipientPrefix) && !sites.contains(r.mid(1), Qt::CaseInsensitive))
            problems.append(QStringLiteral("no linked site named %1 (linked: %2)")
                                .arg(r.mid(1), sites.isEmpty() ? QStringLiteral("none") : sites.join(", ")));
    }
    return problems.join(QStringLiteral("; "));
}

// Addresses that are not server contacts yet become contacts, as the window does on Share.
void addNewContacts(Service &service, const QStringList &recipients) {
    QStringList known;
    for (const QVariantMap &contact : addressBookEntries(service, false))
        known.append(contact.value(ContactKey::Email).toString());
    for (const QString &r : recipients) {
        if (r.startsWith(kGroupRecipientPrefix) || r.startsWith(kSiteRecipientPrefix)
            || known.contains(r, Qt::CaseInsensitive))
            continue;
        service.addContact(
            {{ContactKey::Name, AddressBookUtil::singleton().nameForNewContact(r)}, {ContactKey::Email, r}});
    }
}

// Copies the photos into the task's folder; an exit code when that cannot be done.
std::optional<int> addPhotos(const ShareTaskPtr &task, const QStringList &files) {
    QString problem;
    const std::optional<QList<PhotoInfo>> infos = takeDroppedPhotos(files, task->path(), &problem);
    if (CliClient::interrupted())
        return kExitInterrupted;
    if (!infos)
        return fail(QStringLiteral("%1; nothing was shared").arg(problem));
    for (const PhotoInfo &info : *infos)
        task->pushPhoto(info);
    return std::nullopt;
}

} // namespace

int shareCommand(CliClient &client, QStringList args) {
    ShareArgs share;
    if (const std::optional<int> code = parseShareArgs(args, share))
        return *code;
    QStringList photos;
    for (const QString &file : std::as_const(share.files)) {
        const QFileInfo info(file);
        if (!info.exists())
            return fail(QStringLiteral("no such file: %1").arg(file));
        if (!info.isFile() || !info.isReadable())
            return fail(QStringLiteral("not a readable file: %1").arg(file));
        if (!supportedFile(file)) {
            printNote(QStringLiteral("Skipping %1: not a photo.").arg(file));
            continue;
        }
        // A file that only looks like a photo is refused before anything is sent.
        if (const QString problem = photoFileProblem(file); !problem.isEmpty())
            return fail(QStringLiteral("%1; nothing was shared").arg(problem));
        photos.append(file);
    }
    if (photos.isEmpty())
        return fail(QStringLiteral("none of the files is a photo"));
    if (const std::optional<int> code = shareThroughWindow(photos, share.recipients, share.message))
        return *code;

    CliClient::catchInterrupts();
    if (const int code = client.signInStored())
        return code;
    client.loadContacts();
    Service &service = client.service();
    if (const QString unknown = unknownRecipients(service, share.recipients); !unknown.isEmpty())
        return fail(unknown);
    if (const int code = client.openShareQueue())
        return code;
    ShareMonitor monitor(client);

    sendInterruptedCurrentTask(client);
    ShareTaskPtr task = ShareTask::singleton();
    if (task->hasPhotos() || task->hasRecipients()) {
        // Something composed in the window: it stays for the window, this share gets its own task.
        client.manager().newShareTask();
        task = ShareTask::singleton();
    }
    if (const std::optional<int> code = addPhotos(task, photos)) {
        task->clearTask();
        return *code;
    }
    task->recipients()->setList(share.recipients);
    task->setMessage(share.message);
    addNewContacts(service, share.recipients);
    client.manager().sendCurrentShareTask();
    return finishWaiting(client, monitor, client.waitUntilSharesDone());
}

int resumeCommand(CliClient &client, QStringList args) {
    if (!args.isEmpty())
        return usageError(QStringLiteral("resume takes no arguments"));
    int others = 0;
    if (!anyUnfinishedShareStored(&others)) {
        printOut(nothingToResume(others));
        return kExitOk;
    }
    CliClient::catchInterrupts();
    if (const int code = client.signInStored())
        return code;
    if (const int code = client.openShareQueue())
        return code;
    ShareMonitor monitor(client);
    bool any = false;
    // Each round is what a start of the program does: it resumes one interrupted share (and the
    // full-size uploads); the next round takes the next one.
    const int rounds = int(client.manager().bundlePaths().size()) + 1;
    for (int round = 0; round < rounds; ++round) {
        sendInterruptedCurrentTask(client);
        if (!client.manager().isWorking())
            break;
        any = true;
        const int failuresBefore = monitor.failureCount();
        if (!client.waitUntilSharesDone())
            return finishWaiting(client, monitor, false);
        // A share given up again would come first in the next round too: leave the rest for
        // another "resume" rather than trying it over and over.
        if (monitor.failureCount() > failuresBefore || !moreUnfinishedShares(client))
            break;
        if (const int code = client.reopenShareQueue())
            return code;
        monitor.attach();
    }
    if (!any) {
        printOut(nothingToResume(others));
        return kExitOk;
    }
    return finishWaiting(client, monitor, true);
}

int cancelCommand(CliClient &client, QStringList args) {
    if (!args.isEmpty())
        return usageError(QStringLiteral("cancel takes no arguments"));
    if (!anyUnfinishedShareStored()) {
        printOut(QStringLiteral("Nothing to cancel"));
        return kExitOk;
    }
    if (const int code = client.signInStored())
        return code;
    // Holding the queue: nothing is being sent while the shares go.
    if (const int code = client.openShareQueue(false))
        return code;
    ShareTaskManager &manager = client.manager();
    QStringList kept;
    int failures = 0;
    for (const QString &path : manager.bundlePaths()) {
        const ShareTaskPtr task = ShareTask::shareTaskWithPath(path);
        // Another account's shares are theirs to withdraw.
        if (!task || !isUnfinished(*task) || !manager.ownedBySignedInUser(task)) {
            kept.append(path);
            continue;
        }
        const QString recipients = task->recipients()->list().join(QStringLiteral(", "));
        if (shareState(*task) == ShareState::FullSize) {
            printOut(QStringLiteral("Stopped the full-size uploads of the share with %1").arg(recipients));
        } else {
            if (task->sentBundleCreate()) {
                const APIResult answer = client.service().withdrawBundle(task->bundleGuid());
                // Not on the server (404) is as good as withdrawn; anything else leaves it to try again.
                if (answer.isError() && answer.httpStatus() != 404) {
                    ++failures;
                    fail(QStringLiteral("could not withdraw the share with %1: %2")
                             .arg(recipients, describeFailure(answer)));
                    kept.append(path);
                    continue;
                }
            }
            printOut(QStringLiteral("Withdrew the share with %1").arg(recipients));
        }
        manager.deleteShareTaskWithPath(path);
    }
    manager.setBundlePaths(kept);
    return failures > 0 ? kExitFailed : kExitOk;
}

int statusCommand(CliClient &, QStringList args) {
    const bool json = takeFlag(args, QStringLiteral("--json"));
    if (!args.isEmpty())
        return usageError(QStringLiteral("status takes only --json"));
    const qint64 sender = ShareTaskManager::queueHolder();
    const ShareOwner account = storedAccount();
    QJsonArray shares;
    QStringList lines;
    for (const ShareTaskPtr &task : storedShares()) {
        // The empty task a window would show next is not a share.
        if (!task->hasPhotos() && !task->hasRecipients())
            continue;
        const ShareState state = shareState(*task);
        const int photos = task->photoCount();
        const int sent = photosSent(*task);
        const QStringList recipients = task->recipients()->list();
        shares.append(QJsonObject {{"bundle_guid", task->bundleGuid()},
            {"recipients", QJsonArray::fromStringList(recipients)}, {"message", task->message()},
            {"photos", photos}, {"photos_sent", sent}, {"state", shareStateName(state)},
            {"full_size_left", task->fullPhotoCount()},
            {"owner", task->owner().isEmpty() ? QJsonValue() : QJsonValue(task->owner().user)},
            {"owner_host", task->owner().isEmpty() ? QJsonValue() : QJsonValue(task->owner().host)}});
        QString line = QStringLiteral("%1: %2 photo%3 to %4")
                           .arg(QLatin1String(shareStateName(state)))
                           .arg(photos)
                           .arg(photos == 1 ? "" : "s")
                           .arg(recipients.isEmpty() ? QStringLiteral("nobody yet") : recipients.join(", "));
        if (state == ShareState::Interrupted || state == ShareState::Queued)
            line += QStringLiteral(", %1 of %2 sent").arg(sent).arg(photos);
        if (state == ShareState::Failed)
            line += QStringLiteral(", given up (\"%1 resume\" sends it again)")
                        .arg(QLatin1String(kProgramName));
        if (task->fullPhotoCount() > 0)
            line += QStringLiteral(", %1 full-size upload%2 left")
                        .arg(task->fullPhotoCount())
                        .arg(task->fullPhotoCount() == 1 ? "" : "s");
        if (isOtherAccountsShare(*task, account))
            line += QStringLiteral(", waiting for %1 to sign in").arg(task->owner().text());
        lines.append(line);
    }
    const std::optional<QJsonObject> window = windowState();
    if (json) {
        printJson(QJsonObject {{"shares", shares}, {"sender", sender > 0 ? QJsonValue(sender) : QJsonValue()},
            {"window", window ? QJsonValue(*window) : QJsonValue()}});
        return kExitOk;
    }
    if (lines.isEmpty())
        printOut(QStringLiteral("No shares waiting"));
    for (const QString &line : std::as_const(lines))
        printOut(line);
    if (sender > 0)
        printOut(QStringLiteral("Process %1 is sending them.").arg(sender));
    if (window) {
        const int composing = int(window->value("photos").toArray().size());
        printOut(QStringLiteral("The Lanternfish window is %1%2%3.")
                     .arg(window->value("signed_in").toBool() ? QStringLiteral("signed in")
                                                              : QStringLiteral("not signed in"))
                     .arg(window->value("sharing").toBool() ? QStringLiteral(" and sharing") : QString())
                     .arg(composing > 0 ? QStringLiteral(", with %1 photo%2 being composed")
                                              .arg(composing)
                                              .arg(composing == 1 ? "" : "s")
                                        : QString()));
    }
    return kExitOk;
}

} // namespace lf::cli
