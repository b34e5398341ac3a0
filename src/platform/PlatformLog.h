#pragma once

// The logging category of the platform services (keychain, login item, power, notifications); see
// docs/ERRORS-AND-LOGS.md for what is logged where.

#include <QLoggingCategory>

namespace korvo {

Q_DECLARE_LOGGING_CATEGORY(lcPlatform) // korvo.platform

} // namespace korvo
