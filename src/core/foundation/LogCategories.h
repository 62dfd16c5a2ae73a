#pragma once

#include <QLoggingCategory>

// One category per area of the client. Messages in them go to the desktop log file while the
// log switch is on, and nowhere otherwise (see foundation/Log.h).
Q_DECLARE_LOGGING_CATEGORY(lfApi)
Q_DECLARE_LOGGING_CATEGORY(lfSession)
Q_DECLARE_LOGGING_CATEGORY(lfShare)
Q_DECLARE_LOGGING_CATEGORY(lfSending)
Q_DECLARE_LOGGING_CATEGORY(lfContacts)
Q_DECLARE_LOGGING_CATEGORY(lfCli)
Q_DECLARE_LOGGING_CATEGORY(lfFoundation)
Q_DECLARE_LOGGING_CATEGORY(lfUi)
Q_DECLARE_LOGGING_CATEGORY(lfPlatform)
