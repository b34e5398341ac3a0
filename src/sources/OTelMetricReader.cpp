#include "sources/OTelMetricReader.h"

#include "sources/FieldExtraction.h"
#include "sources/ValueParsers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace korvo {
namespace {

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;

constexpr std::array<std::string_view, 2> kMetricNameKeys{"name", "metricName"};
constexpr std::array<std::string_view, 3> kContainerKeys{"sum", "gauge", "histogram"};
constexpr std::array<std::string_view, 5> kTokenTypeAttributeKeys{
    "type", "token.type", "token_type", "gen_ai.token.type", "gen_ai.token_type"};
constexpr std::array<std::string_view, 7> kValueKeys{"value", "count",    "sum",        "asDouble",
                                                     "asInt", "intValue", "doubleValue"};
constexpr std::array<std::string_view, 3> kAttributeTimeKeys{"timestamp", "time", "timeUnixNano"};
constexpr std::array<std::string_view, 5> kTypedValueKeys{"stringValue", "intValue", "doubleValue",
                                                          "boolValue", "value"};

std::optional<element> member(object obj, std::string_view key) {
    element value;
    if (obj.at_key(key).get(value) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return value;
}

std::optional<object> asObject(std::optional<element> value) {
    object obj;
    if (!value || value->get_object().get(obj) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return obj;
}

std::optional<array> asArray(std::optional<element> value) {
    array arr;
    if (!value || value->get_array().get(arr) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return arr;
}

// The member under the first key of `keys` that the object holds, null included.
template <std::size_t N>
std::optional<element> firstPresent(object obj, const std::array<std::string_view, N>& keys) {
    for (std::string_view key : keys) {
        if (auto value = member(obj, key)) {
            return value;
        }
    }
    return std::nullopt;
}

// The members under `keys`, found in one pass over the object (the first of equal keys wins).
template <std::size_t N>
std::array<std::optional<element>, N> gather(object obj,
                                             const std::array<std::string_view, N>& keys) {
    std::array<std::optional<element>, N> found;
    for (auto field : obj) {
        const std::string_view key = field.key;
        for (std::size_t i = 0; i < N; ++i) {
            // Sizes and first letters tell most keys apart before any comparison of bytes.
            if (key.size() == keys[i].size() && !key.empty() && key[0] == keys[i][0] && !found[i] &&
                key == keys[i]) {
                found[i] = field.value;
            }
        }
    }
    return found;
}

template <std::size_t N>
std::optional<element> firstOf(const std::array<std::optional<element>, N>& found, std::size_t from,
                               std::size_t to) {
    for (std::size_t i = from; i < to && i < N; ++i) {
        if (found[i]) {
            return found[i];
        }
    }
    return std::nullopt;
}

// The members a data point is read from, grouped in the order of the lookups that use them.
enum PointKey : std::size_t {
    attributesKey,
    typeKeys,                 // "type", "token_type"
    valueKeys = typeKeys + 2, // the seven value keys; "sum" is the third
    sumKey = valueKeys + 2,
    timeKeys = valueKeys + 7,     // the six point time keys; the last two are start times
    startTimeKeys = timeKeys + 4, // (exporters built on the JavaScript SDK write "endTime"
    pointKeyCount = timeKeys + 6, // and "startTime" as [seconds, nanoseconds])
};
constexpr std::array<std::string_view, pointKeyCount> kPointKeys{
    "attributes",   "type",    "token_type",        "value",       "count",     "sum",
    "asDouble",     "asInt",   "intValue",          "doubleValue", "timestamp", "time",
    "timeUnixNano", "endTime", "startTimeUnixNano", "startTime"};
static_assert(kPointKeys[sumKey] == "sum" && kPointKeys[startTimeKeys] == "startTimeUnixNano");

std::optional<double> numberOf(std::optional<element> value) {
    if (!value) {
        return std::nullopt;
    }
    return parseNumber(*value);
}

std::optional<std::string> textOf(std::optional<element> value) {
    if (!value) {
        return std::nullopt;
    }
    return parseText(*value);
}

std::optional<std::string> metricName(object obj) {
    static constexpr std::array<std::string_view, 3> kKeys{kMetricNameKeys[0], kMetricNameKeys[1],
                                                           "descriptor"};
    const auto found = gather(obj, kKeys);
    if (auto name = firstOf(found, 0, 2)) {
        return parseText(*name);
    }
    if (auto descriptor = asObject(found[2])) {
        return textOf(member(*descriptor, "name"));
    }
    return std::nullopt;
}

bool isAccepted(std::string_view name, std::span<const std::string_view> acceptedNames) {
    for (std::string_view accepted : acceptedNames) {
        if (name == accepted) {
            return true;
        }
        if (name.size() > accepted.size() && name.ends_with(accepted) &&
            name[name.size() - accepted.size() - 1] == '.') {
            return true;
        }
    }
    return false;
}

std::string_view trimmedView(std::string_view text) {
    constexpr std::string_view kSpace = " \t\n\r\v\f";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// A histogram's "sum" is the token total; its "count" is only the number of measurements.
std::optional<double> pointValue(const std::array<std::optional<element>, pointKeyCount>& found) {
    if (auto sum = numberOf(unwrapTypedValue(found[sumKey]))) {
        return sum;
    }
    const auto nested = asObject(found[valueKeys]);
    if (nested) {
        if (auto sum = numberOf(unwrapTypedValue(member(*nested, "sum")))) {
            return sum;
        }
    }
    if (auto first = firstOf(found, valueKeys, valueKeys + 7)) {
        if (auto value = parseNumber(*first)) {
            return value;
        }
    }
    if (auto unwrapped = numberOf(unwrapTypedValue(found[valueKeys]))) {
        return unwrapped;
    }
    // A value object that names its own kind, such as {"asInt": "7"}.
    if (nested) {
        if (auto first = firstPresent(*nested, kValueKeys)) {
            return numberOf(unwrapTypedValue(first));
        }
    }
    return std::nullopt;
}

std::string lowerCased(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return result;
}

bool containsAny(std::string_view text, std::initializer_list<std::string_view> parts) {
    for (std::string_view part : parts) {
        if (text.find(part) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

// Fills the field the token type names; false when the value cannot be written as text.
bool classify(const std::string& type, double value, OTelTokenPoint& point) {
    const std::string lower = lowerCased(type);
    if (containsAny(lower, {"input", "prompt"})) {
        point.candidate.inputTokens = value;
        return true;
    }
    if (containsAny(lower, {"output", "completion"})) {
        point.candidate.outputTokens = value;
        return true;
    }
    if (containsAny(lower, {"cache", "cached"})) {
        point.candidate.cachedInputTokens = value;
        return true;
    }
    if (containsAny(lower, {"thought", "reasoning"})) {
        point.textLabel = "Thought";
    } else if (containsAny(lower, {"tool"})) {
        point.textLabel = "Tool";
    } else {
        point.textLabel = type;
    }
    point.value = value;
    return tokenCountText(point.textLabel, value).has_value();
}

// Appends a value in a form that tells values of different kinds apart.
void appendValue(std::string& key, element value) {
    std::string_view text;
    if (value.get_string().get(text) == simdjson::SUCCESS) {
        key += 's';
        key += text;
    } else {
        key += simdjson::minify(value);
    }
}

std::string seriesKey(std::string_view metricName, element startTime,
                      const OTelAttributes& attributes) {
    std::string key;
    key.reserve(160);
    key += metricName;
    key += '\x1d';
    appendValue(key, startTime);
    for (const auto& [name, value] : attributes.effective()) {
        key += '\x1e';
        key += name;
        key += '\x1f';
        if (value) {
            appendValue(key, *value);
        }
    }
    return key;
}

void collectPoint(std::string_view name, std::string_view label, object point,
                  const OTelAttributes& attributes, std::vector<OTelTokenPoint>& out) {
    if (auto result = readDataPoint(name, label, point, attributes)) {
        out.push_back(std::move(*result));
    }
}

// A metric or a container read as a data point of its own: without attributes and without a type
// member it has no token type, so the common nested shapes skip the full read.
void collectItself(std::string_view name, std::string_view label, object obj,
                   const OTelAttributes& attributes, std::vector<OTelTokenPoint>& out) {
    if (attributes.empty() && !member(obj, "type") && !member(obj, "token_type")) {
        return;
    }
    collectPoint(name, label, obj, attributes, out);
}

void collectPoints(std::string_view name, std::string_view label, std::optional<element> points,
                   const OTelAttributes& attributes, std::vector<OTelTokenPoint>& out) {
    const auto list = asArray(points);
    if (!list) {
        return;
    }
    for (element item : *list) {
        object point;
        if (item.get_object().get(point) == simdjson::SUCCESS) {
            collectPoint(name, label, point, attributes, out);
        }
    }
}

void readMetric(std::string_view name, object metric, std::string_view label,
                std::vector<OTelTokenPoint>& out) {
    static constexpr std::array<std::string_view, 5> kKeys{
        "attributes", kContainerKeys[0], kContainerKeys[1], kContainerKeys[2], "dataPoints"};
    static constexpr std::array<std::string_view, 2> kContainerMembers{"attributes", "dataPoints"};
    const auto found = gather(metric, kKeys);
    const OTelAttributes metricAttributes = parseAttributes(found[0]);
    collectItself(name, label, metric, metricAttributes, out);
    for (std::size_t i = 1; i <= kContainerKeys.size(); ++i) {
        const auto container = asObject(found[i]);
        if (!container) {
            continue;
        }
        const auto members = gather(*container, kContainerMembers);
        const OTelAttributes attributes = parseAttributes(members[0], metricAttributes);
        collectItself(name, label, *container, attributes, out);
        collectPoints(name, label, members[1], attributes, out);
    }
    collectPoints(name, label, found[4], metricAttributes, out);
}

void walk(element value, std::span<const std::string_view> acceptedNames, std::string_view label,
          std::vector<OTelTokenPoint>& out) {
    object obj;
    array list;
    if (value.get_object().get(obj) == simdjson::SUCCESS) {
        if (auto name = metricName(obj); name && isAccepted(*name, acceptedNames)) {
            readMetric(*name, obj, label, out);
            return;
        }
        for (auto field : obj) {
            walk(field.value, acceptedNames, label, out);
        }
    } else if (value.get_array().get(list) == simdjson::SUCCESS) {
        for (element item : list) {
            walk(item, acceptedNames, label, out);
        }
    }
}

} // namespace

std::optional<std::string> tokenCountText(std::string_view label, double value) {
    const double rounded = std::round(value);
    // 2^63 is the first value a signed 64-bit integer cannot hold.
    if (!std::isfinite(rounded) || rounded >= 9223372036854775808.0 ||
        rounded < -9223372036854775808.0) {
        return std::nullopt;
    }
    return std::string(label) + " " + std::to_string(static_cast<std::int64_t>(rounded)) +
           " tokens";
}

std::optional<element> unwrapTypedValue(std::optional<element> value) {
    while (value && !value->is_null()) {
        const auto obj = asObject(value);
        if (!obj) {
            return value;
        }
        std::optional<element> typed;
        for (const auto& candidate : gather(*obj, kTypedValueKeys)) {
            if (candidate && !candidate->is_null()) {
                typed = candidate;
                break;
            }
        }
        if (!typed) {
            return value;
        }
        value = typed;
    }
    return std::nullopt;
}

const OTelAttributes::Value* OTelAttributes::find(std::string_view key) const {
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
        if (it->first == key) {
            return &it->second;
        }
    }
    return m_inherited ? m_inherited->find(key) : nullptr;
}

std::vector<OTelAttributes::Entry> OTelAttributes::effective() const {
    std::vector<Entry> result;
    for (const OTelAttributes* layer = this; layer; layer = layer->m_inherited) {
        for (auto it = layer->m_entries.rbegin(); it != layer->m_entries.rend(); ++it) {
            const bool replaced = std::any_of(result.begin(), result.end(), [&](const Entry& kept) {
                return kept.first == it->first;
            });
            if (!replaced) {
                result.push_back(*it);
            }
        }
    }
    std::sort(result.begin(), result.end(),
              [](const Entry& a, const Entry& b) { return a.first < b.first; });
    return result;
}

OTelAttributes parseAttributes(std::optional<element> value) {
    return parseAttributes(value, OTelAttributes());
}

OTelAttributes parseAttributes(std::optional<element> value, const OTelAttributes& inherited) {
    OTelAttributes attributes =
        inherited.empty() ? OTelAttributes() : OTelAttributes::over(inherited);
    if (!value) {
        return attributes;
    }
    if (auto obj = asObject(value)) {
        for (auto field : *obj) {
            attributes.set(field.key, unwrapTypedValue(field.value));
        }
    } else if (auto list = asArray(value)) {
        for (element item : *list) {
            const auto entry = asObject(item);
            if (!entry) {
                continue;
            }
            static constexpr std::array<std::string_view, 3> kEntryKeys{"key", "name", "value"};
            const auto members = gather(*entry, kEntryKeys);
            const auto keyValue = members[0] ? members[0] : members[1];
            std::string_view key;
            if (!keyValue || keyValue->get_string().get(key) != simdjson::SUCCESS) {
                continue;
            }
            key = trimmedView(key);
            if (!key.empty()) {
                attributes.set(key, unwrapTypedValue(members[2]));
            }
        }
    }
    return attributes;
}

std::optional<std::string> textForKeys(const OTelAttributes& attributes,
                                       std::span<const std::string_view> keys) {
    if (attributes.empty()) {
        return std::nullopt;
    }
    std::optional<std::string> result;
    for (std::string_view key : keys) {
        if (const auto* value = attributes.find(key); value && *value) {
            if ((result = parseText(**value))) {
                return result;
            }
        }
    }
    for (const auto& [key, value] : attributes.effective()) {
        if (!value) {
            continue;
        }
        const std::string normalized = normalizeKey(key);
        for (std::string_view search : keys) {
            if (normalized == normalizeKey(search)) {
                if ((result = parseText(*value))) {
                    return result;
                }
                break;
            }
        }
    }
    return std::nullopt;
}

std::optional<Instant> dateForKeys(const OTelAttributes& attributes,
                                   std::span<const std::string_view> keys) {
    if (attributes.empty()) {
        return std::nullopt;
    }
    for (std::string_view key : keys) {
        if (const auto* value = attributes.find(key); value && *value) {
            if (auto date = parseOTelDate(**value)) {
                return date;
            }
        }
    }
    for (const auto& [key, value] : attributes.effective()) {
        if (!value) {
            continue;
        }
        const std::string normalized = normalizeKey(key);
        for (std::string_view search : keys) {
            if (normalized == normalizeKey(search)) {
                if (auto date = parseOTelDate(*value)) {
                    return date;
                }
                break;
            }
        }
    }
    return std::nullopt;
}

std::optional<Instant> parseOTelDate(element value) {
    array pair;
    if (value.get_array().get(pair) != simdjson::SUCCESS) {
        return parseDate(value);
    }
    if (pair.size() != 2) {
        return std::nullopt;
    }
    double seconds = 0;
    double nanoseconds = 0;
    if (pair.at(0).get_double().get(seconds) != simdjson::SUCCESS ||
        pair.at(1).get_double().get(nanoseconds) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    // Whole seconds that a 64-bit nanosecond clock can hold (until the year 2262).
    constexpr double kLimit = 9.2e9;
    if (seconds != std::floor(seconds) || seconds <= -kLimit || seconds >= kLimit ||
        nanoseconds < 0 || nanoseconds >= 1e9) {
        return std::nullopt;
    }
    const auto total = std::chrono::seconds(static_cast<std::int64_t>(seconds)) +
                       std::chrono::nanoseconds(static_cast<std::int64_t>(nanoseconds));
    return Instant(std::chrono::duration_cast<Instant::duration>(total));
}

std::optional<OTelTokenPoint> readDataPoint(std::string_view metricName,
                                            std::string_view windowLabel, object point,
                                            const OTelAttributes& inherited) {
    const auto found = gather(point, kPointKeys);
    const OTelAttributes attributes = parseAttributes(found[attributesKey], inherited);
    auto type = textForKeys(attributes, kTokenTypeAttributeKeys);
    if (!type) {
        type = textOf(firstOf(found, typeKeys, typeKeys + 2));
    }
    if (!type) {
        return std::nullopt;
    }
    const auto value = pointValue(found);
    if (!value || !std::isfinite(*value)) {
        return std::nullopt;
    }
    OTelTokenPoint result;
    result.candidate.windowLabel = std::string(windowLabel);
    if (auto time = firstOf(found, timeKeys, pointKeyCount)) {
        result.candidate.observedAt = parseOTelDate(*time);
    }
    if (!result.candidate.observedAt) {
        result.candidate.observedAt = dateForKeys(attributes, kAttributeTimeKeys);
    }
    if (!classify(*type, *value, result)) {
        return std::nullopt;
    }
    if (auto start = firstOf(found, startTimeKeys, pointKeyCount); start && !start->is_null()) {
        result.series = seriesKey(metricName, *start, attributes);
    }
    return result;
}

void walkMetrics(element value, std::span<const std::string_view> acceptedNames,
                 std::string_view windowLabel, std::vector<OTelTokenPoint>& points) {
    walk(value, acceptedNames, windowLabel, points);
}

} // namespace korvo
