#include "core/LaunchAtLogin.h"

#include "core/StateUpdate.h"
#include "platform/LoginItem.h"

namespace korvo {

LaunchAtLogin::LaunchAtLogin(std::shared_ptr<LoginItem> loginItem, QObject* parent)
    : QObject(parent), loginItem_(std::move(loginItem)) {}

template <class Change> void LaunchAtLogin::update(Change&& change) {
    if (applyChange(state_, std::forward<Change>(change))) {
        Q_EMIT changed();
    }
}

void LaunchAtLogin::refresh() {
    using Status = LoginItemState::Status;
    Status status = Status::unknown;
    switch (loginItem_->status()) {
    case LoginItem::Status::NotRegistered:
        status = Status::off;
        break;
    case LoginItem::Status::Enabled:
        status = Status::on;
        break;
    case LoginItem::Status::RequiresApproval:
        status = Status::needsApproval;
        break;
    case LoginItem::Status::NotFound:
        status = Status::unavailable;
        break;
    default:
        break;
    }
    update([&](LoginItemState& state) {
        state.status = status;
        state.enabled = status == Status::on;
        state.failure.clear();
    });
}

std::optional<ConnectorError> LaunchAtLogin::set(bool enabled) {
    const LoginItem::Status current = loginItem_->status();
    if ((enabled && current == LoginItem::Status::Enabled) ||
        (!enabled &&
         (current == LoginItem::Status::NotRegistered || current == LoginItem::Status::NotFound))) {
        refresh();
        return std::nullopt;
    }
    const std::optional<QString> failure =
        enabled ? loginItem_->registerItem() : loginItem_->unregisterItem();
    refresh();
    if (!failure) {
        return std::nullopt;
    }
    update([&](LoginItemState& state) {
        state.status = LoginItemState::Status::failed;
        state.failure = *failure;
    });
    return ConnectorError{ConnectorError::Kind::loginItemFailed, *failure};
}

} // namespace korvo
