#include "share/ShareState.h"

#include <algorithm>

namespace lf {

ShareState shareState(const ShareTask &task) {
    if (task.sendCompleted())
        return ShareState::FullSize;
    if (task.sendFailed())
        return ShareState::Failed;
    if (task.sentBundleCreate())
        return ShareState::Interrupted;
    return task.sendAttempted() ? ShareState::Queued : ShareState::Composing;
}

const char *shareStateName(ShareState state) {
    switch (state) {
    case ShareState::Composing:
        return "composing";
    case ShareState::Queued:
        return "queued";
    case ShareState::Interrupted:
        return "interrupted";
    case ShareState::Failed:
        return "failed";
    case ShareState::FullSize:
        return "full-size";
    }
    return "";
}

bool isUnfinished(const ShareTask &task) {
    const ShareState state = shareState(task);
    return state == ShareState::FullSize ? task.fullPhotoCount() > 0 : state != ShareState::Composing;
}

int photosSent(const ShareTask &task) {
    const int photos = task.photoCount();
    // The resume point of a stopped share can be stale (photos removed since); never more than all.
    return shareState(task) == ShareState::FullSize ? photos : std::clamp(task.continuePhoto(), 0, photos);
}

bool isOtherAccountsShare(const ShareTask &task, const ShareOwner &account) {
    return !task.owner().isEmpty() && !task.owner().sameAs(account);
}

} // namespace lf
