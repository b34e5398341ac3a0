#include "app/AppLog.h"

namespace korvo {

Q_LOGGING_CATEGORY(lcApp, "korvo.app", QtWarningMsg)

} // namespace korvo
