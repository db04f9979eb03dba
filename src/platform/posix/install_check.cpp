// POSIX check of the user PATH entry: the marked line that install writes
// into a shell profile (src/platform/posix/install.cpp), looked for in every
// profile uninstall cleans.
#include <fstream>
#include <string>
#include <string_view>

#include "platform/install.h"

namespace {

constexpr std::string_view kProfileLine =
    "export PATH=\"$HOME/KORVEX:$PATH\" # KORVEX: added by 'kvx install', removed by 'kvx uninstall'";
constexpr const char* kProfileNames[] = {".profile", ".bashrc", ".zshrc", ".bash_profile"};

}  // namespace

int platform_user_path_holds(const InstallPaths& paths) {
  for (const char* name : kProfileNames) {
    std::ifstream in(paths.home + "/" + name, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
      if (line == kProfileLine) return 1;
    }
  }
  return 0;
}
