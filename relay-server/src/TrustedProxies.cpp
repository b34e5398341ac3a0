#include "TrustedProxies.h"

#include <arpa/inet.h>
#include <charconv>

namespace korvo::relayserver {
namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

std::optional<std::array<unsigned char, 16>> TrustedProxies::parse(std::string_view address) {
    const std::string text(address.size() > 2 && address.front() == '[' && address.back() == ']'
                               ? address.substr(1, address.size() - 2)
                               : address);
    std::array<unsigned char, 16> bytes{};
    if (text.size() < INET6_ADDRSTRLEN && ::inet_pton(AF_INET6, text.c_str(), bytes.data()) == 1) {
        return bytes;
    }
    if (text.size() < INET_ADDRSTRLEN &&
        ::inet_pton(AF_INET, text.c_str(), bytes.data() + 12) == 1) {
        bytes[10] = bytes[11] = 0xff;
        return bytes;
    }
    return std::nullopt;
}

bool TrustedProxies::add(std::string_view cidr) {
    const auto slash = cidr.find('/');
    const auto address = parse(cidr.substr(0, slash));
    if (!address) {
        return false;
    }
    const bool v4 = cidr.substr(0, slash).find(':') == std::string_view::npos;
    int prefix = v4 ? 32 : 128;
    if (slash != std::string_view::npos) {
        const auto digits = cidr.substr(slash + 1);
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
            prefix < 0 || prefix > (v4 ? 32 : 128)) {
            return false;
        }
    }
    ranges_.push_back({*address, v4 ? prefix + 96 : prefix});
    return true;
}

bool TrustedProxies::contains(std::string_view address) const {
    const auto bytes = parse(address);
    if (!bytes) {
        return false;
    }
    for (const auto& range : ranges_) {
        int bits = range.prefix;
        bool match = true;
        for (int i = 0; i < 16 && bits > 0 && match; ++i, bits -= 8) {
            const unsigned mask = bits >= 8 ? 0xffu : (0xffu << (8 - bits)) & 0xffu;
            match = ((*bytes)[i] & mask) == (range.bytes[i] & mask);
        }
        if (match) {
            return true;
        }
    }
    return false;
}

std::string TrustedProxies::clientAddress(const std::string& peer,
                                          std::string_view forwardedFor) const {
    std::string client = peer;
    while (contains(client) && !forwardedFor.empty()) {
        const auto comma = forwardedFor.rfind(',');
        const auto entry = trimmed(
            comma == std::string_view::npos ? forwardedFor : forwardedFor.substr(comma + 1));
        forwardedFor =
            comma == std::string_view::npos ? std::string_view{} : forwardedFor.substr(0, comma);
        if (!parse(entry)) {
            break;
        }
        client = std::string(entry.front() == '[' ? entry.substr(1, entry.size() - 2) : entry);
    }
    return client;
}

} // namespace korvo::relayserver
