#pragma once

// Reduces any JSON document to a SanitizedUsageCandidate by the last key above every leaf value.

#include "sources/fields/SanitizedUsageCandidate.h"
#include "sources/fields/ValueParsers.h"

#include <array>
#include <initializer_list>
#include <optional>
#include <simdjson.h>
#include <span>
#include <string>
#include <string_view>

namespace korvo {

/// Lower case, letters and digits only: "used_percent", "usedPercent" and "Used-Percent" all
/// become "usedpercent". Bytes outside ASCII are kept as they are.
std::string normalizeKey(std::string_view key);

/// True when applyField could fill, under this normalized key, a field that makes a candidate
/// useful on its own (a window label or an observation time does not).
bool keyCanMakeUseful(std::string_view normalizedKey);

/// Fills at most one field of `candidate` from a leaf value under a normalized key; a field that
/// is already set keeps its value, except that cache creation and cache read counts add up.
void applyField(std::string_view normalizedKey, const JsonValue& value,
                SanitizedUsageCandidate& candidate);

/// Walks `value` depth first in document order and applies every leaf under the last key above
/// it; array elements inherit their parent's key. `key` is that last key for `value` itself
/// (empty at a document's top).
void collectCandidate(const JsonValue& value, std::string_view key,
                      SanitizedUsageCandidate& candidate);

/// The candidate of an already parsed document, or absent when it holds nothing useful.
std::optional<SanitizedUsageCandidate> candidateFromDocument(const JsonValue& document);

/// Parses `bytes` with `parser` and walks it. `bytes` must be followed by kParsePadding readable
/// bytes (the buffers of readSmallFile and readTailLines are). Invalid JSON gives absent.
std::optional<SanitizedUsageCandidate> parseJSONCandidate(simdjson::dom::parser& parser,
                                                          std::string_view paddedBytes);
/// The same with a parser of its own and no requirement on the bytes.
std::optional<SanitizedUsageCandidate> parseJSONCandidate(std::string_view bytes);

/// The first of `keys` that `object` has as a member (a null member counts as present).
std::optional<JsonValue> firstMember(const simdjson::dom::object& object,
                                     std::span<const std::string_view> keys);
inline std::optional<JsonValue> firstMember(const simdjson::dom::object& object,
                                            std::initializer_list<std::string_view> keys) {
    return firstMember(object, std::span<const std::string_view>(keys.begin(), keys.size()));
}
/// The first of `keys` whose member is an object.
std::optional<simdjson::dom::object> firstObjectMember(const simdjson::dom::object& object,
                                                       std::span<const std::string_view> keys);
inline std::optional<simdjson::dom::object>
firstObjectMember(const simdjson::dom::object& object,
                  std::initializer_list<std::string_view> keys) {
    return firstObjectMember(object, std::span<const std::string_view>(keys.begin(), keys.size()));
}
/// The member `key` when it is an object.
std::optional<simdjson::dom::object> objectMember(const simdjson::dom::object& object,
                                                  std::string_view key);

/// parseNumber / parseDate of the first of `keys` that `object` has.
std::optional<double> numberMember(const simdjson::dom::object& object,
                                   std::span<const std::string_view> keys);
std::optional<Instant> dateMember(const simdjson::dom::object& object,
                                  std::span<const std::string_view> keys);
inline std::optional<double> numberMember(const simdjson::dom::object& object,
                                          std::initializer_list<std::string_view> keys) {
    return numberMember(object, std::span<const std::string_view>(keys.begin(), keys.size()));
}
inline std::optional<Instant> dateMember(const simdjson::dom::object& object,
                                         std::initializer_list<std::string_view> keys) {
    return dateMember(object, std::span<const std::string_view>(keys.begin(), keys.size()));
}

/// Reset-time keys of a quota window, in the order they are looked up.
inline constexpr std::array<std::string_view, 4> kWindowResetKeys = {"resets_at", "resetsAt",
                                                                     "reset_at", "resetAt"};

} // namespace korvo
