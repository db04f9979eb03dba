// Windows start-up: colour sequences in the console and the clean-up after an
// install or update replaced the program.
#include "platform/win32/startup.h"

#include "platform/install.h"
#include "platform/platform.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

bool win32_enable_escape_sequences(HANDLE handle) {
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return false;
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  return SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void win32_remove_moved_aside(const std::string& program) {
  if (program.empty()) return;
  // Fails while another copy of the old program still runs; fine.
  DeleteFileA((program + ".old").c_str());
}

void platform_start_up() {
  // Without this the console of older Windows shows the sequences as text.
  win32_enable_escape_sequences(GetStdHandle(STD_OUTPUT_HANDLE));
  win32_enable_escape_sequences(GetStdHandle(STD_ERROR_HANDLE));
  win32_remove_moved_aside(platform_executable_path());
}
