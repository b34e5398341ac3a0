#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
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

/// The tracking statuses an adapter can report.
namespace tracking {
inline constexpr std::string_view withQuota = "Tracked with quota";
inline constexpr std::string_view withoutQuota = "Tracked without quota";
inline constexpr std::string_view needsSettingsChange = "Needs settings change";
inline constexpr std::string_view parserNeedsSample = "Source found, parser needs sample";
inline constexpr std::string_view noUsageData = "Source found, no usage data";
inline constexpr std::string_view cliOnly = "CLI detected, no local data";
inline constexpr std::string_view detectedOnly = "Detected only";
inline constexpr std::string_view notFound = "Not found";
} // namespace tracking

/// One rung of the ladder every adapter climbs to say what it found, best finding first.
struct DiagnosticRung {
    bool applies;
    std::string_view trackingStatus;
    std::string summary;
    std::optional<std::string> whyNoQuota = std::nullopt;
};

/// Settles a diagnostic whose found flags are set: the rules every adapter shares (it uploads a
/// row when it found limit or token data; the tool is available when its command or a usage
/// source exists), then the first rung that applies, or "Not found" with `notFoundSummary`.
void settleDiagnostic(AdapterDiagnostic& diagnostic, std::initializer_list<DiagnosticRung> rungs,
                      std::string notFoundSummary);

} // namespace korvo
