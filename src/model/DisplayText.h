#pragma once

#include "model/Instant.h"
#include "model/UsageSnapshot.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvo {

// Labels under which people see the enumerations.
// The value when there is one and it is a finite number.
std::optional<double> finiteValue(const std::optional<double>& value);

std::string sourceLabel(SourceType source);
std::string confidenceLabel(Confidence confidence);
std::string buildChannelLabel(KorvoBuildChannel channel);
// The provider row's form ("Ok", "Warning"); the support bundle uses rawValue(status).
std::string providerStatusLabel(ProviderStatus status);
// "Rolling", "Daily", ...
std::string windowKindLabel(UsageWindowKind kind);

// `text` with its first letter in upper case (ASCII).
std::string capitalizedFirstLetter(std::string_view text);

// Texts of one provider row. A non-finite percentage counts as absent.
std::string primaryRemainingText(const ProviderUsage& row);
std::string primaryUsedText(const ProviderUsage& row);
std::string primaryWindowText(const ProviderUsage& row);
std::string resetText(const ProviderUsage& row, Instant now);
// When the window resets, precise enough to plan by (resetPhrase below), or "unknown".
std::string resetText(const ProviderUsage& row, Instant now, std::chrono::seconds utcOffset);
// "Input 120,000 · Output 18,000 · Cached 50,000 · Cost $3.42", then the tool's own token kinds
// of its remaining text ("Thought 90 · Tool 25"); nothing when no part applies. Counts are
// grouped by thousands.
std::optional<std::string> tokenDetailsText(const ProviderUsage& row);
// Value of the row's gauge, 0 to 100: the remaining percentage, else 100 minus the used one;
// nothing when the row has neither.
std::optional<double> limitGaugeValue(const ProviderUsage& row);

// The used percentage of a row: its own, else 100 minus the remaining one; nothing when neither
// is a finite number. Not clamped.
std::optional<double> usedPercentOf(const ProviderUsage& row);

inline constexpr std::string_view limitUnavailableText = "Limit unavailable";

// The second window a row carries (Codex weekly, Claude seven-day). The wire form keeps it in the
// row's remaining text, written by the adapters as
//   <label> <r>% remaining · <u>% used[ · resets <internet date-time>]
// possibly after other parts joined with " · " (a window-reset note). This is the one reader of
// that form; every surface takes the second window from it.
struct SecondWindow {
    std::string label; // as written: "Weekly", "7d"
    double remainingPercent = 0;
    double usedPercent = 0;
    std::optional<Instant> resetAt;

    friend bool operator==(const SecondWindow&, const SecondWindow&) = default;
};
std::optional<SecondWindow> parseSecondWindowText(std::string_view text);
std::optional<SecondWindow> secondWindow(const ProviderUsage& row);
// The label as people read it: "7d" is "7-day"; other labels as written.
std::string secondWindowName(const SecondWindow& window);
// The status a remaining percentage of a window stands for, by the adapters' thresholds:
// at most 0 limited, at most 5 critical, at most 20 warning, else ok.
ProviderStatus statusForRemaining(double remainingPercent);

// The state a row shows: the tool's own, made worse by a second window that is closer to its
// limit (a 5-hour window well within it while the weekly one is nearly used up reads as the
// weekly one). Offline, stale and unknown rows keep their own state.
ProviderStatus rowStatus(const ProviderUsage& row);

// The tool's own token kinds in a remaining text made only of "<Label> <n> tokens" parts joined
// with " · " ("Thought 90 tokens · Tool 25 tokens"); empty for any other text.
std::vector<std::pair<std::string, double>> tokenTextParts(std::string_view text);

// The big figure of a row and the caption under it. With a percentage: the remaining one and
// "remaining". Without one but with token counts: their total ("123,456 tokens", input, output
// and the tool's own kinds; cached input is part of input) and "used this session". Otherwise the
// tool's own text, or "Limit unavailable", with no caption.
struct UsageFigure {
    std::string figure;
    std::string caption;
    bool isRemaining = false;

    friend bool operator==(const UsageFigure&, const UsageFigure&) = default;
};
UsageFigure usageFigure(const ProviderUsage& row);

// The lowest remaining percentage a row shows, over its first and second window, with the name
// of the window it belongs to ("" for the first); nothing without a percentage.
struct LowestRemaining {
    double percent = 0;
    std::string windowName;
};
std::optional<LowestRemaining> lowestRemaining(const ProviderUsage& row);

} // namespace korvo
