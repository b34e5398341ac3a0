#pragma once

// The connector's logging categories. What the user must see is printed or shown by the command
// line and the window; these lines are the detail behind it, off unless QT_LOGGING_RULES turns
// them on (for example "korvo.*.info=true", or "korvo.sources.debug=true"). Tokens, secrets and
// pairing codes are never logged.

#include <QLoggingCategory>

namespace korvo {

Q_DECLARE_LOGGING_CATEGORY(lcSources) // korvo.sources: collections over the adapters
Q_DECLARE_LOGGING_CATEGORY(lcSync)    // korvo.sync: uploads, automatic sync, sleep and wake
Q_DECLARE_LOGGING_CATEGORY(lcPairing) // korvo.pairing: pairing sessions and their end
Q_DECLARE_LOGGING_CATEGORY(lcRelay)   // korvo.relay: relay health, devices, unlinking
Q_DECLARE_LOGGING_CATEGORY(lcUpdates) // korvo.updates: update checks
Q_DECLARE_LOGGING_CATEGORY(lcHistory) // korvo.history: the local usage history file

} // namespace korvo
