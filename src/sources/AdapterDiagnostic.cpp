#include "sources/AdapterDiagnostic.h"

namespace korvo {
namespace {

std::string yesNo(bool value) {
    return value ? "yes" : "no";
}

std::string foundNotFound(bool value) {
    return value ? "found" : "not found";
}

} // namespace

std::vector<std::string> AdapterDiagnostic::detailLines() const {
    std::vector<std::string> lines{
        "CLI installed: " + yesNo(cliInstalled),
        "Usage source: " + foundNotFound(usageSourceFound),
        "Token data: " + foundNotFound(tokenDataFound),
        "Limit data: " + foundNotFound(limitDataFound),
        "Uploads provider: " + yesNo(canUploadProvider),
        "Tracking: " + trackingStatus,
    };
    if (whyNoQuota) {
        lines.push_back("Why no quota: " + *whyNoQuota);
    }
    return lines;
}

} // namespace korvo
