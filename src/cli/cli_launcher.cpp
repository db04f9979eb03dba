#include "cli/cli_launcher.h"

#include "platform/platform.h"

int kvx_try_gui_launcher(int force) { return platform_show_launcher(force); }
