// POSIX implementation of the installation footprint: $HOME/KORVEX/kvx, one
// marked line in the user's shell profile, $HOME/Desktop/KORVEX.desktop.
#include "platform/install.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include "core/filesystem.h"

namespace {

namespace fs = std::filesystem;

// The one line install adds to the shell profile and uninstall takes out again,
// matched whole. $HOME keeps it free of any quoting of the folder's name.
constexpr std::string_view kProfileLine =
    "export PATH=\"$HOME/KORVEX:$PATH\" # KORVEX: added by 'kvx install', removed by 'kvx uninstall'";

// Every profile install may have written to, depending on the login shell.
constexpr const char* kProfileNames[] = {".profile", ".bashrc", ".zshrc", ".bash_profile"};

std::string profile_for_shell(const InstallPaths& paths) {
  const char* shell = std::getenv("SHELL");
  const std::string name = shell == nullptr ? "" : fs::path(shell).filename().string();
  if (name == "zsh") return paths.home + "/.zshrc";
  if (name == "bash") return paths.home + "/.bashrc";
  return paths.home + "/.profile";
}

// The lines of a text with their line ends; a last line without one too.
std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

bool is_profile_line(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line == kProfileLine;
}

// A desktop-entry Exec argument: quoted, with the characters that are special
// inside the quotes escaped, then the backslashes of that escaped again as the
// file format asks; % starts a field code and is doubled.
std::string desktop_exec_argument(const std::string& argument) {
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  std::string escaped;
  for (char c : quoted) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '%') {
      escaped += "%%";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace

const char* platform_home_variable() { return "HOME"; }

bool platform_install_paths(InstallPaths& paths) {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return false;
  paths.home = home;
  paths.folder = paths.home + "/KORVEX";
  paths.program = paths.folder + "/kvx";
  paths.desktop = paths.home + "/Desktop";
  paths.shortcut = paths.desktop + "/KORVEX.desktop";
  return true;
}

const char* platform_user_path_label() { return "shell profile PATH"; }

std::string platform_executable_path() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.string();
}

int platform_user_path_add(const InstallPaths& paths, std::string& detail) {
  const std::string profile = profile_for_shell(paths);
  const std::string text = read_file_text(profile, true).value_or("");
  if (!text.empty()) {
    for (std::string_view line : split_lines(text)) {
      if (is_profile_line(line)) {
        detail = "already in " + profile;
        return 0;
      }
    }
  }
  std::ofstream out(profile, std::ios::binary | std::ios::app);
  if (!out.is_open()) {
    detail = "cannot write " + profile;
    return 1;
  }
  if (!text.empty() && text.back() != '\n') out << '\n';
  out << kProfileLine << '\n';
  out.close();
  if (!out) {
    detail = "cannot write " + profile;
    return 1;
  }
  detail = "added to " + profile;
  return 0;
}

void platform_user_path_remove(const InstallPaths& paths) {
  for (const char* name : kProfileNames) {
    const std::string profile = paths.home + "/" + name;
    const std::optional<std::string> text = read_file_text(profile, true);
    if (!text) continue;
    std::string kept;
    bool found = false;
    for (std::string_view line : split_lines(*text)) {
      if (is_profile_line(line)) {
        found = true;
      } else {
        kept += line;
      }
    }
    // Written beside the profile and renamed over it, keeping its
    // permissions; a profile that is a link is rewritten where it points.
    std::string reason;
    if (found) replace_file_text(profile, kept, reason, true);
  }
}

int platform_create_shortcut(const InstallPaths& paths, std::string& detail) {
  std::error_code error;
  // A desktop folder is not created where there is none (a server, a
  // localised desktop name): the shortcut is a convenience, not a need.
  if (!fs::is_directory(paths.desktop, error)) {
    detail = "no Desktop folder " + paths.desktop;
    return 1;
  }
  if (paths.program.find_first_of("\r\n") != std::string::npos) {
    detail = "the program path holds a line break";
    return -1;
  }
  // A terminal that shows the help and stays open with the user's shell.
  const std::string exec = "sh -c " +
                           desktop_exec_argument("\"$0\" help; exec \"${SHELL:-/bin/sh}\"") + " " +
                           desktop_exec_argument(paths.program);
  const std::string entry =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=KORVEX\n"
      "Comment=JavaScript to TypeScript transpiler (kvx)\n"
      "Exec=" + exec + "\n"
      "Terminal=true\n"
      "Categories=Development;\n";
  {
    std::ofstream out(paths.shortcut, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) {
      detail = "cannot write " + paths.shortcut;
      return -1;
    }
    out << entry;
    out.close();
    if (!out) {
      detail = "cannot write " + paths.shortcut;
      return -1;
    }
  }
  // File managers start only executable desktop entries.
  platform_make_executable(paths.shortcut);
  detail = paths.shortcut;
  return 0;
}

void platform_remove_install_folder(const InstallPaths& paths) {
  // A running program may be unlinked here, so there is nothing to wait for.
  std::error_code ignored;
  fs::remove_all(paths.folder, ignored);
}

int platform_make_executable(const std::string& path) {
  return ::chmod(path.c_str(), 0755) == 0 ? 0 : 1;
}

int platform_replace_executable(const std::string& replacement, const std::string& target,
                                std::string& error) {
  std::error_code failure;
  fs::rename(replacement, target, failure);
  if (failure) {
    error = failure.message();
    return 1;
  }
  return 0;
}

const char* platform_update_asset_name() {
#if defined(__APPLE__) && defined(__aarch64__)
  return "kvx-macos-arm64";
#elif defined(__APPLE__)
  return "kvx-macos-x86_64";
#elif defined(__aarch64__)
  return "kvx-linux-arm64";
#else
  return "kvx-linux-x86_64";
#endif
}

int platform_user_path_holds(const InstallPaths& paths) {
  for (const char* name : kProfileNames) {
    const std::optional<std::string> text = read_file_text(paths.home + "/" + name, true);
    if (!text) continue;
    for (std::string_view line : split_lines(*text)) {
      if (is_profile_line(line)) return 1;
    }
  }
  return 0;
}
