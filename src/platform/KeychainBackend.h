#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvo {

// Storage of generic-password items addressed by (service, account). The store on top of it
// (KeychainStore) gives the save/read/delete semantics; a backend only performs the three
// primitive operations. Calls are synchronous and may block (D-Bus round trips, disk).
class KeychainBackend {
public:
    virtual ~KeychainBackend() = default;

    // Removes every item of (service, account). Failures are ignored; a missing item is normal.
    virtual void removeItems(const std::string& service, const std::string& account) = 0;

    // Adds one item holding `data`. Returns 0 on success, otherwise a non-zero status code of
    // the underlying store.
    virtual std::int32_t addItem(const std::string& service, const std::string& account,
                                 std::string_view data) = 0;

    // The bytes of the item of (service, account), or nothing when there is none or it cannot
    // be read.
    virtual std::optional<std::string> copyItem(const std::string& service,
                                                const std::string& account) = 0;
};

} // namespace korvo
