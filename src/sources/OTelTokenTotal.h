#pragma once

#include "sources/OTelMetricReader.h"
#include "sources/SanitizedUsageCandidate.h"

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace korvo {

// Sums token points read from telemetry files without counting a cumulative series more than
// once: of the points that share a series, only the newest (by its time, else the one read last)
// is added. Points without a series always add up.
class OTelTokenTotal {
public:
    // Adds one point; points arrive in file order.
    void add(OTelTokenPoint point);

    // The surviving points added up; token types without a field of their own are summed per
    // label and listed in the order first met ("Thought 8 tokens · Tool 4 tokens"). Absent when
    // no point survived.
    std::optional<SanitizedUsageCandidate> total() const;

private:
    std::vector<std::optional<OTelTokenPoint>> m_points;
    std::unordered_map<std::string, std::size_t> m_newestOfSeries;
};

} // namespace korvo
