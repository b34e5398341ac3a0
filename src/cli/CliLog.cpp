#include "cli/CliLog.h"

namespace korvo {

Q_LOGGING_CATEGORY(lcCli, "korvo.cli", QtWarningMsg)

} // namespace korvo
