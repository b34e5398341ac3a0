#include "platform/KeychainStore.h"

#include "model/Utf8.h"
#include "platform/PlatformLog.h"

#include <algorithm>

namespace korvo {

std::string KeychainError::description() const {
    return "The keychain operation failed (status " + std::to_string(status) + ").";
}

KeychainStore::KeychainStore(std::string service, std::shared_ptr<KeychainBackend> backend,
                             std::vector<std::shared_ptr<KeychainBackend>> otherBackends)
    : service_(std::move(service)), backend_(std::move(backend)),
      otherBackends_(std::move(otherBackends)) {}

Result<std::monostate, KeychainError> KeychainStore::save(const std::string& value,
                                                          const std::string& account) const {
    backend_->removeItems(service_, account);
    const std::int32_t status = backend_->addItem(service_, account, value);
    // The log names the account, never the value.
    if (status != 0) {
        qCWarning(lcPlatform).noquote() << "keychain: saving" << QString::fromStdString(account)
                                        << "failed with status" << status;
        return KeychainError::unhandled(status);
    }
    qCDebug(lcPlatform).noquote() << "keychain: saved" << QString::fromStdString(account);
    return std::monostate{};
}

std::optional<std::string> KeychainStore::read(const std::string& account) const {
    auto bytes = backend_->copyItem(service_, account);
    if (!bytes) {
        return std::nullopt;
    }
    auto text = utf8Text(*bytes);
    if (!text) {
        qCInfo(lcPlatform).noquote()
            << "keychain: the item of" << QString::fromStdString(account) << "is not UTF-8 text";
    }
    return text;
}

std::vector<std::string> KeychainStore::readOthers(const std::string& account) const {
    const std::optional<std::string> own = read(account);
    std::vector<std::string> values;
    for (const auto& backend : otherBackends_) {
        auto bytes = backend->copyItem(service_, account);
        auto text = bytes ? utf8Text(*bytes) : std::nullopt;
        if (text && text != own && std::find(values.begin(), values.end(), *text) == values.end()) {
            values.push_back(std::move(*text));
        }
    }
    return values;
}

void KeychainStore::remove(const std::string& account) const {
    backend_->removeItems(service_, account);
    for (const auto& backend : otherBackends_) {
        backend->removeItems(service_, account);
    }
    qCDebug(lcPlatform).noquote() << "keychain: removed" << QString::fromStdString(account);
}

} // namespace korvo
