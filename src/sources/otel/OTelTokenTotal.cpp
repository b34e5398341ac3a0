#include "sources/otel/OTelTokenTotal.h"

#include <algorithm>

namespace korvo {
namespace {

void addTo(std::optional<double>& sum, double value) {
    if (sum) {
        *sum += value;
    } else {
        sum = value;
    }
}

} // namespace

void OTelTokenTotal::Sums::add(const Kept& point) {
    any = true;
    switch (point.field) {
    case OTelTokenField::input:
        addTo(input, point.value);
        break;
    case OTelTokenField::output:
        addTo(output, point.value);
        break;
    case OTelTokenField::cached:
        addTo(cached, point.value);
        break;
    case OTelTokenField::text: {
        const auto same = std::find_if(texts.begin(), texts.end(),
                                       [&](const auto& text) { return text.first == point.label; });
        if (same != texts.end()) {
            same->second += point.value;
        } else {
            texts.emplace_back(point.label, point.value);
        }
        break;
    }
    }
    if (point.observedAt && (!observedAt || *point.observedAt > *observedAt)) {
        observedAt = point.observedAt;
    }
}

std::uint32_t OTelTokenTotal::labelIndex(std::string_view label) {
    const auto found = std::find(m_labels.begin(), m_labels.end(), label);
    if (found != m_labels.end()) {
        return static_cast<std::uint32_t>(found - m_labels.begin());
    }
    m_labels.emplace_back(label);
    return static_cast<std::uint32_t>(m_labels.size() - 1);
}

bool OTelTokenTotal::hasTokenCount() const {
    return countsOnlyFirstMetric() ? m_firstMetricTokenCount : m_tokenCountAdded;
}

void OTelTokenTotal::add(const OTelTokenPoint& point) {
    Kept kept;
    kept.value = point.value;
    kept.observedAt = point.observedAt;
    kept.field = point.field;
    kept.firstMetric = point.metric == 0;
    m_firstMetricSeen = m_firstMetricSeen || kept.firstMetric;
    if (point.field == OTelTokenField::text) {
        kept.label = labelIndex(point.textLabel);
    } else {
        m_tokenCountAdded = true;
        m_firstMetricTokenCount = m_firstMetricTokenCount || kept.firstMetric;
    }
    if (!point.series.empty()) {
        const auto found = m_newestOfSeries.find(std::string(point.series));
        if (found == m_newestOfSeries.end()) {
            m_newestOfSeries.emplace(point.series, m_points.size());
        } else {
            Kept& newest = m_points[found->second];
            if (newest.observedAt && point.observedAt && *point.observedAt < *newest.observedAt) {
                return;
            }
            newest.replaced = true;
            found->second = m_points.size();
        }
    }
    m_points.push_back(kept);
}

std::optional<SanitizedUsageCandidate> OTelTokenTotal::total() const {
    Sums sums;
    const bool onlyFirst = countsOnlyFirstMetric();
    for (const Kept& point : m_points) {
        if (!point.replaced && (point.firstMetric || !onlyFirst)) {
            sums.add(point);
        }
    }
    if (!sums.any) {
        return std::nullopt;
    }
    SanitizedUsageCandidate total;
    total.inputTokens = sums.input;
    total.outputTokens = sums.output;
    total.cachedInputTokens = sums.cached;
    total.windowLabel = m_windowLabel;
    total.observedAt = sums.observedAt;
    std::string joined;
    for (const auto& [label, value] : sums.texts) {
        if (auto text = tokenCountText(m_labels[label], value)) {
            joined += joined.empty() ? *text : " · " + *text;
        }
    }
    if (!joined.empty()) {
        total.remainingText = std::move(joined);
    }
    if (!total.hasUsefulData()) {
        return std::nullopt;
    }
    return total;
}

} // namespace korvo
