#include "core/LaunchAtLogin.h"

#include "core/StateUpdate.h"
#include "platform/LoginItem.h"

namespace korvo {

LaunchAtLogin::LaunchAtLogin(std::shared_ptr<LoginItem> loginItem, QObject* parent)
    : QObject(parent), loginItem_(std::move(loginItem)) {}

void LaunchAtLogin::refresh() {
    using Status = LoginItemState::Status;
    Status status = Status::unknown;
    switch (loginItem_->status()) {
    case LoginItem::Status::notRegistered:
        status = Status::off;
        break;
    case LoginItem::Status::enabled:
        status = Status::on;
        break;
    case LoginItem::Status::requiresApproval:
        status = Status::needsApproval;
        break;
    case LoginItem::Status::notFound:
        status = Status::unavailable;
        break;
    default:
        break;
    }
    updateState(*this, state_, [&](LoginItemState& state) {
        state.status = status;
        state.enabled = status == Status::on;
        state.failure.clear();
    });
}

std::optional<ConnectorError> LaunchAtLogin::set(bool enabled) {
    const LoginItem::Status current = loginItem_->status();
    if ((enabled && current == LoginItem::Status::enabled) ||
        (!enabled &&
         (current == LoginItem::Status::notRegistered || current == LoginItem::Status::notFound))) {
        refresh();
        return std::nullopt;
    }
    const Result<std::monostate, QString> done =
        enabled ? loginItem_->registerItem() : loginItem_->unregisterItem();
    refresh();
    if (done.ok()) {
        return std::nullopt;
    }
    updateState(*this, state_, [&](LoginItemState& state) {
        state.status = LoginItemState::Status::failed;
        state.failure = done.error();
    });
    return ConnectorError{ConnectorError::Kind::loginItemFailed, done.error()};
}

} // namespace korvo
