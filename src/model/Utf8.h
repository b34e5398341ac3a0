#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvo {

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// The bytes as a string when they are well-formed UTF-8, otherwise nothing.
std::optional<std::string> utf8Text(std::string_view bytes);

// Text from the network made safe to print, log or show on one line: control characters (C0,
// DEL, C1) and the bidirectional overrides that reorder a line are dropped, line breaks and tabs
// become spaces, bytes that are not UTF-8 become U+FFFD. Longer texts are cut after `maxBytes`
// bytes (at a character boundary) and end in "…".
std::string printableText(std::string_view text, std::size_t maxBytes = 4096);

} // namespace korvo
