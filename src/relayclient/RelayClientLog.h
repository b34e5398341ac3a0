#pragma once

// The logging category of the relay's HTTP client: each request and how it ended; see
// docs/ERRORS-AND-LOGS.md for what is logged where.

#include <QLoggingCategory>

namespace korvo {

Q_DECLARE_LOGGING_CATEGORY(lcRelayClient) // korvo.relayclient

} // namespace korvo
