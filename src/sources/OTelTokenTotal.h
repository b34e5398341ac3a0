#pragma once

#include "sources/OTelMetricReader.h"
#include "sources/SanitizedUsageCandidate.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace korvo {

// Sums token points read from telemetry files without counting a cumulative series more than
// once: of the points that share a series, only the newest (by its time, else the one read last)
// is added. Points without a series always add up. The surviving points are added in the order
// they arrived, so the sums do not depend on how the points were gathered.
class OTelTokenTotal {
public:
    explicit OTelTokenTotal(std::string windowLabel) : m_windowLabel(std::move(windowLabel)) {}

    // Adds one point; points arrive in file order. The point's views are copied as needed.
    void add(const OTelTokenPoint& point);

    // Whether a point with a token count (input, output or cached) was added, replaced or not.
    bool hasTokenCount() const { return m_tokenCountAdded; }

    // The surviving points added up, labelled with the window label; token types without a field
    // of their own are summed per label and listed in the order first met ("Thought 8 tokens ·
    // Tool 4 tokens"). Absent when no point survived.
    std::optional<SanitizedUsageCandidate> total() const;

private:
    // A point as kept: its text label as an index into m_labels.
    struct Kept {
        double value = 0;
        std::optional<Instant> observedAt;
        OTelTokenField field = OTelTokenField::input;
        bool replaced = false;
        std::uint32_t label = 0;
    };
    // Running sums over points in arrival order.
    struct Sums {
        std::optional<double> input;
        std::optional<double> output;
        std::optional<double> cached;
        std::optional<Instant> observedAt;
        std::vector<std::pair<std::uint32_t, double>> texts; // label, sum; in the order first met
        bool any = false;

        void add(const Kept& point);
    };

    std::uint32_t labelIndex(std::string_view label);

    std::string m_windowLabel;
    // Every point in arrival order, replaced ones marked.
    std::vector<Kept> m_points;
    std::vector<std::string> m_labels;
    std::unordered_map<std::string, std::size_t> m_newestOfSeries; // series -> m_points index
    bool m_tokenCountAdded = false;
};

} // namespace korvo
