// Windows implementation of the outside-program functions: every command line
// goes to the command interpreter as written, through system() (run and wait)
// or a read pipe (run and read); folders are tested and scanned with its
// built-ins "if exist" and "dir /b /s".
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace {

std::wstring widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), size);
  wide.resize(static_cast<size_t>(size - 1));
  return wide;
}

int run_command_line(const std::string& command_line) {
  std::fflush(stdout);
  return std::system(command_line.c_str());
}

int read_command_line(const std::string& command_line, std::string& output) {
  output.clear();
  std::fflush(stdout);
  std::FILE* pipe = _popen(command_line.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  return _pclose(pipe);
}

}  // namespace

int platform_run_wait(const PlatformCommand& command) { return run_command_line(command.command_line); }

int platform_run_read(const PlatformCommand& command, std::string& output) {
  return read_command_line(command.command_line, output);
}

void platform_shell_open(const std::string& target, const std::string& parameters) {
  const std::wstring wide_target = widen(target);
  const std::wstring wide_parameters = widen(parameters);
  ShellExecuteW(nullptr, L"open", wide_target.c_str(),
                wide_parameters.empty() ? nullptr : wide_parameters.c_str(), nullptr, SW_SHOWNORMAL);
}

int platform_is_directory(const std::string& path) {
  if (path.empty()) return 0;  // "\*" would name the root of the current drive
  std::string output;
  if (read_command_line("if exist \"" + path + "\\*\" echo DIR", output) == -1) return 0;
  return output.rfind("DIR", 0) == 0 ? 1 : 0;
}

int platform_scan_js_files(const std::string& folder, std::string& output) {
  if (read_command_line("dir /b /s \"" + folder + "\\*.js\" 2>nul", output) == -1) return 1;
  return 0;
}

void platform_remove_tree(const std::string& folder) {
  run_command_line("if exist " + folder + " rmdir /S /Q " + folder);
}

void platform_console_utf8() { run_command_line("chcp 65001 > nul"); }
