#include "relayclient/RelayClientError.h"

#include "model/Utf8.h"

namespace korvo {

std::string RelayClientError::description() const {
    // The body comes from the network: shown without control characters and cut short.
    const std::string shown =
        body.has_value() ? printableText(*body, kMaxBodyInDescription) : std::string();
    const bool hasBody = !shown.empty();
    if (kind == Kind::badResponse) {
        return "Relay returned HTTP " + std::to_string(statusCode) + (hasBody ? ": " + shown : ".");
    }
    return "Relay response decode failed: " + printableText(underlying) +
           (hasBody ? ". Body: " + shown : ".");
}

} // namespace korvo
