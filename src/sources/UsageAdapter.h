#pragma once

#include "model/UsageSnapshot.h"
#include "sources/AdapterDiagnostic.h"

#include <optional>
#include <string>

namespace korvo {

// One local tool the connector knows about. Implementations are immutable after construction
// and only read the disk; what they keep between calls is a cache that spares a later call work
// without changing its answer (the Claude Code adapter's transcript totals). Both operations are
// synchronous; the model calls them on a worker thread, one adapter after another.
class UsageAdapter {
public:
    virtual ~UsageAdapter() = default;

    // Stable identifier; equal to the id of the rows this adapter produces.
    virtual std::string id() const = 0;
    virtual std::string displayName() const = 0;

    // What the adapter finds right now. Never throws.
    virtual AdapterDiagnostic diagnose() const = 0;

    // The adapter's provider row, or nothing when there is nothing to upload. May throw;
    // the caller treats an exception as "no row" for this adapter and asks the next one.
    virtual std::optional<ProviderUsage> readUsage() const = 0;
};

} // namespace korvo
