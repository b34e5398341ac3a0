#pragma once

// A byte scan that tells, without parsing, that a log line cannot give a usage candidate.

#include <string_view>

namespace korvo {

/// False only when no object key in the JSON text `line` could, once normalized, fill a field
/// that makes a candidate useful (keyCanMakeUseful). Keys written with escapes are taken as
/// possibly useful. Text that is not JSON may give either answer: it gives no candidate anyway.
bool mayHoldUsefulKey(std::string_view line);

} // namespace korvo
