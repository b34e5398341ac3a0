// The status-line hook's input, which Claude Code pipes in on every refresh: the limits it keeps
// must give a bridge file that reads back with the same windows and reset times, and a status
// line is printed whatever came in.

#include "FuzzSupport.h"
#include "model/TimeText.h"
#include "statusline/ClaudeStatusLine.h"

using namespace korvo;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const auto limits = parseStatusLineLimits(test::text(data, size));
    test::expect(!statusLineText(limits).empty(), "a status line is always printed");
    if (!limits) {
        return 0;
    }
    test::expect(limits->fiveHour || limits->sevenDay, "kept limits hold a window");
    for (const auto& window : {limits->fiveHour, limits->sevenDay}) {
        if (window) {
            test::expect(window->usedPercentage >= 0 && window->usedPercentage <= 100,
                         "used percentage within 0...100");
            test::expect(!window->resetsAt || window->resetsAt->time_since_epoch().count() >= 0,
                         "resets after 1970");
        }
    }
    const std::string bridge = encodeBridgeFile(*limits, instantFromUnixSeconds(1'772'356'445));
    const auto reread = parseStatusLineLimits(bridge);
    test::expect(reread.has_value(), "the bridge file reads back");
    test::expect(reread->fiveHour.has_value() == limits->fiveHour.has_value() &&
                     reread->sevenDay.has_value() == limits->sevenDay.has_value(),
                 "the bridge file keeps the windows");
    for (const auto& [before, after] : {std::pair{limits->fiveHour, reread->fiveHour},
                                        std::pair{limits->sevenDay, reread->sevenDay}}) {
        if (before) {
            test::expect(before->resetsAt == after->resetsAt, "the bridge file keeps resets");
        }
    }
    return 0;
}
