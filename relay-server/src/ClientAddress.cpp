#include "ClientAddress.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>

namespace korvo::relayserver {
namespace {

constexpr unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

std::string v4Text(const unsigned char* bytes) {
    char text[INET_ADDRSTRLEN] = "";
    return ::inet_ntop(AF_INET, bytes, text, sizeof text) != nullptr ? std::string(text)
                                                                     : std::string();
}

} // namespace

std::string unmappedAddress(std::string_view address) {
    const std::string text(address);
    unsigned char bytes[16];
    if (text.find(':') == std::string::npos || ::inet_pton(AF_INET6, text.c_str(), bytes) != 1 ||
        !std::equal(std::begin(kMapped), std::end(kMapped), bytes)) {
        return text;
    }
    return v4Text(bytes + 12);
}

std::string addressText(const sockaddr* address) {
    if (address == nullptr) {
        return {};
    }
    if (address->sa_family == AF_INET) {
        return v4Text(reinterpret_cast<const unsigned char*>(
            &reinterpret_cast<const sockaddr_in*>(address)->sin_addr));
    }
    if (address->sa_family == AF_INET6) {
        const auto* bytes = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr.s6_addr;
        if (std::equal(std::begin(kMapped), std::end(kMapped), bytes)) {
            return v4Text(bytes + 12);
        }
        char text[INET6_ADDRSTRLEN] = "";
        return ::inet_ntop(AF_INET6, bytes, text, sizeof text) != nullptr ? std::string(text)
                                                                          : std::string();
    }
    return {};
}

std::string clientKey(std::string_view address) {
    const std::string text(address);
    unsigned char bytes[16];
    if (text.find(':') == std::string::npos || ::inet_pton(AF_INET6, text.c_str(), bytes) != 1) {
        return text;
    }
    if (std::equal(std::begin(kMapped), std::end(kMapped), bytes)) {
        return v4Text(bytes + 12);
    }
    std::fill(bytes + 8, bytes + 16, 0);
    char out[INET6_ADDRSTRLEN] = "";
    return ::inet_ntop(AF_INET6, bytes, out, sizeof out) != nullptr ? std::string(out) + "/64"
                                                                    : text;
}

} // namespace korvo::relayserver

namespace korvo::relayserver {

std::string networkKey(std::string_view address) {
    const std::string key = clientKey(address);
    unsigned char bytes[4];
    if (::inet_pton(AF_INET, key.c_str(), bytes) != 1) {
        return key;
    }
    bytes[3] = 0;
    return v4Text(bytes) + "/24";
}

} // namespace korvo::relayserver
