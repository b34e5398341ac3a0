#pragma once

#include <QString>
#include <memory>

class QWindow;

namespace korvo {

// Bringing the app's window to the front for a launch that another process of the app received
// (the second launch hands over to the running one). Desktops that prevent focus stealing let a
// window take the focus only with a token that proves the person's action; the launcher hands
// that token to the process it starts, and that process passes it on.
class WindowActivation {
public:
    virtual ~WindowActivation() = default;

    // The token of this process's own launch: the one its launcher left in the environment
    // (taken out of it, so that nothing started later reuses it), else one asked of the
    // desktop for this app. Empty where the desktop has none.
    virtual QString takeLaunchToken() = 0;
    // Asks the desktop to give `window` the focus with the token of another launch.
    virtual void activate(QWindow& window, const QString& token) = 0;
};

// The desktop's form: xdg-activation on Wayland; elsewhere one that has no tokens and leaves
// the focus to the window system.
std::unique_ptr<WindowActivation> makeWindowActivation();

} // namespace korvo
