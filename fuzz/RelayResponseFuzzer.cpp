// Every decoder of a relay answer: the relay is reached over the internet, so any bytes may come
// back. A decoder either gives a record or a refusal with a reason.

#include "FuzzSupport.h"
#include "relayclient/RelayMessages.h"

using namespace korvo;

namespace {

template <class Decode> void check(Decode decode, std::string_view body) {
    const auto result = decode(body);
    test::expect(result.ok() || !result.error().description().empty(), "a refusal says why");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string_view body = test::text(data, size);
    check(decodePairingSessionResponse, body);
    check(decodePairingStatusResponse, body);
    check(decodeSnapshotUploadResponse, body);
    check(decodeHealthResponse, body);
    check(decodeDevicesResponse, body);
    check(decodeDeleteDeviceResponse, body);
    return 0;
}
