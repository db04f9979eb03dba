// Windows implementation of the installation footprint: the program in
// %USERPROFILE%\KORVEX, the user PATH entry and the desktop shortcut, the last
// two through PowerShell; this file must contain only Windows specific code.
#include "platform/install.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace {

int run_command_line(const std::string& line) {
  PlatformCommand command;
  command.command_line = line;
  return platform_run_wait(command);
}

}  // namespace

const char* platform_home_variable() { return "USERPROFILE"; }

bool platform_install_paths(InstallPaths& paths) {
  const char* home = std::getenv("USERPROFILE");
  if (home == nullptr || *home == '\0') return false;
  paths.home = home;
  paths.folder = paths.home + "\\KORVEX";
  paths.program = paths.folder + "\\kvx.exe";
  paths.desktop = paths.home + "\\Desktop";
  paths.shortcut = paths.desktop + "\\KORVEX.lnk";
  return true;
}

const char* platform_user_path_label() { return "Windows user PATH"; }

std::string platform_executable_path() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

int platform_user_path_add(const InstallPaths& paths, std::string& detail) {
  if (run_command_line(install_command_path_add(paths.folder)) != 0) {
    detail = "PowerShell could not change the user PATH";
    return 1;
  }
  detail = "user PATH";
  return 0;
}

void platform_user_path_remove(const InstallPaths& paths) {
  run_command_line(install_command_path_remove(paths.folder));
}

int platform_create_shortcut(const InstallPaths& paths, std::string& detail) {
  std::error_code error;
  if (!std::filesystem::is_directory(paths.desktop, error)) {
    detail = "no Desktop folder " + paths.desktop;
    return 1;
  }
  if (run_command_line(install_command_shortcut(paths.shortcut, paths.program, paths.folder)) != 0) {
    detail = "PowerShell could not write " + paths.shortcut;
    return -1;
  }
  detail = paths.shortcut;
  return 0;
}

void platform_remove_install_folder(const InstallPaths& paths) {
  // The running program lives in that folder: a second command interpreter
  // removes it after about a second, when this process has exited.
  run_command_line(install_command_deferred_remove(paths.folder));
}

int platform_make_executable(const std::string&) { return 0; }

int platform_replace_executable(const std::string& replacement, const std::string& target,
                                std::string& error) {
  // A running program cannot be overwritten but can be renamed: it is moved
  // aside first and put back when the new one cannot take its place. The old
  // file goes with the next update or install.
  const std::string old = target + ".old";
  DeleteFileA(old.c_str());
  const bool had_target = GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (had_target && !MoveFileExA(target.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    error = "cannot move " + target + " aside (error " + std::to_string(GetLastError()) + ")";
    return 1;
  }
  if (!MoveFileExA(replacement.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    error = "cannot rename " + replacement + " (error " + std::to_string(GetLastError()) + ")";
    if (had_target) MoveFileExA(old.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    return 1;
  }
  return 0;
}

const char* platform_update_asset_name() {
#if defined(__aarch64__) || defined(_M_ARM64)
  return "kvx-windows-arm64.exe";
#else
  return "kvx-windows-x86_64.exe";
#endif
}
