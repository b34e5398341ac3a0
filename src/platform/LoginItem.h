#pragma once

#include <QString>
#include <optional>

namespace korvo {

// The platform's "open at login" registration of the application.
class LoginItem {
public:
    enum class Status {
        NotRegistered,    // off
        Enabled,          // registered and active
        RequiresApproval, // registered, waiting for the user's approval
        NotFound,         // the platform cannot register the application here
    };

    virtual ~LoginItem() = default;
    virtual Status status() const = 0;
    // Both return the description of the failure, or nothing on success.
    virtual std::optional<QString> registerItem() = 0;
    virtual std::optional<QString> unregisterItem() = 0;
};

} // namespace korvo
