// korvo-connector-desktop: the tray icon, its menu and the window. `korvo-connector` without a
// command starts it, so that the command line itself never loads the GUI libraries.

#include "app/DesktopApp.h"

int main(int argc, char** argv) {
    return korvo::runDesktopApp(argc, argv);
}
