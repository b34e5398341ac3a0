#pragma once

// The model's status fields as the diagnostics panel lists them, one "Label: value" line each,
// for `korvo-connector status`.

#include "core/LastSyncRecord.h"
#include "model/Instant.h"

#include <QString>
#include <utility>
#include <vector>

namespace korvo {

class ConnectorModel;

struct StatusLine {
    QString label;
    QString value;

    bool operator==(const StatusLine&) const = default;
};

// Status, relay, pairing, sources, collect, upload, sync, power, login, update and device lines,
// then "Error" when the model holds an error text. Dates are relative to `now`. Where this
// process has not checked the relay or uploaded, what another run `recorded` for the same relay
// is shown (its upload only while this machine is paired).
std::vector<StatusLine> statusLines(const ConnectorModel& model, Instant now,
                                    const std::optional<LastSyncRecord>& recorded = std::nullopt);

// The lines joined as "Label: value\n" each.
QString statusText(const std::vector<StatusLine>& lines);

} // namespace korvo
