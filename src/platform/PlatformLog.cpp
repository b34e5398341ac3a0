#include "platform/PlatformLog.h"

namespace korvo {

Q_LOGGING_CATEGORY(lcPlatform, "korvo.platform", QtWarningMsg)

} // namespace korvo
