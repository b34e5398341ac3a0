#pragma once

#include <QString>

namespace korvo {

// The wording of a text for the desktop it is shown on, in the window, the menu, notifications
// and the command line alike: on macOS the text as written; elsewhere a text that names the Mac
// names the computer instead ("Current Limits on This Mac" -> "Current Limits on This
// Computer", "Mac power" -> "Computer power").
enum class DesktopKind { mac, other };
constexpr DesktopKind kThisDesktop =
#ifdef Q_OS_MACOS
    DesktopKind::mac;
#else
    DesktopKind::other;
#endif
QString desktopWording(const QString& text, DesktopKind desktop = kThisDesktop);

} // namespace korvo
