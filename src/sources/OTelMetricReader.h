#pragma once

#include "model/Instant.h"
#include "sources/SanitizedUsageCandidate.h"

#include <functional>
#include <map>
#include <optional>
#include <simdjson.h>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

// Attributes of a metric, a container or a data point: key -> value with typed OpenTelemetry
// values unwrapped. A key that is present with a null value maps to nullopt.
using OTelAttributes = std::map<std::string, std::optional<simdjson::dom::element>, std::less<>>;

// One token-usage data point of an accepted metric.
struct OTelTokenPoint {
    SanitizedUsageCandidate candidate;
    // Identity of the cumulative series the point belongs to (metric name, attribute set and
    // start time); absent when the point carries no start time.
    std::optional<std::string> series;
};

// Unwraps OpenTelemetry typed values such as {"stringValue": "input"} or {"intValue": "812"},
// nested ones included. Null becomes nullopt; an object without a typed key is returned as is.
std::optional<simdjson::dom::element> unwrapTypedValue(std::optional<simdjson::dom::element> value);

// Reads an attribute object ({"type": "input"}) or an OTLP key/value list
// ([{"key": "type", "value": {"stringValue": "input"}}]). Anything else gives an empty map.
OTelAttributes parseAttributes(std::optional<simdjson::dom::element> value);

// The first exact key that holds non-empty text, else the first attribute whose normalized key
// equals a normalized search key (so "Gen_AI.Token.Type" matches "gen_ai.token.type").
std::optional<std::string> textForKeys(const OTelAttributes& attributes,
                                       std::span<const std::string_view> keys);

// Like textForKeys, for dates.
std::optional<Instant> dateForKeys(const OTelAttributes& attributes,
                                   std::span<const std::string_view> keys);

// A date as the value parser reads it, or a [seconds, nanoseconds] pair.
std::optional<Instant> parseOTelDate(simdjson::dom::element value);

// Reads one data point: its token type and value, classified into a candidate labelled with
// `windowLabel`. Points without a token type or a finite numeric value yield nothing.
std::optional<OTelTokenPoint> readDataPoint(std::string_view metricName,
                                            std::string_view windowLabel,
                                            simdjson::dom::object point,
                                            const OTelAttributes& inherited);

// Finds every metric in `value` whose name equals an accepted name or ends with "." followed by
// one, and returns the token points of those metrics in document order. The members of a
// matching metric are not searched for further metrics.
std::vector<OTelTokenPoint> walkMetrics(simdjson::dom::element value,
                                        std::span<const std::string_view> acceptedNames,
                                        std::string_view windowLabel);

} // namespace korvo
