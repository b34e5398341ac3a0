#pragma once

#include <QString>
#include <optional>

namespace korvo {

// The application's small persistent key/value store. Only strings are kept.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;
    // The string stored under key, or nothing when the key is missing or holds a non-string value.
    virtual std::optional<QString> string(const QString& key) const = 0;
    virtual void setString(const QString& key, const QString& value) = 0;
    virtual void remove(const QString& key) = 0;
};

} // namespace korvo
