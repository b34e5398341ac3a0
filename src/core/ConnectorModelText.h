#pragma once

// Small conversions shared by the model's source files.

#include "relayclient/RelayAddress.h"

#include <QString>
#include <optional>
#include <string>

namespace korvo {

inline QString qText(const std::string& text) {
    return QString::fromStdString(text);
}
inline std::string stdText(const QString& text) {
    return text.toStdString();
}

inline std::optional<QString> qText(const std::optional<std::string>& text) {
    if (!text) {
        return std::nullopt;
    }
    return QString::fromStdString(*text);
}

// How requests to the relay URL typed as `text` would travel; https when it is not a URL.
inline RelayAddress::Transport relayTransportOf(const QString& text) {
    const std::optional<QUrl> url = RelayAddress::normalized(text);
    return url ? RelayAddress::transportOf(*url) : RelayAddress::Transport::https;
}

// The description of the failure held by a relay result.
template <class RelayResult> QString failureText(const RelayResult& result) {
    return QString::fromStdString(result.error().description());
}

} // namespace korvo
