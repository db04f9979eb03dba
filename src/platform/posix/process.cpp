// POSIX implementation of the outside-program functions.
#include "platform/platform.h"

int platform_run_wait(const PlatformCommand&) { return -1; }
int platform_run_read(const PlatformCommand&, std::string&) { return -1; }
void platform_shell_open(const std::string&, const std::string&) {}
int platform_is_directory(const std::string&) { return 0; }
int platform_scan_js_files(const std::string&, std::string&) { return 1; }
void platform_remove_tree(const std::string&) {}
void platform_console_utf8() {}
