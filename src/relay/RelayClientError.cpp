#include "relay/RelayClientError.h"

namespace korvo {

std::string RelayClientError::description() const {
    const bool hasBody = body.has_value() && !body->empty();
    if (kind == Kind::badResponse) {
        return "Relay returned HTTP " + std::to_string(statusCode) + (hasBody ? ": " + *body : ".");
    }
    return "Relay response decode failed: " + underlying + (hasBody ? ". Body: " + *body : ".");
}

} // namespace korvo
