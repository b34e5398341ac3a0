#include "sources/AdapterDiagnostic.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

TEST(AdapterDiagnostic, DetailLinesWithoutWhyNoQuota) {
    AdapterDiagnostic d;
    d.cliInstalled = true;
    d.usageSourceFound = false;
    d.tokenDataFound = true;
    d.limitDataFound = false;
    d.canUploadProvider = true;
    d.trackingStatus = "Tracked without quota";
    EXPECT_EQ(d.detailLines(), (std::vector<std::string>{
                                   "CLI installed: yes", "Usage source: not found",
                                   "Token data: found", "Limit data: not found",
                                   "Uploads provider: yes", "Tracking: Tracked without quota"}));
}

TEST(AdapterDiagnostic, DetailLinesWithWhyNoQuota) {
    AdapterDiagnostic d;
    d.usageSourceFound = true;
    d.limitDataFound = true;
    d.trackingStatus = "Not found";
    d.whyNoQuota = ""; // present though empty: still a line
    const auto lines = d.detailLines();
    EXPECT_EQ(lines, (std::vector<std::string>{"CLI installed: no", "Usage source: found",
                                               "Token data: not found", "Limit data: found",
                                               "Uploads provider: no", "Tracking: Not found",
                                               "Why no quota: "}));
}

} // namespace
} // namespace korvo
