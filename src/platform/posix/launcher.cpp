// POSIX launcher. There is no desktop-shell start to detect, so a start
// without arguments always shows the console help; "--gui" prints the
// launcher's text on the console, as there is no window to show it in.
#include <cstdio>

#include "platform/platform.h"

int platform_show_launcher(int force) {
  if (!force) return 0;
  std::printf(
      "KORVEX  \u2022  v1.0.0\n\n"
      "KORVEX is a command-line JavaScript -> TypeScript transpiler.\n\n"
      "Run:\n"
      "    kvx v          (version)\n"
      "    kvx h          (full help)\n"
      "    kvx doctor     (system diagnostic)\n\n"
      "Official documentation (FR / EN Tutorials):\n"
      "    https://korvex.dev/docs\n");
  return 1;
}
