#pragma once

// A korvo-relay on a free loopback port with its database in a test's private folder.

#include "Subprocess.h"

#include <memory>
#include <optional>
#include <string>

namespace korvo::test {

struct HttpAnswer {
    int status = 0; // 0 when the request failed
    std::string body;
};

class RelayProcess {
public:
    // With `unixTime`, the relay's clock stands still at that second.
    explicit RelayProcess(const TempHome& home, std::optional<long long> unixTime = std::nullopt);

    // "http://127.0.0.1:PORT", empty when the relay did not come up.
    const std::string& baseURL() const { return baseURL_; }

    HttpAnswer post(const std::string& path, const std::string& body,
                    const std::string& bearer = {}) const;
    HttpAnswer get(const std::string& path, const std::string& bearer) const;

private:
    std::unique_ptr<Subprocess> process_;
    std::string host_;
    int port_ = 0;
    std::string baseURL_;
};

// A loopback URL on which nothing listens.
std::string closedLoopbackURL();

// The string value of a top-level member of a JSON object, or nothing.
std::optional<std::string> jsonString(const std::string& json, const std::string& member);

} // namespace korvo::test
