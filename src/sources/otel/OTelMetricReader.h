#pragma once

#include "model/Instant.h"

#include <cstdint>
#include <optional>
#include <simdjson.h>
#include <span>
#include <string>
#include <string_view>

namespace korvo {

class OTelTokenTotal;

// The field a token point fills: a token count, or a text for token types without a field of
// their own ("Thought", "Tool", or the type as written).
enum class OTelTokenField : std::uint8_t { input, output, cached, text };

// One token-usage data point of an accepted metric, as handed to a total. The views point into
// the parsed document or the reader's scratch memory: they are valid only while it is handed on.
struct OTelTokenPoint {
    OTelTokenField field = OTelTokenField::input;
    double value = 0;
    std::optional<Instant> observedAt;
    // The label of a text point.
    std::string_view textLabel;
    // Identity of the cumulative series the point belongs to (metric name, attribute set and
    // start time); empty when the point carries no start time.
    std::string_view series;
    // Index, in the accepted names handed to walkMetrics, of the name the point's metric matched.
    std::uint8_t metric = 0;
};

// "<label> <value rounded half away from zero> tokens"; nothing when the rounded value does not
// fit a signed 64-bit integer.
std::optional<std::string> tokenCountText(std::string_view label, double value);
// Whether tokenCountText gives a text for `value`.
bool isCountable(double value);

// Unwraps OpenTelemetry typed values such as {"stringValue": "input"} or {"intValue": "812"},
// nested ones included. Null becomes nullopt; an object without a typed key is returned as is.
std::optional<simdjson::dom::element>
unwrapTypedValue(const std::optional<simdjson::dom::element>& value);

// A date as the value parser reads it, or a [seconds, nanoseconds] pair.
std::optional<Instant> parseOTelDate(simdjson::dom::element value);

// Finds every metric in `value` whose name equals an accepted name or ends with "." followed by
// one, and adds the token points of those metrics to `total` in document order. The members of a
// matching metric are not searched for further metrics. Attributes come from the metric, its
// "sum", "gauge" or "histogram" container and the point, the nearer one winning; the token type
// is read from the attributes (exact keys first, then keys compared in normalized form), else
// from the point's own "type" or "token_type".
void walkMetrics(simdjson::dom::element value, std::span<const std::string_view> acceptedNames,
                 OTelTokenTotal& total);

// False only when `text`, a JSON document as written, cannot hold a metric named after one of
// `acceptedNames`: it holds none of them and no escape that could spell one.
bool mayNameAcceptedMetric(std::string_view text, std::span<const std::string_view> acceptedNames);

} // namespace korvo
