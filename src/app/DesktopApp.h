#pragma once

namespace korvo {

// Runs the desktop application (tray icon, menu and main window) until it quits and returns
// the exit code. Creates the QApplication itself, so no Qt application object may exist yet.
int runDesktopApp(int argc, char** argv);

} // namespace korvo
