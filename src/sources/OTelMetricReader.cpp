#include "sources/OTelMetricReader.h"

#include "sources/FieldExtraction.h"
#include "sources/ValueParsers.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <set>

namespace korvo {
namespace {

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;

constexpr std::array<std::string_view, 2> kMetricNameKeys{"name", "metricName"};
constexpr std::array<std::string_view, 3> kContainerKeys{"sum", "gauge", "histogram"};
constexpr std::array<std::string_view, 5> kTokenTypeAttributeKeys{
    "type", "token.type", "token_type", "gen_ai.token.type", "gen_ai.token_type"};
constexpr std::array<std::string_view, 2> kTokenTypePointKeys{"type", "token_type"};
constexpr std::array<std::string_view, 7> kValueKeys{"value", "count",    "sum",        "asDouble",
                                                     "asInt", "intValue", "doubleValue"};
// Exporters built on the JavaScript SDK write "endTime" and "startTime" as [seconds, nanoseconds].
constexpr std::array<std::string_view, 6> kPointTimeKeys{
    "timestamp", "time", "timeUnixNano", "endTime", "startTimeUnixNano", "startTime"};
constexpr std::array<std::string_view, 3> kAttributeTimeKeys{"timestamp", "time", "timeUnixNano"};
constexpr std::array<std::string_view, 2> kStartTimeKeys{"startTimeUnixNano", "startTime"};
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
    if (auto name = firstPresent(obj, kMetricNameKeys)) {
        return parseText(*name);
    }
    if (auto descriptor = asObject(member(obj, "descriptor"))) {
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

OTelAttributes merged(const OTelAttributes& base, const OTelAttributes& overriding) {
    OTelAttributes result = base;
    for (const auto& [key, value] : overriding) {
        result.insert_or_assign(key, value);
    }
    return result;
}

// A histogram's "sum" is the token total; its "count" is only the number of measurements.
std::optional<double> histogramSum(object obj) {
    if (auto sum = member(obj, "sum")) {
        return numberOf(unwrapTypedValue(sum));
    }
    return std::nullopt;
}

std::optional<double> pointValue(object point) {
    if (auto sum = histogramSum(point)) {
        return sum;
    }
    const auto nested = asObject(member(point, "value"));
    if (nested) {
        if (auto sum = histogramSum(*nested)) {
            return sum;
        }
    }
    if (auto first = firstPresent(point, kValueKeys)) {
        if (auto value = parseNumber(*first)) {
            return value;
        }
    }
    if (auto unwrapped = numberOf(unwrapTypedValue(member(point, "value")))) {
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

std::optional<std::string> wholeNumberText(double value) {
    const double rounded = std::round(value);
    // 2^63 is the first value a signed 64-bit integer cannot hold.
    if (!std::isfinite(rounded) || rounded >= 9223372036854775808.0 ||
        rounded < -9223372036854775808.0) {
        return std::nullopt;
    }
    return std::to_string(static_cast<std::int64_t>(rounded));
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
bool classify(const std::string& type, double value, SanitizedUsageCandidate& candidate) {
    const std::string lower = lowerCased(type);
    if (containsAny(lower, {"input", "prompt"})) {
        candidate.inputTokens = value;
        return true;
    }
    if (containsAny(lower, {"output", "completion"})) {
        candidate.outputTokens = value;
        return true;
    }
    if (containsAny(lower, {"cache", "cached"})) {
        candidate.cachedInputTokens = value;
        return true;
    }
    const auto count = wholeNumberText(value);
    if (!count) {
        return false;
    }
    if (containsAny(lower, {"thought", "reasoning"})) {
        candidate.remainingText = "Thought " + *count + " tokens";
    } else if (containsAny(lower, {"tool"})) {
        candidate.remainingText = "Tool " + *count + " tokens";
    } else {
        candidate.remainingText = type + " " + *count + " tokens";
    }
    return true;
}

std::string seriesKey(std::string_view metricName, element startTime,
                      const OTelAttributes& attributes) {
    std::string key(metricName);
    key += '\x1d';
    key += simdjson::minify(startTime);
    for (const auto& [name, value] : attributes) {
        key += '\x1e';
        key += name;
        key += '\x1f';
        if (value) {
            key += simdjson::minify(*value);
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
    const OTelAttributes metricAttributes = parseAttributes(member(metric, "attributes"));
    collectPoint(name, label, metric, metricAttributes, out);
    for (std::string_view key : kContainerKeys) {
        const auto container = asObject(member(metric, key));
        if (!container) {
            continue;
        }
        const OTelAttributes attributes =
            merged(metricAttributes, parseAttributes(member(*container, "attributes")));
        collectPoint(name, label, *container, attributes, out);
        collectPoints(name, label, member(*container, "dataPoints"), attributes, out);
    }
    collectPoints(name, label, member(metric, "dataPoints"), metricAttributes, out);
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

std::optional<element> unwrapTypedValue(std::optional<element> value) {
    while (value && !value->is_null()) {
        const auto obj = asObject(value);
        if (!obj) {
            return value;
        }
        std::optional<element> typed;
        for (std::string_view key : kTypedValueKeys) {
            auto candidate = member(*obj, key);
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

OTelAttributes parseAttributes(std::optional<element> value) {
    OTelAttributes attributes;
    if (!value) {
        return attributes;
    }
    if (auto obj = asObject(value)) {
        for (auto field : *obj) {
            attributes.insert_or_assign(std::string(field.key), unwrapTypedValue(field.value));
        }
    } else if (auto list = asArray(value)) {
        for (element item : *list) {
            const auto entry = asObject(item);
            if (!entry) {
                continue;
            }
            auto keyValue = member(*entry, "key");
            if (!keyValue) {
                keyValue = member(*entry, "name");
            }
            const auto key = textOf(keyValue);
            if (!key) {
                continue;
            }
            attributes.insert_or_assign(*key, unwrapTypedValue(member(*entry, "value")));
        }
    }
    return attributes;
}

std::optional<std::string> textForKeys(const OTelAttributes& attributes,
                                       std::span<const std::string_view> keys) {
    for (std::string_view key : keys) {
        const auto found = attributes.find(key);
        if (found != attributes.end()) {
            if (auto text = textOf(found->second)) {
                return text;
            }
        }
    }
    std::set<std::string, std::less<>> normalized;
    for (std::string_view key : keys) {
        normalized.insert(normalizeKey(key));
    }
    for (const auto& [key, value] : attributes) {
        if (normalized.contains(normalizeKey(key))) {
            if (auto text = textOf(value)) {
                return text;
            }
        }
    }
    return std::nullopt;
}

std::optional<Instant> dateForKeys(const OTelAttributes& attributes,
                                   std::span<const std::string_view> keys) {
    for (std::string_view key : keys) {
        const auto found = attributes.find(key);
        if (found != attributes.end() && found->second) {
            if (auto date = parseOTelDate(*found->second)) {
                return date;
            }
        }
    }
    std::set<std::string, std::less<>> normalized;
    for (std::string_view key : keys) {
        normalized.insert(normalizeKey(key));
    }
    for (const auto& [key, value] : attributes) {
        if (value && normalized.contains(normalizeKey(key))) {
            if (auto date = parseOTelDate(*value)) {
                return date;
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
    const OTelAttributes attributes =
        merged(inherited, parseAttributes(member(point, "attributes")));
    auto type = textForKeys(attributes, kTokenTypeAttributeKeys);
    if (!type) {
        type = textOf(firstPresent(point, kTokenTypePointKeys));
    }
    const auto value = pointValue(point);
    if (!type || !value || !std::isfinite(*value)) {
        return std::nullopt;
    }
    OTelTokenPoint result;
    result.candidate.windowLabel = std::string(windowLabel);
    if (auto time = firstPresent(point, kPointTimeKeys)) {
        result.candidate.observedAt = parseOTelDate(*time);
    }
    if (!result.candidate.observedAt) {
        result.candidate.observedAt = dateForKeys(attributes, kAttributeTimeKeys);
    }
    if (!classify(*type, *value, result.candidate)) {
        return std::nullopt;
    }
    if (auto start = firstPresent(point, kStartTimeKeys); start && !start->is_null()) {
        result.series = seriesKey(metricName, *start, attributes);
    }
    return result;
}

std::vector<OTelTokenPoint> walkMetrics(element value,
                                        std::span<const std::string_view> acceptedNames,
                                        std::string_view windowLabel) {
    std::vector<OTelTokenPoint> points;
    walk(value, acceptedNames, windowLabel, points);
    return points;
}

} // namespace korvo
