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
    : m_id(std::move(id)), m_displayName(std::move(displayName)), m_commands(std::move(commands)),
      m_localPaths(std::move(localPaths)), m_capabilitySummary(std::move(capabilitySummary)),
      m_unavailableSummary(std::move(unavailableSummary)), m_warnings(std::move(warnings)),
      m_searchPaths(std::move(searchPaths)) {}

std::string GenericCliDetectionAdapter::id() const {
    return m_id;
}

std::string GenericCliDetectionAdapter::displayName() const {
    return m_displayName;
}

UsageReading GenericCliDetectionAdapter::read() const {
    return {};
}

AdapterDiagnostic GenericCliDetectionAdapter::inspect() const {
    AdapterDiagnostic d;
    d.id = m_id;
    d.displayName = m_displayName;
    for (const auto& command : m_commands) {
        const auto found = findExecutable(command, m_searchPaths);
        d.cliInstalled = d.cliInstalled || found.has_value();
        d.checkedPaths.push_back(commandCheckLine(command, found));
    }
    for (const auto& path : m_localPaths) {
        const bool found = passes(path);
        d.usageSourceFound = d.usageSourceFound || found;
        d.checkedPaths.push_back((found ? "✓ " : "• ") + path.label +
                                 (found ? ": found" : ": not found"));
    }
    settleDiagnostic(
        d,
        {{d.cliInstalled || d.usageSourceFound, tracking::detectedOnly, m_capabilitySummary,
          "Korvo can detect this CLI, but no safe schema-specific usage parser "
          "exists yet."}},
        m_unavailableSummary);
    d.warnings = m_warnings;
    return d;
}

} // namespace korvo
