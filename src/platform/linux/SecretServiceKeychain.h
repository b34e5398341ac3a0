#pragma once

#include "platform/KeychainBackend.h"

namespace korvo {

// Items in the desktop's Secret Service (GNOME Keyring, KWallet), spoken to directly over the
// session bus with blocking calls, each bounded by a timeout. Items carry the attributes
// "service" and "account", plus "xdg:schema" naming the connector's schema, and go to the
// default collection. A locked item or collection is unlocked through the service's prompt,
// which the caller's thread waits for.
class SecretServiceKeychain final : public KeychainBackend {
public:
    // True when a Secret Service answers on the session bus with a default collection that is
    // unlocked, or locked while a display can show its unlock prompt. Never starts a bus:
    // without a session bus address (or the standard socket under XDG_RUNTIME_DIR) the answer
    // is false.
    static bool available();

    void removeItems(const std::string& service, const std::string& account) override;
    std::int32_t addItem(const std::string& service, const std::string& account,
                         std::string_view data) override;
    std::optional<std::string> copyItem(const std::string& service,
                                        const std::string& account) override;
};

} // namespace korvo
