#pragma once

#include "RelayStorage.h"
#include "model/UsagePace.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace korvo::relayserver {

// The relay's short memory of a connector's figures, for the web view's sparklines and pace:
// per connector device one point per five minutes (the first upload in it) for 48 hours, each
// point the used percentages and reset times of the snapshot's rows. The times are the relay's
// own, never the uploader's. A device keeps at most kUsageSeriesPoints points of at most
// kMaxUsageReadingsBytes each: under a megabyte even for a hostile connector.
constexpr UnixTime kUsageSeriesStep = 300;
constexpr std::size_t kUsageSeriesPoints = 48 * 3600 / kUsageSeriesStep;
// Rows recorded per point (the first ones with a used figure) and the longest row id kept.
constexpr std::size_t kMaxUsageSeriesRows = 12;
constexpr std::size_t kMaxUsageSeriesIdBytes = 64;
constexpr std::size_t kMaxUsageReadingsBytes = kMaxUsageSeriesRows * (kMaxUsageSeriesIdBytes + 32);

// The five-minute step an upload at `now` falls in.
constexpr UnixTime usageSeriesBucket(UnixTime now) {
    return (now >= 0 ? now : now - (kUsageSeriesStep - 1)) / kUsageSeriesStep;
}
// The oldest step kept at `now`; steps before it, and steps after now's (left by a clock that
// went back), are dropped with each new point.
constexpr UnixTime oldestUsageSeriesBucket(UnixTime now) {
    return usageSeriesBucket(now) - static_cast<UnixTime>(kUsageSeriesPoints) + 1;
}

// The readings of an uploaded snapshot's rows (a body that passed validation) as one point is
// stored: one line per row with a used (or remaining) percentage, "ID\tUSED\tRESET\n" (USED to
// a tenth, RESET Unix seconds or empty), at most kMaxUsageSeriesRows of them; "" when there
// are none or the body does not parse.
std::string encodeUsageReadings(const std::string& body);

using UsageSeriesByRow = std::map<std::string, std::vector<UsagePoint>>;

// The stored points as one series per row id, oldest first. Malformed lines are skipped.
UsageSeriesByRow decodeUsageSeries(const std::vector<UsageSeriesPoint>& points);

} // namespace korvo::relayserver
