#pragma once

// Conversions of JSON values found in tool files into the sanitized field types. A missing
// member (an error result) and JSON null are both absent.

#include "model/Instant.h"
#include "model/UsageSnapshot.h"

#include <optional>
#include <simdjson.h>
#include <string>
#include <string_view>

namespace korvo {

using JsonValue = simdjson::dom::element;
using JsonLookup = simdjson::simdjson_result<simdjson::dom::element>;

/// A finite number: a JSON number, or a text holding exactly one decimal number (C locale,
/// surrounding white space allowed).
std::optional<double> parseNumber(const JsonValue& value);
std::optional<double> parseNumber(const JsonLookup& value);
/// The same for a bare text.
std::optional<double> parseNumberText(std::string_view text);

/// A text with surrounding white space removed; empty texts and non-texts are absent.
std::optional<std::string> parseText(const JsonValue& value);
std::optional<std::string> parseText(const JsonLookup& value);

/// A moment: a number of seconds, milliseconds, microseconds or nanoseconds since 1970 (the unit
/// told by its size), or an internet date-time text with or without fractional seconds.
std::optional<Instant> parseDate(const JsonValue& value);
std::optional<Instant> parseDate(const JsonLookup& value);
/// The instant for a number of seconds since 1970, absent when it is not finite or lies outside
/// the range an Instant can hold.
std::optional<Instant> instantFromSeconds(double seconds);
/// The numeric half of parseDate.
std::optional<Instant> instantFromEpochNumber(double number);

/// A status given as a word: "limited"/"exhausted", "critical", "warning"/"warn", "offline",
/// "stale", "ok"/"ready"/"active", found anywhere in the text regardless of case.
std::optional<ProviderStatus> parseStatusText(const JsonValue& value);
std::optional<ProviderStatus> parseStatusText(const JsonLookup& value);

} // namespace korvo
