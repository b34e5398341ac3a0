#pragma once

#include <cstdint>
#include <string>

namespace korvo {

// A failed keychain write. The one case, unhandled, carries the status code of the secret store
// (a GLib error code of the Secret Service, or an errno value of the file store).
struct KeychainError {
    enum class Code { unhandled };

    Code code = Code::unhandled;
    std::int32_t status = 0;

    static KeychainError unhandled(std::int32_t status) { return {Code::unhandled, status}; }

    // The generic rendering of this error, for status texts.
    std::string description() const;

    bool operator==(const KeychainError&) const = default;
};

} // namespace korvo
