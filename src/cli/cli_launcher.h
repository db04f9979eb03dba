// Launcher window shown instead of the console help when the program is
// started from the desktop shell.
#pragma once

// force = 1 shows the window unconditionally. Returns 0 when it declined (the
// program was started from a command shell), 1 after the window was closed.
int kvx_try_gui_launcher(int force);
