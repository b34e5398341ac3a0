#include "model/UsageSnapshot.h"

#ifndef KORVO_BUILD_CHANNEL
#define KORVO_BUILD_CHANNEL "release"
#endif

namespace korvo {

KorvoBuildChannel KorvoBuildChannel::fromConfiguredValue(std::optional<std::string_view> value) {
    if (!value) {
        return release;
    }
    return enumFromRawValue<KorvoBuildChannel>(*value).value_or(release);
}

KorvoBuildChannel KorvoBuildChannel::current() {
    return fromConfiguredValue(std::string_view(KORVO_BUILD_CHANNEL));
}

} // namespace korvo
