#pragma once

#include "platform/KeychainBackend.h"

#include <filesystem>
#include <vector>

namespace korvo {

// Items in one per-user file (mode 0600, in a directory of mode 0700), used where no Secret
// Service answers. Every change rewrites the file through a temporary file and a rename, under
// an exclusive lock, so a crash or a second process never leaves a half-written file.
class FileKeychain final : public KeychainBackend {
public:
    explicit FileKeychain(std::filesystem::path file);

    // $XDG_DATA_HOME/korvo-connector/keychain, or ~/.local/share/korvo-connector/keychain.
    static std::filesystem::path defaultPath();

    const std::filesystem::path& path() const { return file_; }

    void removeItems(const std::string& service, const std::string& account) override;
    std::int32_t addItem(const std::string& service, const std::string& account,
                         std::string_view data) override;
    std::optional<std::string> copyItem(const std::string& service,
                                        const std::string& account) override;

private:
    struct Item {
        std::string service;
        std::string account;
        std::string data;
    };
    // Nothing when the file exists but cannot be read or parsed; empty when it is missing.
    std::optional<std::vector<Item>> load() const;
    std::int32_t store(const std::vector<Item>& items) const;
    int lock(int operation) const;

    std::filesystem::path file_;
};

} // namespace korvo
