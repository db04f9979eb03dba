// POSIX start-up: terminals read the colour sequences as they are, and an
// update replaces the program by renaming, leaving no file behind.
#include "platform/platform.h"

void platform_start_up() {}
