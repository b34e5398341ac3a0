#include "core/LogCategories.h"

namespace korvo {

Q_LOGGING_CATEGORY(lcSources, "korvo.sources", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSync, "korvo.sync", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPairing, "korvo.pairing", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRelay, "korvo.relay", QtWarningMsg)
Q_LOGGING_CATEGORY(lcUpdates, "korvo.updates", QtWarningMsg)
Q_LOGGING_CATEGORY(lcHistory, "korvo.history", QtWarningMsg)

} // namespace korvo
