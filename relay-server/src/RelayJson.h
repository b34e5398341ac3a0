#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvo::relayserver {

// A JSON string literal of `text` (quotes included), escaped by the snapshot writer, so
// answers are always valid UTF-8 JSON.
std::string jsonString(std::string_view text);

// A compact JSON object of string members in name order; absent members are left out.
std::string jsonObject(const std::map<std::string, std::optional<std::string>>& members);

// {"error": message}
std::string jsonError(std::string_view message);

} // namespace korvo::relayserver
