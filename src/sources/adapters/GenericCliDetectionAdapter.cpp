#include "sources/adapters/GenericCliDetectionAdapter.h"

#include "sources/adapters/DiagnosticLines.h"
#include "sources/io/FileReaders.h"

#include <system_error>

namespace korvo {
namespace {

bool passes(const LocalPath& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path.url, error);
    if (error || !std::filesystem::exists(status)) {
        return false;
    }
    switch (path.kind) {
    case PathKind::file:
        return !std::filesystem::is_directory(status);
    case PathKind::directory:
        return std::filesystem::is_directory(status);
    case PathKind::any:
        return true;
    }
    return false;
}

} // namespace

GenericCliDetectionAdapter::GenericCliDetectionAdapter(
    std::string id, std::string displayName, std::vector<std::string> commands,
    std::vector<LocalPath> localPaths, std::string capabilitySummary,
    std::string unavailableSummary, std::vector<std::string> warnings,
    std::vector<std::filesystem::path> searchPaths)
    : id_(std::move(id)), displayName_(std::move(displayName)), commands_(std::move(commands)),
      localPaths_(std::move(localPaths)), capabilitySummary_(std::move(capabilitySummary)),
      unavailableSummary_(std::move(unavailableSummary)), warnings_(std::move(warnings)),
      searchPaths_(std::move(searchPaths)) {}

std::string GenericCliDetectionAdapter::id() const {
    return id_;
}

std::string GenericCliDetectionAdapter::displayName() const {
    return displayName_;
}

UsageReading GenericCliDetectionAdapter::read() const {
    return {};
}

AdapterDiagnostic GenericCliDetectionAdapter::inspect() const {
    AdapterDiagnostic d;
    d.id = id_;
    d.displayName = displayName_;
    for (const auto& command : commands_) {
        const auto found = findExecutable(command, searchPaths_);
        d.cliInstalled = d.cliInstalled || found.has_value();
        d.checkedPaths.push_back(commandCheckLine(command, found));
    }
    for (const auto& path : localPaths_) {
        const bool found = passes(path);
        d.usageSourceFound = d.usageSourceFound || found;
        d.checkedPaths.push_back((found ? "✓ " : "• ") + path.label +
                                 (found ? ": found" : ": not found"));
    }
    settleDiagnostic(
        d,
        {{d.cliInstalled || d.usageSourceFound, tracking::detectedOnly, capabilitySummary_,
          "Korvo can detect this CLI, but no safe schema-specific usage parser "
          "exists yet."}},
        unavailableSummary_);
    d.warnings = warnings_;
    return d;
}

} // namespace korvo
