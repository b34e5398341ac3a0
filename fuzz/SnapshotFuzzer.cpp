// The snapshot decoder, which korvo-relay runs on every upload: whatever decodes must encode,
// and decoding that encoding must give the same snapshot and then the same bytes again.

#include "FuzzSupport.h"
#include "model/SnapshotJson.h"

using namespace korvo;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const auto decoded = decodeSnapshot(test::text(data, size));
    if (!decoded.ok()) {
        test::expect(!decoded.error().description().empty(), "a refusal says why");
        return 0;
    }
    const auto encoded = encodeSnapshot(decoded.value());
    test::expect(encoded.ok(), "a decoded snapshot encodes");
    const auto again = decodeSnapshot(encoded.value());
    test::expect(again.ok(), "an encoded snapshot decodes");
    test::expect(again.value() == decoded.value(), "decode, encode, decode keeps the snapshot");
    const auto reencoded = encodeSnapshot(again.value());
    test::expect(reencoded.ok() && reencoded.value() == encoded.value(), "the encoding is stable");
    return 0;
}
