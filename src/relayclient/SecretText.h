#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvo {

// Text from a relay made fit to quote in an error or a log line without handing on a secret.
// The value of every member whose name holds "token", "secret", "code" or "password" (in any
// case, escaped or not), and of "qrPayload" (it holds the pairing secret), becomes "[hidden]", and
// so does every other occurrence of such a value or of one of `credentials` (what the request
// carried: the bearer token, the pairing secret, the password of the relay URL), wherever it
// stands. Works on text that is not valid JSON, too: a body cut short, HTML, or JSON inside a
// string.
std::string withoutSecrets(std::string_view text, const std::vector<std::string>& credentials = {});

// The values of the members of `text` whose names say they hold a secret (see above), as they
// stand between their quotes.
std::vector<std::string> secretMemberValues(std::string_view text);

} // namespace korvo
