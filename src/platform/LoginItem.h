#pragma once

#include <QString>
#include <optional>

namespace korvo {

// The platform's "open at login" registration of the application.
class LoginItem {
public:
    enum class Status {
        notRegistered,    // off
        enabled,          // registered and active
        requiresApproval, // registered, waiting for the user's approval
        notFound,         // the platform cannot register the application here
    };

    virtual ~LoginItem() = default;
    virtual Status status() const = 0;
    // Both return the description of the failure, or nothing on success.
    virtual std::optional<QString> registerItem() = 0;
    virtual std::optional<QString> unregisterItem() = 0;
};

} // namespace korvo
