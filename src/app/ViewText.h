#pragma once

#include "app/AppStyle.h"
#include "core/ConnectorState.h"
#include "core/DesktopWording.h"
#include "model/Instant.h"
#include "model/UsageSnapshot.h"
#include "sources/AdapterDiagnostic.h"

#include <QString>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvo {

// Texts and choices of the window and menu that are computed from the model's records.

// Colour of a provider's remaining figure and status word.
Tint statusTint(ProviderStatus status);

// "Pairing" while a pairing session is being created, else "Paired" or "Not paired".
std::string pairingStateText(bool isPairing, bool isPaired);

// Display names of the detected command-line tools other than the two main ones and the
// demo source, in list order, joined with ", "; "None" when there are none.
std::string detectedCliText(const std::vector<AdapterDiagnostic>& diagnostics);

// The tracking status of the diagnostic with this id, or "Not checked".
std::string trackingStatusOf(const std::vector<AdapterDiagnostic>& diagnostics,
                             std::string_view id);

// The date of something that has happened, relative to now ("3 minutes ago"), or "Never" when
// there is none. Under a minute (and a moment ahead of `now`, stamped after the clock was read)
// it reads "less than 1 minute ago", never as a future.
std::string relativeOrNever(const std::optional<Instant>& date, Instant now);
std::string relativePastPhrase(Instant date, Instant now);

// When the relative times of these dates next need a new rendering: within a second while one
// of them is less than a minute ahead (the text counts seconds), else within a minute.
// Nothing when there are no dates.
std::optional<std::chrono::milliseconds> relativeTimeRefreshDelay(const std::vector<Instant>& dates,
                                                                  Instant now);

// Whether the last upload of a paired connector failed: the header and the tray then say so
// instead of the model's status, which keeps the connected state.
bool syncIsFailing(bool isPaired, UploadState::Phase upload);
// The header's and the tray's status line.
QString shownStatusText(const QString& statusMessage, bool isPaired, UploadState::Phase upload);

// "37% remaining · 63% used · 120000 input · 18000 output · 50000 cached" from the figures
// the row has, or "Usage unknown".
std::string snapshotSummaryText(const ProviderUsage& provider);

// The caption over the limit rows: "Latest local read", or, when the rows are newer than what the
// phone shows, "Latest local read · not uploaded yet" and when the phone last got an upload.
std::string limitsCaptionText(bool notUploaded, const std::optional<Instant>& lastUpload,
                              Instant now);

// The tray menu's line for one provider: "Codex CLI  70% · Weekly 90%", "Gemini CLI  123,456
// tokens used".
std::string menuProviderText(const ProviderUsage& provider);

// What the tray icon shows: the most urgent state over the tracked tools and the sync.
struct TrayGlance {
    enum class Mark { none, limited, failing, notPaired };
    Mark mark = Mark::none;
    // The lowest remaining percentage among the tools, its status and the tool it belongs to;
    // nothing when no tool reports a percentage.
    std::optional<double> lowest;
    ProviderStatus lowestStatus = ProviderStatus::unknown;
    std::string toolText; // "Codex CLI 3% remaining (Weekly)"
    bool operator==(const TrayGlance&) const = default;
};
TrayGlance trayGlance(const std::optional<UsageSnapshot>& snapshot, bool hasSyncSpace,
                      bool syncFailing);
// The tray's tooltip: "Korvo Connector: Codex CLI 3% remaining (Weekly) · Sync failing; retrying".
QString trayToolTip(const TrayGlance& glance, const QString& status);

// Symbol and tint of a source: in the connected panel (gauge when limits were found) and in
// the diagnostics panel (check mark when limits were found).
struct SymbolChoice {
    std::string_view symbol;
    Tint tint;
    bool operator==(const SymbolChoice&) const = default;
};
SymbolChoice connectedSourceSymbol(const AdapterDiagnostic& diagnostic);
SymbolChoice diagnosticSourceSymbol(const AdapterDiagnostic& diagnostic);

} // namespace korvo
