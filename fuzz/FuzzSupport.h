#pragma once

// Shared by the fuzz targets: a failed expectation aborts, so that libFuzzer keeps the input
// that broke it as a crash, just as it does for a sanitizer report.

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace korvo::test {

inline void expect(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "fuzz expectation failed: %s\n", what);
        std::abort();
    }
}

inline std::string_view text(const unsigned char* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

} // namespace korvo::test
