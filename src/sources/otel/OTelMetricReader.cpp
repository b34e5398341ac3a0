#include "sources/otel/OTelMetricReader.h"

#include "sources/fields/ValueParsers.h"
#include "sources/otel/OTelAttributes.h"
#include "sources/otel/OTelJson.h"
#include "sources/otel/OTelTokenTotal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace korvo {
namespace {

using namespace otel;

constexpr std::array<std::string_view, 5> kTokenTypeAttributeKeys{
    "type", "token.type", "token_type", "gen_ai.token.type", "gen_ai.token_type"};
constexpr std::array<std::string_view, 7> kValueKeys{"value", "count",    "sum",        "asDouble",
                                                     "asInt", "intValue", "doubleValue"};
constexpr std::array<std::string_view, 3> kAttributeTimeKeys{"timestamp", "time", "timeUnixNano"};

// Index of a typed value key ("stringValue", "intValue", "doubleValue", "boolValue", "value"),
// or -1.
[[gnu::always_inline]] inline int typedValueKey(std::string_view key) {
    switch (key.size()) {
    case 11:
        return key == "stringValue" ? 0 : key == "doubleValue" ? 2 : -1;
    case 8:
        return key == "intValue" ? 1 : -1;
    case 9:
        return key == "boolValue" ? 3 : -1;
    case 5:
        return key == "value" ? 4 : -1;
    default:
        return -1;
    }
}

// The number a text of at most 19 decimal digits and nothing else holds, as the value parser
// reads it: converting the exact integer rounds as a decimal conversion of the text does.
std::optional<double> digitsValue(element value) {
    if (value.type() != element_type::STRING) {
        return std::nullopt;
    }
    const std::string_view text = value.get_string().value_unsafe();
    if (text.empty() || text.size() > 19) {
        return std::nullopt;
    }
    std::uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return static_cast<double>(number);
}

std::optional<double> numberOf(element value) {
    if (auto number = digitsValue(value)) {
        return number;
    }
    return parseNumber(value);
}

[[gnu::always_inline]] inline std::optional<double> numberOf(const Found& value) {
    if (!value) {
        return std::nullopt;
    }
    return numberOf(*value);
}

// The members a data point is read from, grouped in the order of the lookups that use them:
// "attributes"; the token type ("type", "token_type"); the seven value keys ("sum" the third);
// the six time keys, the last two of them start times (exporters built on the JavaScript SDK
// write "endTime" and "startTime" as [seconds, nanoseconds]).
constexpr int attributesKey = 0;
constexpr int typeKeys = 1;
constexpr int valueKeys = typeKeys + 2;
constexpr int sumKey = valueKeys + 2;
constexpr int timeKeys = valueKeys + 7;
constexpr int startTimeKeys = timeKeys + 4;
constexpr std::size_t pointKeyCount = timeKeys + 6;
using PointMembers = Members<pointKeyCount>;

[[gnu::always_inline]] inline int pointKey(std::string_view key) {
    switch (key.size()) {
    case 3:
        return key == "sum" ? sumKey : -1;
    case 4:
        return key == "type" ? typeKeys : key == "time" ? timeKeys + 1 : -1;
    case 5:
        return key == "value"   ? valueKeys
               : key == "count" ? valueKeys + 1
               : key == "asInt" ? valueKeys + 4
                                : -1;
    case 7:
        return key == "endTime" ? timeKeys + 3 : -1;
    case 8:
        return key == "asDouble" ? valueKeys + 3 : key == "intValue" ? valueKeys + 5 : -1;
    case 9:
        return key == "timestamp" ? timeKeys : key == "startTime" ? startTimeKeys + 1 : -1;
    case 10:
        return key == "attributes" ? attributesKey : key == "token_type" ? typeKeys + 1 : -1;
    case 11:
        return key == "doubleValue" ? valueKeys + 6 : -1;
    case 12:
        return key == "timeUnixNano" ? timeKeys + 2 : -1;
    case 17:
        return key == "startTimeUnixNano" ? startTimeKeys : -1;
    default:
        return -1;
    }
}

// A histogram's "sum" is the token total; its "count" is only the number of measurements.
std::optional<double> pointValue(const PointMembers& found) {
    if (auto sum = numberOf(unwrapTypedValue(found[sumKey]))) {
        return sum;
    }
    const auto nested = asObject(found[valueKeys]);
    if (nested) {
        if (auto sum = numberOf(unwrapTypedValue(member(*nested, "sum")))) {
            return sum;
        }
    }
    if (auto first = found.firstOf(valueKeys, valueKeys + 7)) {
        if (auto value = numberOf(*first)) {
            return value;
        }
    }
    if (auto unwrapped = numberOf(unwrapTypedValue(found[valueKeys]))) {
        return unwrapped;
    }
    // A value object that names its own kind, such as {"asInt": "7"}.
    if (nested) {
        for (std::string_view key : kValueKeys) {
            if (auto value = member(*nested, key)) {
                return numberOf(unwrapTypedValue(value));
            }
        }
    }
    return std::nullopt;
}

// Everything one walk needs besides the document.
struct Walk {
    std::span<const std::string_view> acceptedNames;
    OTelTokenTotal& total;
    std::string lowered;     // the token type in lower case
    std::string series;      // the series key of the point being read
    std::uint8_t metric = 0; // index of the accepted name the metric being read matched
};

bool containsAny(std::string_view text, std::initializer_list<std::string_view> parts) {
    for (std::string_view part : parts) {
        if (text.find(part) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

enum class TokenKind { input, output, cached, thought, tool, other };

// What the token type names, tested in this order: a type that names input and cache is input.
TokenKind tokenKind(std::string_view type, std::string& lowered) {
    // The types exporters write, which the searches below classify alike.
    if (type == "input") {
        return TokenKind::input;
    }
    if (type == "output") {
        return TokenKind::output;
    }
    if (type == "cache") {
        return TokenKind::cached;
    }
    if (type == "thought") {
        return TokenKind::thought;
    }
    if (type == "tool") {
        return TokenKind::tool;
    }
    lowered.assign(type);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), lowerAscii);
    if (containsAny(lowered, {"input", "prompt"})) {
        return TokenKind::input;
    }
    if (containsAny(lowered, {"output", "completion"})) {
        return TokenKind::output;
    }
    if (containsAny(lowered, {"cache", "cached"})) {
        return TokenKind::cached;
    }
    if (containsAny(lowered, {"thought", "reasoning"})) {
        return TokenKind::thought;
    }
    return containsAny(lowered, {"tool"}) ? TokenKind::tool : TokenKind::other;
}

// Fills the field the token type names; false when the value cannot be written as text.
bool classify(std::string_view type, OTelTokenPoint& point, std::string& lowered) {
    switch (tokenKind(type, lowered)) {
    case TokenKind::input:
        point.field = OTelTokenField::input;
        return true;
    case TokenKind::output:
        point.field = OTelTokenField::output;
        return true;
    case TokenKind::cached:
        point.field = OTelTokenField::cached;
        return true;
    case TokenKind::thought:
        point.textLabel = "Thought";
        break;
    case TokenKind::tool:
        point.textLabel = "Tool";
        break;
    case TokenKind::other:
        point.textLabel = type;
        break;
    }
    point.field = OTelTokenField::text;
    return isCountable(point.value);
}

// Appends a value in a form that tells values of different kinds apart.
void appendValue(std::string& key, element value) {
    if (value.type() == element_type::STRING) {
        key += 's';
        key += value.get_string().value_unsafe();
    } else {
        key += simdjson::minify(value);
    }
}

void writeSeriesKey(std::string& key, std::string_view metricName, element startTime,
                    const OTelAttributes& attributes) {
    key.clear();
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
}

// Reads one data point: its token type and value, classified, added to the total. Points without
// a token type or a finite numeric value add nothing.
void readDataPoint(std::string_view metricName, object obj, const OTelAttributes& inherited,
                   Walk& walk) {
    PointMembers found;
    for (auto field : obj) {
        found.keepFirst(pointKey(field.key), field.value);
    }
    OTelAttributes attributes(&inherited);
    parseOTelAttributes(found[attributesKey], attributes);
    auto type = textForKeys(attributes, kTokenTypeAttributeKeys);
    if (!type) {
        type = textOf(found.firstOf(typeKeys, typeKeys + 2));
    }
    if (!type) {
        return;
    }
    const auto value = pointValue(found);
    if (!value || !std::isfinite(*value)) {
        return;
    }
    OTelTokenPoint point;
    point.value = *value;
    point.metric = walk.metric;
    if (!classify(*type, point, walk.lowered)) {
        return;
    }
    if (auto time = found.firstOf(timeKeys, pointKeyCount)) {
        point.observedAt = parseOTelDate(*time);
    }
    if (!point.observedAt) {
        point.observedAt = dateForKeys(attributes, kAttributeTimeKeys);
    }
    if (auto start = found.firstOf(startTimeKeys, pointKeyCount); start && !start->is_null()) {
        writeSeriesKey(walk.series, metricName, *start, attributes);
        point.series = walk.series;
    }
    walk.total.add(point);
}

// Where the members a metric or a container is read from are found.
struct Holder {
    Found attributes;
    Found dataPoints;
    Members<3> containers; // "sum", "gauge", "histogram"
    bool typed = false;    // has a "type" or "token_type" member
};

Holder holderMembers(object obj) {
    Holder holder;
    for (auto field : obj) {
        const std::string_view key = field.key;
        switch (key.size()) {
        case 3:
            holder.containers.keepFirst(key == "sum" ? 0 : -1, field.value);
            break;
        case 4:
            holder.typed = holder.typed || key == "type";
            break;
        case 5:
            holder.containers.keepFirst(key == "gauge" ? 1 : -1, field.value);
            break;
        case 9:
            holder.containers.keepFirst(key == "histogram" ? 2 : -1, field.value);
            break;
        case 10:
            if (key == "attributes" && !holder.attributes) {
                holder.attributes = field.value;
            } else if (key == "dataPoints" && !holder.dataPoints) {
                holder.dataPoints = field.value;
            } else if (key == "token_type") {
                holder.typed = true;
            }
            break;
        default:
            break;
        }
    }
    return holder;
}

void readDataPoints(std::string_view name, const Found& points, const OTelAttributes& attributes,
                    Walk& walk) {
    const auto list = asArray(points);
    if (!list) {
        return;
    }
    for (element item : *list) {
        if (const auto point = asObject(item)) {
            readDataPoint(name, *point, attributes, walk);
        }
    }
}

// The metric object, each of its containers, and their data points. A metric or a container is
// read as a data point of its own too; without attributes and without a type member it has no
// token type, so the common nested shapes skip that read.
[[gnu::noinline]] void readMetric(std::string_view name, object metric, Walk& walk) {
    const Holder holder = holderMembers(metric);
    OTelAttributes metricAttributes;
    parseOTelAttributes(holder.attributes, metricAttributes);
    if (!metricAttributes.empty() || holder.typed) {
        readDataPoint(name, metric, metricAttributes, walk);
    }
    for (std::size_t i = 0; i < 3; ++i) {
        const auto container = asObject(holder.containers[i]);
        if (!container) {
            continue;
        }
        const Holder inner = holderMembers(*container);
        OTelAttributes attributes(&metricAttributes);
        parseOTelAttributes(inner.attributes, attributes);
        if (!attributes.empty() || inner.typed) {
            readDataPoint(name, *container, attributes, walk);
        }
        readDataPoints(name, inner.dataPoints, attributes, walk);
    }
    readDataPoints(name, holder.dataPoints, metricAttributes, walk);
}

// The name of a metric object: its "name", else its "metricName", else the "name" of its
// "descriptor" object.
std::optional<std::string_view> metricName(object obj) {
    Found name;
    Found descriptor;
    for (auto field : obj) {
        const std::string_view key = field.key;
        if (key.size() == 4 && key == "name") {
            return textOf(field.value);
        }
        if (key.size() == 10) {
            if (key == "metricName" && !name) {
                name = field.value;
            } else if (key == "descriptor" && !descriptor) {
                descriptor = field.value;
            }
        }
    }
    if (name) {
        return textOf(name);
    }
    if (const auto object = asObject(descriptor)) {
        return textOf(member(*object, "name"));
    }
    return std::nullopt;
}

// The index of the accepted name `name` matches, or -1.
int acceptedIndex(std::string_view name, std::span<const std::string_view> acceptedNames) {
    for (std::size_t i = 0; i < acceptedNames.size(); ++i) {
        const std::string_view accepted = acceptedNames[i];
        if (name == accepted || (name.size() > accepted.size() && name.ends_with(accepted) &&
                                 name[name.size() - accepted.size() - 1] == '.')) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void walkObject(object obj, Walk& walk);
void walkChild(element value, Walk& walk);

void walkArray(array list, Walk& walk) {
    for (element item : list) {
        walkChild(item, walk);
    }
}

void walkObject(object obj, Walk& walk) {
    if (auto name = metricName(obj)) {
        if (const int index = acceptedIndex(*name, walk.acceptedNames); index >= 0) {
            walk.metric = static_cast<std::uint8_t>(index);
            readMetric(*name, obj, walk);
            return;
        }
    }
    for (auto field : obj) {
        walkChild(field.value, walk);
    }
}

// Objects and arrays are walked; other values hold no metric.
void walkChild(element value, Walk& walk) {
    switch (value.type()) {
    case element_type::OBJECT:
        walkObject(value.get_object().value_unsafe(), walk);
        break;
    case element_type::ARRAY:
        walkArray(value.get_array().value_unsafe(), walk);
        break;
    default:
        break;
    }
}

} // namespace

bool isCountable(double value) {
    const double rounded = std::round(value);
    // 2^63 is the first value a signed 64-bit integer cannot hold.
    return std::isfinite(rounded) && rounded < 9223372036854775808.0 &&
           rounded >= -9223372036854775808.0;
}

std::optional<std::string> tokenCountText(std::string_view label, double value) {
    if (!isCountable(value)) {
        return std::nullopt;
    }
    return std::string(label) + " " + std::to_string(static_cast<std::int64_t>(std::round(value))) +
           " tokens";
}

std::optional<element> unwrapTypedValue(const std::optional<element>& typed) {
    std::optional<element> value = typed;
    while (value && !value->is_null()) {
        const auto obj = asObject(value);
        if (!obj) {
            return value;
        }
        // The usual {"stringValue": "input"}: one typed member that holds no further object.
        if (obj->size() == 1) {
            const auto only = *obj->begin();
            const auto type = only.value.type();
            if (typedValueKey(only.key) >= 0 && type != element_type::OBJECT &&
                type != element_type::NULL_VALUE) {
                return only.value;
            }
        }
        Members<5> typed; // in the order of typedValueKey
        for (auto field : *obj) {
            typed.keepFirst(typedValueKey(field.key), field.value);
        }
        std::size_t first = 0;
        while (first < 5 && !(typed.has(first) && !typed[first]->is_null())) {
            ++first;
        }
        if (first == 5) {
            return value;
        }
        value = typed[first];
    }
    return std::nullopt;
}

std::optional<Instant> parseOTelDate(element value) {
    if (auto number = digitsValue(value)) {
        return instantFromEpochNumber(*number);
    }
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

void walkMetrics(element value, std::span<const std::string_view> acceptedNames,
                 OTelTokenTotal& total) {
    Walk walk{acceptedNames, total, {}, {}};
    walkChild(value, walk);
}

bool mayNameAcceptedMetric(std::string_view text, std::span<const std::string_view> acceptedNames) {
    for (std::string_view name : acceptedNames) {
        if (text.find(name) != std::string_view::npos) {
            return true;
        }
    }
    // Any escape, "\u002e" or "\/" alike, may spell a name whose bytes do not appear as written.
    return text.find('\\') != std::string_view::npos;
}

} // namespace korvo
