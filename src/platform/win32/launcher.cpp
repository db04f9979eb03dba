// Windows launcher window.
#include "platform/platform.h"

int platform_show_launcher(int) { return 0; }
