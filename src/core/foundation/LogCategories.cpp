#include "foundation/LogCategories.h"

#include "foundation/Log.h"

Q_LOGGING_CATEGORY(lfApi, "lf.api")
Q_LOGGING_CATEGORY(lfSession, "lf.session")
Q_LOGGING_CATEGORY(lfShare, "lf.share")
Q_LOGGING_CATEGORY(lfSending, "lf.sending")
Q_LOGGING_CATEGORY(lfContacts, "lf.contacts")
Q_LOGGING_CATEGORY(lfCli, "lf.cli")
Q_LOGGING_CATEGORY(lfFoundation, "lf.foundation")
Q_LOGGING_CATEGORY(lfUi, "lf.ui")
Q_LOGGING_CATEGORY(lfPlatform, "lf.platform")

namespace {
// Our categories stay silent until the log switch is read and found on.
void installFilterAtStart() {
    lf::installLogCategoryFilter();
}
} // namespace
Q_CONSTRUCTOR_FUNCTION(installFilterAtStart)
