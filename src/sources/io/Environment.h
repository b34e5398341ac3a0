#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace korvo {

// Read access to environment variables, injectable so tests never touch the process
// environment. Answers nothing for an unset variable.
using Environment = std::function<std::optional<std::string>(std::string_view name)>;

// The real process environment.
Environment processEnvironment();

// A fixed set of variables; every other name is unset.
Environment fixedEnvironment(std::map<std::string, std::string, std::less<>> variables);

} // namespace korvo
