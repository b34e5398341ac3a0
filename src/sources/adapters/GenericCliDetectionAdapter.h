#pragma once

#include "sources/UsageAdapter.h"

#include <filesystem>
#include <string>
#include <vector>

namespace korvo {

// What a probed path must be to count as found.
enum class PathKind { file, directory, any };

// A location probed for a detection-only tool, with the form shown in the diagnostic.
struct LocalPath {
    std::filesystem::path url;
    std::string label; // begins with "~/" or "$TMPDIR/"
    PathKind kind = PathKind::any;
};

// A tool that is only detected: its commands are looked up and a few known locations are tested
// for existence and kind. Nothing is ever opened or listed, and no usage row is produced.
class GenericCliDetectionAdapter final : public UsageAdapter {
public:
    GenericCliDetectionAdapter(std::string id, std::string displayName,
                               std::vector<std::string> commands, std::vector<LocalPath> localPaths,
                               std::string capabilitySummary, std::string unavailableSummary,
                               std::vector<std::string> warnings,
                               std::vector<std::filesystem::path> searchPaths);

    std::string id() const override;
    std::string displayName() const override;

private:
    AdapterDiagnostic inspect() const override;
    UsageReading read() const override; // always nothing

    std::string m_id;
    std::string m_displayName;
    std::vector<std::string> m_commands;
    std::vector<LocalPath> m_localPaths;
    std::string m_capabilitySummary;
    std::string m_unavailableSummary;
    std::vector<std::string> m_warnings;
    std::vector<std::filesystem::path> m_searchPaths;
};

} // namespace korvo
