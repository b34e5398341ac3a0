#include "RelayCrypto.h"

#include <cstdio>
#include <cstdlib>
#include <openssl/rand.h>
#include <openssl/sha.h>

namespace korvo::relayserver {

std::string randomBytes(std::size_t count) {
    std::string bytes(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(count)) != 1) {
        std::fputs("korvo-relay: the random generator failed\n", stderr);
        std::abort();
    }
    return bytes;
}

std::string randomToken() {
    return base64Url(randomBytes(32));
}

std::string randomDigits(int digits) {
    std::string text;
    while (static_cast<int>(text.size()) < digits) {
        // Rejection sampling keeps every digit uniform: 250 = 25 * 10.
        const auto byte = static_cast<unsigned char>(randomBytes(1)[0]);
        if (byte < 250) {
            text += static_cast<char>('0' + byte % 10);
        }
    }
    return text;
}

std::array<unsigned char, 32> sha256(std::string_view data) {
    std::array<unsigned char, 32> digest{};
    SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest.data());
    return digest;
}

std::string base64Url(std::string_view bytes) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    out.reserve((bytes.size() * 4 + 2) / 3);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        const auto c = static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[a >> 2];
        out += alphabet[((a & 0x03) << 4) | (b >> 4)];
        out += alphabet[((b & 0x0F) << 2) | (c >> 6)];
        out += alphabet[c & 0x3F];
    }
    if (i + 1 == bytes.size()) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        out += alphabet[a >> 2];
        out += alphabet[(a & 0x03) << 4];
    } else if (i + 2 == bytes.size()) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        out += alphabet[a >> 2];
        out += alphabet[((a & 0x03) << 4) | (b >> 4)];
        out += alphabet[(b & 0x0F) << 2];
    }
    return out;
}

std::string hashText(std::string_view secret) {
    const auto digest = sha256(secret);
    return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

std::string seal(const std::string& bytes, const std::string& secret) {
    const auto key = sha256("korvo-relay connector token\n" + secret);
    std::string out = bytes;
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<char>(out[i] ^ static_cast<char>(key[i % key.size()]));
    }
    return out;
}

} // namespace korvo::relayserver
