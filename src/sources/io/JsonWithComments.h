#pragma once

// Settings files that people edit by hand: JSON with comments and trailing commas.

#include <string>
#include <string_view>

namespace korvo {

/// `text` with every "//" line comment and "/* */" block comment outside strings replaced by
/// spaces (line breaks kept), and every comma that only white space or comments separate from a
/// closing "}" or "]" removed, so that a strict JSON parser reads what the author meant. Text that
/// is not JSON stays not JSON; an unterminated block comment runs to the end.
std::string withoutCommentsAndTrailingCommas(std::string_view text);

} // namespace korvo
