#pragma once

#include <string>

namespace korvo {

/// What `korvo-connector --version` prints: version, build number and build channel.
std::string versionText();

} // namespace korvo
