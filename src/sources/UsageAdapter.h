#pragma once

#include "model/UsageSnapshot.h"
#include "sources/AdapterDiagnostic.h"

#include <optional>
#include <string>

namespace korvo {

// Why an adapter could not use a source it found. The path is shown as the diagnostics show it
// ("~/..." inside the home directory).
struct SourceError {
    enum class Kind {
        unreadable,  // exists, but could not be opened or is larger than the adapter reads
        notJson,     // read, but is not a JSON document
        outOfMemory, // the reading ran out of memory
    };
    Kind kind = Kind::unreadable;
    std::string path;

    // "<path> could not be read", "<path> is not valid JSON", "out of memory".
    std::string text() const;

    friend bool operator==(const SourceError&, const SourceError&) = default;
};

// What one reading gave: the adapter's provider row (or nothing when there is nothing to upload)
// and, independently, the first source the adapter found but could not use. A row read from one
// source may come with an error about another.
struct UsageReading {
    std::optional<ProviderUsage> row;
    std::optional<SourceError> error;
};

// One local tool the connector knows about. Implementations are immutable after construction
// and only read the disk; what they keep between calls is a cache that spares a later call work
// without changing its answer (the Claude Code adapter's transcript totals, the log folders'
// surveys). Both operations are synchronous; the model calls them on a worker thread, one adapter
// after another.
class UsageAdapter {
public:
    virtual ~UsageAdapter() = default;

    // Stable identifier; equal to the id of the rows this adapter produces.
    virtual std::string id() const = 0;
    virtual std::string displayName() const = 0;

    // What the adapter finds right now. Never throws: running out of memory gives the diagnostic
    // of a tool that was not found.
    AdapterDiagnostic diagnose() const noexcept;

    // The adapter's reading. Never throws: running out of memory is reported as an error.
    UsageReading readUsage() const noexcept;

private:
    // The adapter's own work behind diagnose() and readUsage(). Readers never throw, so the one
    // exception that can leave these is std::bad_alloc.
    virtual AdapterDiagnostic inspect() const = 0;
    virtual UsageReading read() const = 0;
};

} // namespace korvo
