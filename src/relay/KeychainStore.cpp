#include "relay/KeychainStore.h"

#include "relay/Utf8.h"

namespace korvo {

std::string KeychainError::description() const {
    return "The keychain operation failed (status " + std::to_string(status) + ").";
}

KeychainStore::KeychainStore(std::string service, std::shared_ptr<KeychainBackend> backend)
    : service_(std::move(service)), backend_(std::move(backend)) {}

std::string KeychainStore::backendName() const {
    return backend_->name();
}

Result<std::monostate, KeychainError> KeychainStore::save(const std::string& value,
                                                          const std::string& account) const {
    backend_->removeItems(service_, account);
    const std::int32_t status = backend_->addItem(service_, account, value);
    if (status != 0) {
        return KeychainError::unhandled(status);
    }
    return std::monostate{};
}

std::optional<std::string> KeychainStore::read(const std::string& account) const {
    auto bytes = backend_->copyItem(service_, account);
    if (!bytes) {
        return std::nullopt;
    }
    return utf8Text(*bytes);
}

void KeychainStore::remove(const std::string& account) const {
    backend_->removeItems(service_, account);
}

} // namespace korvo
