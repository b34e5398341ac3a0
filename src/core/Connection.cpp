#include "core/Connection.h"

namespace korvo {

void Connection::setStatus(ConnectionStatus status) {
    if (status_ != status) {
        status_ = status;
        Q_EMIT changed();
    }
}

void Connection::setError(std::optional<ConnectorError> error) {
    if (error_ != error) {
        error_ = std::move(error);
        Q_EMIT changed();
    }
}

} // namespace korvo
