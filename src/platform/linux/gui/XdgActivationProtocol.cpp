// The xdg-activation protocol's interface descriptions, as wayland-scanner writes them (C that is
// also C++). The header comes first: its extern declarations give the constants below external
// linkage, which a const object at namespace scope in C++ would otherwise lack.
#include "xdg-activation-v1-client-protocol.h"
#include "xdg-activation-v1-protocol.c"
