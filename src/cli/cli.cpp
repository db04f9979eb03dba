#include "cli/cli.h"

#include <string>
#include <vector>

#include "core/run.h"

// Until the full dispatcher lands: "w <files>" and bare file names run the
// single-file pipeline; the verbose switches may stand anywhere.
int kvx_cli_execute(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--verbose" || arg == "-V") {
      g_kvx_verbose = 1;
      continue;
    }
    args.push_back(arg);
  }
  if (args.size() <= 1) return 0;
  size_t first = 1;
  if (args[1] == "w" && args.size() > 2) first = 2;
  int failed = 0;
  for (size_t i = first; i < args.size(); ++i) {
    if (run_transpile_single_file(args[i]) != 0) failed = 1;
  }
  return failed;
}
