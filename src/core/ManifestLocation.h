#pragma once

#include "sources/io/Environment.h"

#include <QUrl>

namespace korvo {

class UserDefaults;

// Where the update manifest is read from. Self-hosters and tests point it elsewhere with the
// environment variable KORVO_MANIFEST_URL or the setting "manifestURL" (the environment wins);
// an empty or unusable value (no http or https scheme, no host) leaves the default.
inline constexpr const char* kManifestURLVariable = "KORVO_MANIFEST_URL";
inline constexpr const char* kManifestURLKey = "manifestURL";

QUrl manifestURL(const QUrl& defaultURL, const Environment& environment,
                 const UserDefaults* settings);

} // namespace korvo
