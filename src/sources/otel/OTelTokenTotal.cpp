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
    const auto found = std::find(labels_.begin(), labels_.end(), label);
    if (found != labels_.end()) {
        return static_cast<std::uint32_t>(found - labels_.begin());
    }
    labels_.emplace_back(label);
    return static_cast<std::uint32_t>(labels_.size() - 1);
}

bool OTelTokenTotal::hasTokenCount() const {
    return countsOnlyFirstMetric() ? firstMetricTokenCount_ : tokenCountAdded_;
}

void OTelTokenTotal::add(const OTelTokenPoint& point) {
    Kept kept;
    kept.value = point.value;
    kept.observedAt = point.observedAt;
    kept.field = point.field;
    kept.firstMetric = point.metric == 0;
    firstMetricSeen_ = firstMetricSeen_ || kept.firstMetric;
    if (point.field == OTelTokenField::text) {
        kept.label = labelIndex(point.textLabel);
    } else {
        tokenCountAdded_ = true;
        firstMetricTokenCount_ = firstMetricTokenCount_ || kept.firstMetric;
    }
    if (!point.series.empty()) {
        const auto found = newestOfSeries_.find(std::string(point.series));
        if (found == newestOfSeries_.end()) {
            newestOfSeries_.emplace(point.series, points_.size());
        } else {
            Kept& newest = points_[found->second];
            if (newest.observedAt && point.observedAt && *point.observedAt < *newest.observedAt) {
                return;
            }
            newest.replaced = true;
            found->second = points_.size();
        }
    }
    points_.push_back(kept);
}

std::optional<SanitizedUsageCandidate> OTelTokenTotal::total() const {
    Sums sums;
    const bool onlyFirst = countsOnlyFirstMetric();
    for (const Kept& point : points_) {
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
    total.windowLabel = windowLabel_;
    total.observedAt = sums.observedAt;
    std::string joined;
    for (const auto& [label, value] : sums.texts) {
        if (auto text = tokenCountText(labels_[label], value)) {
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
