#pragma once

#include "model/Result.h"
#include "platform/KeychainBackend.h"
#include "platform/KeychainError.h"

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace korvo {

// The connector's secrets (the device token) as generic-password items of one service.
// Synchronous: every call may block on D-Bus or disk, so callers keep it off the GUI thread.
// Copies share the backend. Items live in one backend; `otherBackends` are where an earlier run
// that chose another backend may have left items: they are read by readOthers() and cleared by
// remove(), so that switching backends leaves nothing behind.
class KeychainStore {
public:
    static constexpr const char* kDefaultService = "com.korvo.connector";
    static constexpr const char* kDeviceTokenAccount = "connectorDeviceToken";

    KeychainStore(std::string service, std::shared_ptr<KeychainBackend> backend,
                  std::vector<std::shared_ptr<KeychainBackend>> otherBackends = {});

    const std::string& service() const { return service_; }

    // Replaces any item of `account` with `value`: delete, then add. When the add fails the
    // account is left empty and the error carries the store's status.
    Result<std::monostate, KeychainError> save(const std::string& value,
                                               const std::string& account) const;

    // The stored string; nothing when there is no item, it cannot be read, or its bytes are not
    // UTF-8.
    std::optional<std::string> read(const std::string& account) const;

    // The strings stored for `account` in the other backends, each once, without the one of
    // this store's backend.
    std::vector<std::string> readOthers(const std::string& account) const;

    // Removes the item of `account` from this store's backend and the other backends, where
    // there is one. Never fails.
    void remove(const std::string& account) const;

private:
    std::string service_;
    std::shared_ptr<KeychainBackend> backend_;
    std::vector<std::shared_ptr<KeychainBackend>> otherBackends_;
};

} // namespace korvo
