#include "TlsCertificate.h"

#include <cstdlib>

namespace korvo::test {

bool writeSelfSignedCertificate(const std::string& newKey, const std::string& keyFile,
                                const std::string& certificateFile) {
    const std::string command = "timeout 20 openssl req -x509 -newkey " + newKey +
                                " -nodes -days 1 -subj /CN=127.0.0.1 -keyout " + keyFile +
                                " -out " + certificateFile + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

} // namespace korvo::test
