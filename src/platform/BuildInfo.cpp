#include "platform/BuildInfo.h"

#ifndef KORVO_VERSION
#error "KORVO_VERSION must be defined by the build"
#endif
#ifndef KORVO_BUILD_NUMBER
#error "KORVO_BUILD_NUMBER must be defined by the build"
#endif
#ifndef KORVO_BUILD_CHANNEL
#error "KORVO_BUILD_CHANNEL must be defined by the build"
#endif

namespace korvo {

namespace {
std::optional<QString> nonEmpty(const char* text) {
    const QString value = QString::fromUtf8(text);
    if (value.isEmpty()) {
        return std::nullopt;
    }
    return value;
}
} // namespace

BuildInfo BuildInfo::current() {
    return BuildInfo{nonEmpty(KORVO_VERSION), nonEmpty(KORVO_BUILD_NUMBER),
                     nonEmpty(KORVO_BUILD_CHANNEL)};
}

} // namespace korvo
