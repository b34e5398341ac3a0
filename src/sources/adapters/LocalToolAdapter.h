#pragma once

#include "model/Clock.h"
#include "sources/UsageAdapter.h"
#include "sources/fields/SanitizedUsageCandidate.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

// What the adapters of one tool with files in the home directory share: the fixed id and name,
// the home directory, where its command is looked up, and the clock readings are dated by.
class LocalToolAdapter : public UsageAdapter {
public:
    std::string id() const final { return std::string(m_id); }
    std::string displayName() const final { return std::string(m_displayName); }

protected:
    LocalToolAdapter(std::string_view id, std::string_view displayName, std::filesystem::path home,
                     std::vector<std::filesystem::path> searchPaths, Clock clock)
        : m_id(id), m_displayName(displayName), m_home(std::move(home)),
          m_searchPaths(std::move(searchPaths)), m_clock(std::move(clock)) {}

    // A reading with `error`, and with this tool's row of `candidate` when there is one, dated
    // now.
    UsageReading readingOf(const std::optional<SanitizedUsageCandidate>& candidate,
                           std::optional<SourceError> error = std::nullopt) const;
    // This tool's row for a source found in a form no parser recognizes, saying `text`.
    ProviderUsage placeholderRow(std::string text) const;
    // A diagnostic of this tool with `warnings`, its found flags still to be set and settled.
    AdapterDiagnostic diagnosticWith(std::vector<std::string> warnings) const;

    std::string_view m_id;
    std::string_view m_displayName;
    std::filesystem::path m_home;
    std::vector<std::filesystem::path> m_searchPaths;
    Clock m_clock;
};

} // namespace korvo
