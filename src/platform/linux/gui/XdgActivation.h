#pragma once

#include "platform/WindowActivation.h"

struct wl_display;
struct xdg_activation_v1;

namespace korvo {

// The xdg-activation protocol of Wayland compositors, spoken on the application's own Wayland
// connection: a launch token is asked for with this app's id, and a window is activated with
// the token of another launch. Off Wayland, or where the compositor lacks the protocol, it has
// no tokens and activates nothing.
class XdgActivation final : public WindowActivation {
public:
    XdgActivation();
    ~XdgActivation() override;
    XdgActivation(const XdgActivation&) = delete;
    XdgActivation& operator=(const XdgActivation&) = delete;

    QString takeLaunchToken() override;
    void activate(QWindow& window, const QString& token) override;

private:
    // Binds the compositor's activation global on a private event queue, once.
    bool bind();

    wl_display* display_ = nullptr;
    struct Connection;
    std::unique_ptr<Connection> connection_;
};

} // namespace korvo
