#pragma once

#include "model/Result.h"

#include <QString>
#include <variant>

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
    // Both fail with the description of the failure.
    virtual Result<std::monostate, QString> registerItem() = 0;
    virtual Result<std::monostate, QString> unregisterItem() = 0;
};

} // namespace korvo
