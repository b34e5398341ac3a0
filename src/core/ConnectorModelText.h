#pragma once

// Small conversions shared by the model's source files.

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

// The description of the failure held by a relay result.
template <class RelayResult> QString failureText(const RelayResult& result) {
    return QString::fromStdString(result.error().description());
}

} // namespace korvo
