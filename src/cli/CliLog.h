#pragma once

// The logging category of the command line: each command and its exit code; see
// docs/ERRORS-AND-LOGS.md for what is logged where.

#include <QLoggingCategory>

namespace korvo {

Q_DECLARE_LOGGING_CATEGORY(lcCli) // korvo.cli

} // namespace korvo
