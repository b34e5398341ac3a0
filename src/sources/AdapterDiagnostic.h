#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvo {

// What one source adapter found on this machine. Compared field by field.
struct AdapterDiagnostic {
    std::string id;
    std::string displayName;
    bool isAvailable = false;       // command found or a local data source exists
    bool cliInstalled = false;      // command found in the executable search paths
    bool usageSourceFound = false;  // a file or directory that could carry usage exists
    bool tokenDataFound = false;    // a token count or cost was extracted
    bool limitDataFound = false;    // quota data was extracted
    bool canUploadProvider = false; // readUsage() would return a row
    std::string trackingStatus;
    std::optional<std::string> whyNoQuota;
    std::string summary;
    std::vector<std::string> checkedPaths;
    std::vector<std::string> warnings;

    // The lines shown under the source in the diagnostics and the support bundle: six fixed
    // lines, plus "Why no quota: ..." when whyNoQuota is present.
    std::vector<std::string> detailLines() const;

    friend bool operator==(const AdapterDiagnostic&, const AdapterDiagnostic&) = default;
};

} // namespace korvo
