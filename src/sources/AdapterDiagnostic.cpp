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

void settleDiagnostic(AdapterDiagnostic& diagnostic, std::initializer_list<DiagnosticRung> rungs,
                      std::string notFoundSummary) {
    diagnostic.canUploadProvider = diagnostic.limitDataFound || diagnostic.tokenDataFound;
    diagnostic.isAvailable = diagnostic.cliInstalled || diagnostic.usageSourceFound;
    for (const DiagnosticRung& rung : rungs) {
        if (rung.applies) {
            diagnostic.trackingStatus = std::string(rung.trackingStatus);
            diagnostic.summary = rung.summary;
            diagnostic.whyNoQuota = rung.whyNoQuota;
            return;
        }
    }
    diagnostic.trackingStatus = std::string(tracking::notFound);
    diagnostic.summary = std::move(notFoundSummary);
    diagnostic.whyNoQuota.reset();
}

} // namespace korvo
