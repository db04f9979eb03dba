// Process entry point. Kept apart from the pipeline so that the tests link the
// whole program but this file.
#include <cstring>

#include "cli/cli.h"
#include "cli/cli_launcher.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  platform_start_up();
  if (argc == 2 && std::strcmp(argv[1], "--gui") == 0) {
    kvx_try_gui_launcher(1);
    return 0;
  }
  if (argc == 1 && kvx_try_gui_launcher(0) != 0) return 0;
  return kvx_cli_execute(argc, argv);
}
