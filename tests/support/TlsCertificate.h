#pragma once

#include <string>

namespace korvo::test {

// Writes a self-signed certificate for 127.0.0.1, valid for a day, and its key with openssl;
// `newKey` is openssl's -newkey argument and what follows it ("rsa:2048"). False when openssl
// failed.
bool writeSelfSignedCertificate(const std::string& newKey, const std::string& keyFile,
                                const std::string& certificateFile);

} // namespace korvo::test
