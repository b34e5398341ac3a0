#include "launcher/VersionText.h"

#include "model/DisplayText.h"
#include "model/UsageSnapshot.h"

#include <optional>
#include <string_view>

namespace korvo {

namespace {
std::string_view orUnknown(std::string_view value) {
    return value.empty() ? "unknown" : value;
}
} // namespace

std::string versionText() {
    const std::string_view channel = KORVO_BUILD_CHANNEL;
    const auto configured =
        channel.empty() ? std::nullopt : std::optional<std::string_view>(channel);
    std::string text = "Korvo Connector ";
    text += orUnknown(KORVO_VERSION);
    text += " (";
    text += orUnknown(KORVO_BUILD_NUMBER);
    text += ")\nBuild channel: ";
    text += buildChannelLabel(KorvoBuildChannel::fromConfiguredValue(configured));
    text += '\n';
    return text;
}

} // namespace korvo
