#pragma once

#include "model/Instant.h"
#include "sources/SanitizedUsageCandidate.h"

#include <functional>
#include <optional>
#include <simdjson.h>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

// Attributes of a metric, a container or a data point: key -> value with typed OpenTelemetry
// values unwrapped (a null value is nullopt). A later entry replaces an earlier one with the same
// key. Keys and values point into the parsed document and live as long as it does.
class OTelAttributes {
public:
    using Value = std::optional<simdjson::dom::element>;
    using Entry = std::pair<std::string_view, Value>;

    // Empty attributes on top of `inherited`, which must outlive them: their own entries win.
    static OTelAttributes over(const OTelAttributes& inherited) {
        OTelAttributes attributes;
        attributes.m_inherited = &inherited;
        return attributes;
    }

    void set(std::string_view key, Value value) { m_entries.emplace_back(key, value); }
    bool empty() const { return m_entries.empty() && (!m_inherited || m_inherited->empty()); }
    // The value under `key`, or nullptr when the key is not present.
    const Value* find(std::string_view key) const;
    // One entry per key, the one that wins, sorted by key.
    std::vector<Entry> effective() const;

private:
    std::vector<Entry> m_entries;
    const OTelAttributes* m_inherited = nullptr;
};

// One token-usage data point of an accepted metric.
struct OTelTokenPoint {
    // The token count in its field, the window label and the time.
    SanitizedUsageCandidate candidate;
    // For a token type without a field of its own ("Thought", "Tool", or the type as written):
    // its label and value, written as a remaining text once the points are added up.
    std::string textLabel;
    double value = 0;
    // Identity of the cumulative series the point belongs to (metric name, attribute set and
    // start time); absent when the point carries no start time.
    std::optional<std::string> series;
};

// "<label> <value rounded half away from zero> tokens"; nothing when the rounded value does not
// fit a signed 64-bit integer.
std::optional<std::string> tokenCountText(std::string_view label, double value);

// Unwraps OpenTelemetry typed values such as {"stringValue": "input"} or {"intValue": "812"},
// nested ones included. Null becomes nullopt; an object without a typed key is returned as is.
std::optional<simdjson::dom::element> unwrapTypedValue(std::optional<simdjson::dom::element> value);

// Reads an attribute object ({"type": "input"}) or an OTLP key/value list
// ([{"key": "type", "value": {"stringValue": "input"}}]) on top of `inherited`. Anything else
// adds nothing.
OTelAttributes parseAttributes(std::optional<simdjson::dom::element> value);
OTelAttributes parseAttributes(std::optional<simdjson::dom::element> value,
                               const OTelAttributes& inherited);

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
// one, and appends the token points of those metrics to `points` in document order. The members
// of a matching metric are not searched for further metrics.
void walkMetrics(simdjson::dom::element value, std::span<const std::string_view> acceptedNames,
                 std::string_view windowLabel, std::vector<OTelTokenPoint>& points);

} // namespace korvo
