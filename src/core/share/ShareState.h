#pragma once

#include "share/ShareTask.h"

namespace lf {

// Where a stored share stands, read from its archive's flags. The later stage wins: a share whose
// bundle went through is "full-size" even while it has no full-size uploads left.
enum class ShareState {
    Composing, // never sent: the task a window shows for editing
    Queued, // Share was pressed, the bundle not yet created on the server
    Interrupted, // the bundle exists on the server, some photos are still to go
    Failed, // given up; sent again on request
    FullSize, // the bundle went through; full-size uploads may remain
};

ShareState shareState(const ShareTask &task);
// The lower-case name scripts see ("composing", "queued", "interrupted", "failed", "full-size").
const char *shareStateName(ShareState state);
// Whether anything of the share is still to be sent (a composing share is not).
bool isUnfinished(const ShareTask &task);
// Photos of the share that reached the server.
int photosSent(const ShareTask &task);
// Whether the share waits for another account than `account` to sign in. A share without an
// owner is anybody's.
bool isOtherAccountsShare(const ShareTask &task, const ShareOwner &account);

} // namespace lf
