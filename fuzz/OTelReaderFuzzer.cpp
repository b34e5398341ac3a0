// The OpenTelemetry reader behind the Gemini CLI and Copilot CLI adapters, over a telemetry file
// holding the input, for both tools' metric names: the quick check for token counts agrees with
// the full read, and the total it gives is a usable candidate.

#include "FuzzHome.h"
#include "FuzzSupport.h"
#include "sources/otel/OTelTokenTotal.h"
#include "sources/otel/TelemetryDocuments.h"

#include <array>

using namespace korvo;

namespace {

constexpr std::array<std::string_view, 2> kGeminiNames{"gemini_cli.token.usage",
                                                       "gen_ai.client.token.usage"};
constexpr std::array<std::string_view, 1> kCopilotNames{"gen_ai.client.token.usage"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    static test::FuzzHome home;
    static simdjson::dom::parser parser;
    const auto file = home.writeOnly("telemetry.log", test::text(data, size));
    for (const std::span<const std::string_view> names :
         {std::span<const std::string_view>(kGeminiNames),
          std::span<const std::string_view>(kCopilotNames)}) {
        for (const std::size_t maxDocuments : {std::size_t(2), std::size_t(2'000)}) {
            OTelTokenTotal total("5h");
            readTelemetryTokens(file, names, maxDocuments, parser, total);
            test::expect(hasTelemetryTokenCounts(file, names, maxDocuments, parser) ==
                             total.hasTokenCount(),
                         "the quick check agrees with the full read");
            if (const auto candidate = total.total()) {
                test::expect(candidate->hasUsefulData(), "a total carries data");
            }
        }
    }
    return 0;
}
