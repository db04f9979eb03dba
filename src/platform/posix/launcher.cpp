// POSIX launcher: there is no desktop-shell start to detect, so the console
// help is always shown.
#include "platform/platform.h"

int platform_show_launcher(int) { return 0; }
