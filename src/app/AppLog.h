#pragma once

// The logging category of the desktop program: its start, tray and windows; see
// docs/ERRORS-AND-LOGS.md for what is logged where.

#include <QLoggingCategory>

namespace korvo {

Q_DECLARE_LOGGING_CATEGORY(lcApp) // korvo.app

} // namespace korvo
