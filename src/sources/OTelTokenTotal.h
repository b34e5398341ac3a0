#pragma once

#include "sources/OTelMetricReader.h"
#include "sources/SanitizedUsageCandidate.h"

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace korvo {

// Sums the token points of several telemetry documents without counting a cumulative series
// more than once: of the points that share a series, only the newest (by its time, else the
// one read last) is added. Points without a series always add up.
class OTelTokenTotal {
public:
    // Adds the points of one document, in document order; documents arrive in file order.
    void addDocument(std::vector<OTelTokenPoint> points);

    // The surviving points added up; token types without a field of their own are summed per
    // label and listed in the order first met ("Thought 8 tokens · Tool 4 tokens"). Absent when
    // no point survived.
    std::optional<SanitizedUsageCandidate> total() const;

private:
    struct Slot {
        std::size_t document;
        std::size_t index;
    };

    std::vector<std::vector<std::optional<OTelTokenPoint>>> documents_;
    std::unordered_map<std::string, Slot> newestOfSeries_;
};

} // namespace korvo
