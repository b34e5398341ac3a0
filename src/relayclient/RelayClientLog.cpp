#include "relayclient/RelayClientLog.h"

namespace korvo {

Q_LOGGING_CATEGORY(lcRelayClient, "korvo.relayclient", QtWarningMsg)

} // namespace korvo
