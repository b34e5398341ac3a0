#pragma once

#include "sources/fields/SanitizedUsageCandidate.h"
#include "sources/otel/OTelMetricReader.h"

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
    // Which metrics count when points of several accepted metrics arrive.
    enum class Metrics : std::uint8_t {
        all,
        // Points of the first accepted name only, when there are any: a tool that records the
        // same tokens under its own metric and a generic one is counted once.
        firstWhenPresent,
    };

    explicit OTelTokenTotal(std::string windowLabel, Metrics metrics = Metrics::all)
        : m_windowLabel(std::move(windowLabel)), m_metrics(metrics) {}

    // Adds one point; points arrive in file order. The point's views are copied as needed.
    void add(const OTelTokenPoint& point);

    // Whether a point with a token count (input, output or cached) was added, replaced or not,
    // among the points that count.
    bool hasTokenCount() const;

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
        bool firstMetric = false;
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

    bool countsOnlyFirstMetric() const {
        return m_metrics == Metrics::firstWhenPresent && m_firstMetricSeen;
    }

    std::string m_windowLabel;
    Metrics m_metrics = Metrics::all;
    bool m_firstMetricSeen = false;
    // Every point in arrival order, replaced ones marked.
    std::vector<Kept> m_points;
    std::vector<std::string> m_labels;
    std::unordered_map<std::string, std::size_t> m_newestOfSeries; // series -> m_points index
    bool m_tokenCountAdded = false;                                // by a point of any metric
    bool m_firstMetricTokenCount = false; // by a point of the first accepted name
};

} // namespace korvo
