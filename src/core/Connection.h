#pragma once

#include "core/ConnectorState.h"

#include <QObject>
#include <optional>

namespace korvo {

// The one-line overall status at the top of the menu and the window, and the failure shown
// under it. Every concern reports here; changed() means a real change of either.
class Connection final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    ConnectionStatus status() const { return status_; }
    const std::optional<ConnectorError>& error() const { return error_; }

    void setStatus(ConnectionStatus status);
    void setError(std::optional<ConnectorError> error);

Q_SIGNALS:
    void changed();

private:
    ConnectionStatus status_ = ConnectionStatus::notPaired;
    std::optional<ConnectorError> error_;
};

} // namespace korvo
