#include "sources/AdapterDiagnostic.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

TEST(AdapterDiagnostic, DetailLines) {
    AdapterDiagnostic tokens;
    tokens.cliInstalled = tokens.tokenDataFound = tokens.canUploadProvider = true;
    tokens.trackingStatus = "Tracked without quota";
    AdapterDiagnostic limits;
    limits.usageSourceFound = limits.limitDataFound = true;
    limits.trackingStatus = "Not found";
    limits.whyNoQuota = ""; // present though empty: still a line
    EXPECT_EQ(
        tokens.detailLines(),
        (std::vector<std::string>{"CLI installed: yes", "Usage source: not found",
                                  "Token data: found", "Limit data: not found",
                                  "Uploads provider: yes", "Tracking: Tracked without quota"}));
    EXPECT_EQ(limits.detailLines(),
              (std::vector<std::string>{"CLI installed: no", "Usage source: found",
                                        "Token data: not found", "Limit data: found",
                                        "Uploads provider: no", "Tracking: Not found",
                                        "Why no quota: "}));
}

} // namespace
} // namespace korvo
