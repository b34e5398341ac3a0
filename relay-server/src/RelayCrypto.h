#pragma once

#include <array>
#include <string>
#include <string_view>

namespace korvo::relayserver {

// Random bytes from OpenSSL's generator. Aborts the process when the generator fails: a relay
// must never hand out predictable secrets.
std::string randomBytes(std::size_t count);

// 32 random bytes, URL-safe base64 without padding: secrets, tokens and identifiers.
std::string randomToken();

// `digits` random decimal digits, each uniformly distributed.
std::string randomDigits(int digits);

std::array<unsigned char, 32> sha256(std::string_view data);

// URL-safe base64 without padding.
std::string base64Url(std::string_view bytes);

// The SHA-256 of a secret or token as 32 raw bytes: what the stores keep instead of it.
std::string hashText(std::string_view secret);

// XOR with a key stream derived from the pairing secret; sealing and unsealing are the same.
std::string seal(const std::string& bytes, const std::string& secret);

} // namespace korvo::relayserver
