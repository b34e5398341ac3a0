#pragma once

#include "model/Clock.h"
#include "model/UsageSnapshot.h"

#include <QString>
#include <map>
#include <string>
#include <vector>

namespace korvo {

// One alert about a provider's quota: it fell below 20 % or 5 % remaining, it is limited,
// a limited window has reset, or at its pace the limit comes soon.
struct QuotaAlert {
    enum class Kind { below20, below5, limited, reset, pace };
    Kind kind;
    std::string providerId;
    QString summary; // "Codex CLI: 18% remaining"
    QString body;    // "Below 20% of the weekly window. Resets in 2 hours."

    // The alert as one line of a log: "Quota alert: Codex CLI: 18% remaining. Below 20% ...".
    QString logLine() const;
    bool operator==(const QuotaAlert&) const = default;
};

// Decides which quota alerts a new snapshot calls for. Each provider's window alerts at most
// once per threshold; the thresholds count again once the window resets: its reset time has
// passed or changed, or, when no reset time is known, the quota is back above 20 %. Nothing
// here shows anything; the caller notifies or logs.
class QuotaAlerts {
public:
    explicit QuotaAlerts(Clock clock);

    std::vector<QuotaAlert> review(const UsageSnapshot& snapshot);

private:
    enum class Level { none, below20, below5, limited };
    struct WindowState {
        Level alerted = Level::none;
        std::optional<Instant> resetAt;
    };

    Clock clock_;
    std::map<std::string, WindowState> windows_;
};

} // namespace korvo
