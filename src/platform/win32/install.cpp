// Windows implementation of the installation footprint: the program in
// %USERPROFILE%\KORVEX, the user PATH entry and the desktop shortcut, the last
// two through PowerShell; this file must contain only Windows specific code.
#include "platform/install.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace {

int run_command_line(const std::string& line) {
  PlatformCommand command;
  command.command_line = line;
  return platform_run_wait(command);
}

std::wstring ansi_to_wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), size);
  wide.resize(static_cast<size_t>(size - 1));
  return wide;
}

// The user-scope Path as stored (variables not expanded): true with the
// value, or with "" when there is none; false when it cannot be read.
bool read_user_path(std::wstring& value) {
  value.clear();
  DWORD bytes = 0;
  const DWORD flags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
  LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, L"Environment", L"Path", flags, nullptr, nullptr, &bytes);
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (status != ERROR_SUCCESS) return false;
  std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  status = RegGetValueW(HKEY_CURRENT_USER, L"Environment", L"Path", flags, nullptr, buffer.data(), &bytes);
  if (status != ERROR_SUCCESS) return false;
  buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
  value = buffer;
  return true;
}

bool is_file(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The PowerShell lines hold the paths between quotes, where the command
// interpreter still expands "%NAME%": such a name is not handed to it.
bool interpreter_keeps(const std::string& path) { return path.find_first_of("%\"") == std::string::npos; }

std::string interpreter_would_change(const std::string& path) {
  return "the command interpreter would change the name " + path + " (it holds a % or a quote)";
}

// Why a PowerShell step left no trace: it could not run at all, it failed,
// or it said it succeeded.
std::string powershell_outcome(int status) {
  if (status == -1) return "the command interpreter could not be started";
  if (status != 0) return "PowerShell could not run or failed (exit code " + std::to_string(status) + ")";
  return "PowerShell reported success";
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

int platform_user_path_holds(const InstallPaths& paths) {
  std::wstring value;
  if (!read_user_path(value)) return -1;
  const std::wstring folder = ansi_to_wide(paths.folder);
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find(L';', start);
    if (end == std::wstring::npos) end = value.size();
    const std::wstring entry = value.substr(start, end - start);
    // Windows compares folder names ignoring letter case, as PowerShell's -ne
    // does when uninstall removes the entry.
    if (!entry.empty() && CompareStringOrdinal(entry.c_str(), static_cast<int>(entry.size()), folder.c_str(),
                                               static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL) {
      return 1;
    }
    start = end + 1;
  }
  return 0;
}

int platform_user_path_add(const InstallPaths& paths, std::string& detail) {
  if (!interpreter_keeps(paths.folder)) {
    detail = interpreter_would_change(paths.folder);
    return 1;
  }
  const int status = run_command_line(install_command_path_add(paths.folder));
  // The entry itself is the proof, not the exit status of the command.
  const int holds = platform_user_path_holds(paths);
  if (holds == 1) {
    detail = "user PATH";
    return 0;
  }
  detail = powershell_outcome(status) + (holds == 0 ? ", but the user PATH does not hold the folder"
                                                    : ", but the user PATH cannot be read");
  return 1;
}

void platform_user_path_remove(const InstallPaths& paths) {
  if (!interpreter_keeps(paths.folder)) return;  // the entry stays, and uninstall says so
  run_command_line(install_command_path_remove(paths.folder));
}

int platform_create_shortcut(const InstallPaths& paths, std::string& detail) {
  std::error_code error;
  if (!std::filesystem::is_directory(paths.desktop, error)) {
    detail = "no Desktop folder " + paths.desktop;
    return 1;
  }
  if (!interpreter_keeps(paths.shortcut)) {
    detail = interpreter_would_change(paths.shortcut);
    return -1;
  }
  const int status = run_command_line(install_command_shortcut(paths.shortcut, paths.program, paths.folder));
  if (!is_file(paths.shortcut)) {
    detail = powershell_outcome(status) + ", but " + paths.shortcut + " does not exist";
    return -1;
  }
  detail = paths.shortcut;
  return 0;
}

void platform_remove_install_folder(const InstallPaths& paths) {
  // The running program lives in that folder: a second command interpreter
  // removes it after about a second, when this process has exited. A name
  // it would expand could make it remove another folder: not that one.
  if (!interpreter_keeps(paths.folder)) return;
  run_command_line(install_command_deferred_remove(paths.folder));
}

int platform_make_executable(const std::string&) { return 0; }

int platform_replace_executable(const std::string& replacement, const std::string& target,
                                std::string& error) {
  // A running program cannot be overwritten but can be renamed: it is moved
  // aside first and put back when the new one cannot take its place.
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
  // Gone at once unless it is the running program; then the next start of
  // the new one removes it (platform_start_up).
  DeleteFileA(old.c_str());
  return 0;
}

const char* platform_update_asset_name() {
#if defined(__aarch64__) || defined(_M_ARM64)
  return "kvx-windows-arm64.exe";
#else
  return "kvx-windows-x86_64.exe";
#endif
}
