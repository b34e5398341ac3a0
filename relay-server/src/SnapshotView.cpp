#include "SnapshotView.h"

#include "model/DisplayText.h"
#include "model/SnapshotJson.h"
#include "model/TimeText.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace korvo::relayserver {
namespace {

// Appends `"name":value` with a separating comma after the first member.
class ObjectWriter {
public:
    explicit ObjectWriter(std::string& out) : out_(out) { out_ += '{'; }
    void raw(std::string_view name, std::string_view json) {
        out_ += first_ ? "" : ",";
        first_ = false;
        out_ += jsonQuoted(name);
        out_ += ':';
        out_ += json;
    }
    void text(std::string_view name, std::string_view value) { raw(name, jsonQuoted(value)); }
    void close() { out_ += '}'; }

private:
    std::string& out_;
    bool first_ = true;
};

std::string updatedText(Instant updatedAt, Instant now) {
    // A connector whose clock runs ahead would otherwise be shown as updated in the future.
    if (updatedAt > now - std::chrono::seconds(1)) {
        return "Updated just now";
    }
    return "Updated " + relativeTimePhrase(updatedAt, now);
}

using Series = std::map<std::string, std::vector<UsagePoint>>;

// The pace line and the sparkline of a row with readings, as the desktop computes them.
void writePace(ObjectWriter& o, const ProviderUsage& row, const Series& series, Instant now,
               std::chrono::seconds utcOffset) {
    const auto found = series.find(row.id);
    if (found == series.end() || found->second.empty()) {
        return;
    }
    const std::optional<Instant> resetAt = row.window ? row.window->resetAt : std::nullopt;
    const std::vector<UsagePoint> points = currentWindowPoints(found->second, resetAt, now);
    const UsagePace pace = estimateUsagePace(points, resetAt, usageWindowLength(row.window), now);
    o.text("pace",
           usagePaceText(pace, now, [&](Instant at) { return paceClockText(at, now, utcOffset); }));
    std::string line = "[";
    const std::size_t count = std::min(points.size(), kMaxSparklinePoints);
    for (std::size_t i = 0; i < count; ++i) {
        // Evenly spread over the readings, the first and the last included.
        const std::size_t index =
            count == 1 ? points.size() - 1 : i * (points.size() - 1) / (count - 1);
        const UsagePoint& point = points[index];
        line += i == 0 ? "[" : ",[";
        line += std::to_string(unixSecondsTruncated(point.at));
        line += ',';
        line += jsonNumber(std::round(point.usedPercent * 10) / 10);
        line += ']';
    }
    line += ']';
    o.raw("sparkline", line);
}

void writeRow(std::string& out, const ProviderUsage& row, Instant now, const Series& series,
              std::chrono::seconds utcOffset) {
    ObjectWriter o(out);
    o.text("id", row.id);
    o.text("title", row.displayName);
    o.text("subtitle", sourceLabel(row.source) + " · " + confidenceLabel(row.confidence));
    // The row reads as its most urgent window, as on the desktop.
    const ProviderStatus status = rowStatus(row);
    o.text("status", rawValue(status));
    o.text("statusText", providerStatusLabel(status));
    const UsageFigure figure = usageFigure(row);
    o.text("remaining", figure.figure);
    o.text("figureCaption", figure.caption);
    const auto gauge = limitGaugeValue(row);
    if (gauge) {
        o.raw("gauge", jsonNumber(*gauge));
        o.text("used", "Used " + primaryUsedText(row));
    }
    o.text("window", "Window " + primaryWindowText(row));
    // Texts relative to the relay's clock in UTC; the page writes them again from the absolute
    // times on the phone's own clock and time zone.
    if (gauge || (row.window && row.window->resetAt)) {
        o.text("reset", "Reset " + resetText(row, now, std::chrono::seconds(0)));
    }
    if (row.window && row.window->resetAt) {
        o.text("resetAt", formatInternetDateTime(*row.window->resetAt));
    }
    if (const auto second = secondWindow(row)) {
        std::string json;
        ObjectWriter w(json);
        w.text("name", secondWindowName(*second));
        w.text("remaining", wholePercentText(second->remainingPercent));
        w.raw("gauge", jsonNumber(std::clamp(second->remainingPercent, 0.0, 100.0)));
        w.text("status", rawValue(statusForRemaining(second->remainingPercent)));
        if (second->resetAt) {
            w.text("resetAt", formatInternetDateTime(*second->resetAt));
            w.text("reset",
                   "Resets " + resetPhrase(*second->resetAt, now, std::chrono::seconds(0)));
        } else {
            w.text("reset", "Reset unknown");
        }
        w.close();
        o.raw("second", json);
    }
    // The lowest remaining share over both windows orders the page, most urgent first.
    if (const auto lowest = lowestRemaining(row)) {
        o.raw("lowest", jsonNumber(lowest->percent));
        o.text("lowestWindow", lowest->windowName);
    }
    if (const auto details = tokenDetailsText(row)) {
        o.text("details", *details);
    }
    writePace(o, row, series, now, utcOffset);
    o.close();
}

} // namespace

std::optional<std::string> snapshotViewJson(const std::optional<std::string>& snapshot,
                                            std::string_view pairedName, Instant now,
                                            bool connectorLinked, const Series& series,
                                            std::chrono::seconds utcOffset) {
    std::string out;
    ObjectWriter o(out);
    if (!connectorLinked) {
        o.raw("connectorRevoked", "true");
    }
    if (!snapshot) {
        o.text("machine", pairedName);
        o.text("updatedText", "No upload yet");
        o.raw("providers", "[]");
        o.close();
        return out;
    }
    auto decoded = decodeSnapshot(*snapshot);
    if (!decoded.ok()) {
        return std::nullopt;
    }
    const UsageSnapshot& s = decoded.value();
    o.text("machine", s.device.name.empty() ? pairedName : std::string_view(s.device.name));
    o.text("updatedText", updatedText(s.updatedAt, now));
    o.text("updatedAt", formatInternetDateTime(s.updatedAt));
    o.text("snapshotId", s.snapshotId);
    std::string rows = "[";
    for (const ProviderUsage& row : s.providers) {
        rows += rows.size() > 1 ? "," : "";
        writeRow(rows, row, now, series, utcOffset);
    }
    rows += ']';
    o.raw("providers", rows);
    o.close();
    return out;
}

} // namespace korvo::relayserver
