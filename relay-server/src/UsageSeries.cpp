#include "UsageSeries.h"

#include "model/TimeText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <simdjson.h>
#include <string_view>

namespace korvo::relayserver {
namespace {

bool plainId(std::string_view id) {
    if (id.empty() || id.size() > kMaxUsageSeriesIdBytes) {
        return false;
    }
    for (const char c : id) {
        if (static_cast<unsigned char>(c) < 0x20) {
            return false;
        }
    }
    return true;
}

template <typename Number> std::optional<Number> parsed(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::string encodeUsageReadings(const std::string& body) {
    // A light pass over the members a reading needs, not a second full decoding: this runs on
    // every upload, after validation has checked the whole document.
    simdjson::dom::parser parser;
    simdjson::dom::array providers;
    if (parser.parse(body)["providers"].get(providers) != simdjson::SUCCESS) {
        return {};
    }
    std::string out;
    std::size_t rows = 0;
    for (simdjson::dom::element row : providers) {
        if (rows == kMaxUsageSeriesRows) {
            break;
        }
        std::string_view id;
        if (row["id"].get(id) != simdjson::SUCCESS || !plainId(id)) {
            continue;
        }
        // The used share, or else what the remaining share leaves, as the desktop reads a row.
        double used = 0;
        double remaining = 0;
        if (row["usage"]["usedPercent"].get(used) != simdjson::SUCCESS) {
            if (row["usage"]["remainingPercent"].get(remaining) != simdjson::SUCCESS) {
                continue;
            }
            used = 100.0 - remaining;
        }
        if (!std::isfinite(used)) {
            continue;
        }
        std::optional<Instant> resetAt;
        std::string_view resetText;
        if (row["window"]["resetAt"].get(resetText) == simdjson::SUCCESS) {
            resetAt = parseInternetDateTimeWholeSeconds(resetText);
        }
        ++rows;
        // Tenths of a percent, as an integer: exact, short and locale-free.
        const long tenths = std::lround(std::clamp(used, 0.0, 100.0) * 10);
        out += id;
        out += '\t';
        out += std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
        out += '\t';
        if (resetAt) {
            out += std::to_string(unixSecondsTruncated(*resetAt));
        }
        out += '\n';
    }
    return out;
}

UsageSeriesByRow decodeUsageSeries(const std::vector<UsageSeriesPoint>& points) {
    UsageSeriesByRow series;
    for (const UsageSeriesPoint& point : points) {
        std::string_view rest = point.readings;
        while (!rest.empty()) {
            const auto end = rest.find('\n');
            const std::string_view line = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            const auto tab = line.find('\t');
            const auto tab2 = tab == std::string_view::npos ? tab : line.find('\t', tab + 1);
            if (tab2 == std::string_view::npos) {
                continue;
            }
            const std::string_view id = line.substr(0, tab);
            const auto used = parsed<double>(line.substr(tab + 1, tab2 - tab - 1));
            const std::string_view resetText = line.substr(tab2 + 1);
            // Times beyond 280 years either side of 1970 do not fit an Instant.
            constexpr std::int64_t kFarthest = 9'000'000'000;
            std::int64_t reset = 0;
            if (!resetText.empty()) {
                const auto parsedReset = parsed<std::int64_t>(resetText);
                if (!parsedReset || std::abs(*parsedReset) > kFarthest) {
                    continue;
                }
                reset = *parsedReset;
            }
            if (!plainId(id) || !used || !std::isfinite(*used) || std::abs(point.at) > kFarthest) {
                continue;
            }
            UsagePoint value;
            value.at = instantFromUnixSeconds(point.at);
            value.usedPercent = *used;
            if (!resetText.empty()) {
                value.resetAt = instantFromUnixSeconds(reset);
            }
            series[std::string(id)].push_back(value);
        }
    }
    return series;
}

} // namespace korvo::relayserver
