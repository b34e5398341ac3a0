#pragma once

#include "core/ConnectorState.h"

#include <QObject>
#include <memory>

namespace korvo {

class LoginItem;

// Open at Login: the state of the autostart entry, and turning it on or off.
class LaunchAtLogin final : public QObject {
    Q_OBJECT
public:
    explicit LaunchAtLogin(std::shared_ptr<LoginItem> loginItem, QObject* parent = nullptr);

    const LoginItemState& state() const { return state_; }

    void refresh();
    // Registers or removes the entry unless it is already so. Returns the failure, if any.
    std::optional<ConnectorError> set(bool enabled);

Q_SIGNALS:
    void changed();

private:
    std::shared_ptr<LoginItem> loginItem_;
    LoginItemState state_;
};

} // namespace korvo
