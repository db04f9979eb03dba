#include "cli/cli_maintenance.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "cli/cli_storage.h"
#include "cli/sha256.h"
#include "cli/version.h"
#include "core/console.h"
#include "core/workspace_log.h"
#include "platform/install.h"
#include "platform/tool_probe.h"

namespace {

#ifndef KVX_UPDATE_BASE_URL
#define KVX_UPDATE_BASE_URL "https://korvex.dev"
#endif

// The update server: the build-time address, or KVX_UPDATE_URL when set. Only
// a plain http(s) address is used: it goes into command lines.
std::optional<std::string> update_base_url() {
  const char* override_url = std::getenv("KVX_UPDATE_URL");
  std::string base = override_url != nullptr && *override_url != '\0' ? override_url : KVX_UPDATE_BASE_URL;
  while (!base.empty() && base.back() == '/') base.pop_back();
  if (!base.starts_with("http://") && !base.starts_with("https://")) return std::nullopt;
  for (char c : base) {
    if (static_cast<unsigned char>(c) <= ' ' || c == '"' || c == '\x7f') return std::nullopt;
  }
  return base;
}

// curl with its options and the address, in both platform forms.
PlatformCommand curl_command(const std::vector<std::string>& options, const std::string& url) {
  PlatformCommand command;
  command.command_line = "curl";
  command.argv.push_back("curl");
  for (const std::string& option : options) {
    command.command_line += " " + option;
    command.argv.push_back(option);
  }
  command.command_line += " \"" + url + "\"";
  command.argv.push_back(url);
  command.discard_stderr = true;
  return command;
}

// The first line of the server's version file, through the tool probe; false
// when the server cannot be asked or gives no answer, with the reason.
bool fetch_latest_version(std::string& latest, std::string& reason) {
  const std::optional<std::string> base = update_base_url();
  if (!base) {
    reason = "the update server's address is not a plain http(s) address.";
    return false;
  }
  const std::string url = *base + "/downloads/version.txt";
  const std::optional<std::string> answer =
      tool_probe_command(curl_command({"-s", "-f", "--max-time", "5"}, url));
  if (!answer) {
    reason = "no answer from " + url + ".";
    return false;
  }
  latest = *answer;
  return true;
}

void print_versions(const std::string& current, const std::string& latest) {
  std::printf("  Current version : %s\n", current.c_str());
  std::printf("  Latest version  : %s\n\n", latest.c_str());
}

// The 64 hexadecimal digits at the start of a checksum file ("<digest>" or
// "<digest>  <file name>", as sha256sum writes it), in lower case.
std::optional<std::string> parse_checksum(const std::string& text) {
  size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos || text.size() - start < 64) return std::nullopt;
  std::string digest = text.substr(start, 64);
  for (char& c : digest) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
  }
  if (start + 64 < text.size() && std::string(" \t\r\n*").find(text[start + 64]) == std::string::npos) {
    return std::nullopt;
  }
  return digest;
}

void report_update_failure(const std::string& reason) {
  std::printf(CLR_RED "[ERROR] Update failed: %s\n" CLR_RESET, reason.c_str());
  std::printf(CLR_YELLOW "        The installed program was not changed.\n\n" CLR_RESET);
  cli_error_log("Update failed: " + reason);
}

void remove_quietly(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

// Copies the program through a temporary file beside the target and puts it
// in place by renaming, so a half-copied program is never installed.
bool install_program_copy(const std::string& source, const std::string& target, std::string& error) {
  const std::string temporary = target + ".new";
  std::error_code failure;
  std::filesystem::copy_file(source, temporary, std::filesystem::copy_options::overwrite_existing,
                             failure);
  if (failure) {
    error = failure.message();
    remove_quietly(temporary);
    return false;
  }
  if (platform_make_executable(temporary) != 0) {
    error = "cannot mark it executable";
    remove_quietly(temporary);
    return false;
  }
  if (platform_replace_executable(temporary, target, error) != 0) {
    remove_quietly(temporary);
    return false;
  }
  return true;
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

}  // namespace

void cli_clean_outputs() {
  std::printf(CLR_CYAN "\nCleaning generated artifacts...\n" CLR_RESET);
  platform_remove_tree("generated");
  platform_remove_tree("dist");
  std::printf(CLR_GREEN "[OK] Folders 'generated/' and 'dist/' removed.\n\n" CLR_RESET);
  cli_history_log("clean", "generated/ & dist/");
}

int cli_check_update(const std::string& current_version) {
  std::printf(CLR_CYAN "\nChecking for KORVEX updates...\n\n" CLR_RESET);
  std::string latest;
  std::string reason;
  if (!fetch_latest_version(latest, reason)) {
    std::printf("  Current version : %s\n", current_version.c_str());
    std::printf(CLR_YELLOW "  Latest version  : (Update server offline or URL not configured yet)\n\n" CLR_RESET);
    // A check that could not be made is no "up to date": scripts see it fail.
    std::printf(CLR_RED "[ERROR] Update check failed: %s\n\n" CLR_RESET, reason.c_str());
    cli_error_log("Update check failed: " + reason);
    return 1;
  }
  print_versions(current_version, latest);
  if (latest != current_version) {
    std::printf(CLR_YELLOW "Update available. Run 'kvx update' to install.\n\n" CLR_RESET);
  } else {
    std::printf(CLR_GREEN "KORVEX is up to date.\n\n" CLR_RESET);
  }
  return 0;
}

// Asks the server for the latest version; when it differs, downloads this
// platform's build and its SHA-256 checksum, and only a build that matches
// its checksum replaces the running program. Any failure leaves the program
// as it was and is reported in red with exit status 1.
int cli_perform_update() {
  std::printf(CLR_CYAN "\nUpdating KORVEX...\n\n" CLR_RESET);
  const std::optional<std::string> base = update_base_url();
  std::string latest;
  std::string reason;
  if (!base || !fetch_latest_version(latest, reason)) {
    report_update_failure("update server offline or URL not configured yet.");
    return 1;
  }
  print_versions(KVX_VERSION, latest);
  if (latest == KVX_VERSION) {
    std::printf(CLR_GREEN "KORVEX is up to date. Nothing to install.\n\n" CLR_RESET);
    return 0;
  }

  const std::string program = platform_executable_path();
  if (program.empty()) {
    report_update_failure("cannot locate the running program.");
    return 1;
  }
  const std::string build_url = *base + "/downloads/" + platform_update_asset_name();
  const std::string download = program + ".download";
  {
    // The new build is written beside the program, so that it can be renamed
    // over it; that needs write permission in its folder.
    std::ofstream probe(download, std::ios::binary | std::ios::trunc);
    if (!probe.is_open()) {
      report_update_failure("no write permission for " + download + ".");
      return 1;
    }
  }

  std::printf(CLR_CYAN "[1/3] Downloading %s\n" CLR_RESET, build_url.c_str());
  std::fflush(stdout);
  const int fetched = platform_run_wait(
      curl_command({"-s", "-f", "-L", "--max-time", "600", "-o", download}, build_url));
  if (fetched != 0) {
    remove_quietly(download);
    report_update_failure("cannot download " + build_url + " (curl exit code " +
                          std::to_string(fetched) + ").");
    return 1;
  }
  std::string checksum_text;
  const int checked = platform_run_read(
      curl_command({"-s", "-f", "-L", "--max-time", "60"}, build_url + ".sha256"), checksum_text);
  const std::optional<std::string> expected = checked == 0 ? parse_checksum(checksum_text) : std::nullopt;
  if (!expected) {
    remove_quietly(download);
    report_update_failure(checked != 0 ? "cannot download " + build_url + ".sha256 (curl exit code " +
                                             std::to_string(checked) + ")."
                                       : "no SHA-256 checksum in " + build_url + ".sha256.");
    return 1;
  }

  std::printf(CLR_CYAN "[2/3] Verifying SHA-256 checksum\n" CLR_RESET);
  const std::optional<std::string> actual = sha256_file_hex(download);
  if (!actual || *actual != *expected) {
    remove_quietly(download);
    report_update_failure("checksum mismatch for " + build_url + " (expected " + *expected +
                          ", got " + actual.value_or("nothing") + ").");
    return 1;
  }

  std::printf(CLR_CYAN "[3/3] Replacing %s\n" CLR_RESET, program.c_str());
  std::string error;
  if (platform_make_executable(download) != 0) error = "cannot mark " + download + " executable";
  if (error.empty() && platform_replace_executable(download, program, error) == 0) {
    std::printf(CLR_GREEN "\n[OK] KORVEX %s installed: %s (was %s).\n\n" CLR_RESET, latest.c_str(),
                program.c_str(), KVX_VERSION);
    return 0;
  }
  remove_quietly(download);
  report_update_failure("cannot replace " + program + ": " + error + ".");
  return 1;
}

int cli_self_install(const std::string& program_path) {
  std::printf(CLR_CYAN "\n=== KORVEX Installer ===\n\n" CLR_RESET);
  InstallPaths paths;
  if (!platform_install_paths(paths)) {
    std::printf(CLR_RED "[ERROR] Unable to locate %s.\n\n" CLR_RESET, platform_home_variable());
    return 1;
  }

  // The running program is the one to copy; the path as invoked is only the
  // fallback, since a bare "kvx" found on the PATH names no file here.
  std::string source = platform_executable_path();
  if (source.empty()) source = program_path;
  std::error_code error;
  std::filesystem::create_directories(paths.folder, error);
  std::string failure;
  if (same_file(source, paths.program)) {
    std::printf(CLR_GREEN "[1/3] Program already installed: %s\n" CLR_RESET, paths.program.c_str());
  } else if (install_program_copy(source, paths.program, failure)) {
    std::printf(CLR_GREEN "[1/3] Installed program: %s\n" CLR_RESET, paths.program.c_str());
  } else {
    std::printf(CLR_RED "[ERROR] Cannot copy %s to %s: %s\n\n" CLR_RESET, source.c_str(),
                paths.program.c_str(), failure.c_str());
    cli_error_log("Install failed: cannot copy the program to " + paths.program);
    return 1;
  }

  // Each step is judged by the footprint it leaves, not by what the command
  // behind it answered.
  bool complete = true;
  std::string detail;
  if (platform_user_path_add(paths, detail) == 0) {
    std::printf(CLR_GREEN "[2/3] %s is on your %s (%s).\n" CLR_RESET, paths.folder.c_str(),
                platform_user_path_label(), detail.c_str());
  } else {
    std::printf(CLR_RED "[2/3] Could not add %s to your %s: %s\n" CLR_RESET, paths.folder.c_str(),
                platform_user_path_label(), detail.c_str());
    cli_error_log("Install: " + detail);
    complete = false;
  }

  int shortcut = platform_create_shortcut(paths, detail);
  if (shortcut == 0 && !std::filesystem::is_regular_file(paths.shortcut, error)) {
    detail = paths.shortcut + " does not exist";
    shortcut = -1;
  }
  if (shortcut == 0) {
    std::printf(CLR_GREEN "[3/3] Created Desktop shortcut: %s\n" CLR_RESET, paths.shortcut.c_str());
  } else if (shortcut > 0) {
    std::printf(CLR_YELLOW "[3/3] Desktop shortcut skipped: %s\n" CLR_RESET, detail.c_str());
  } else {
    std::printf(CLR_RED "[3/3] Could not create the Desktop shortcut: %s\n" CLR_RESET, detail.c_str());
    cli_error_log("Install: " + detail);
    complete = false;
  }
  if (!complete) {
    std::printf(CLR_RED "\n[ERROR] KORVEX is not fully installed: see the steps in red above.\n\n" CLR_RESET);
    return 1;
  }
  std::printf(CLR_GREEN "\nKORVEX is installed. Open a new terminal to use 'kvx' from anywhere.\n\n" CLR_RESET);
  return 0;
}

int cli_perform_uninstall() {
  std::printf(CLR_CYAN "\n=== KORVEX Cross-Platform Uninstaller ===\n\n" CLR_RESET);
  std::printf(CLR_YELLOW "[WARNING] This will remove KORVEX from your system, clean your PATH, and "
                         "delete shortcuts.\n" CLR_RESET);
  std::printf("Continue? [Y/N] ");
  std::fflush(stdout);

  char answer[16];
  if (std::fgets(answer, sizeof answer, stdin) == nullptr || (answer[0] != 'y' && answer[0] != 'Y')) {
    std::printf("\nUninstallation cancelled.\n\n");
    return 0;
  }

  InstallPaths paths;
  if (!platform_install_paths(paths)) {
    std::printf(CLR_RED "[ERROR] Unable to locate %s.\n\n" CLR_RESET, platform_home_variable());
    return 1;
  }

  if (std::remove(paths.shortcut.c_str()) == 0) {
    std::printf(CLR_GREEN "[1/3] Removed Desktop shortcut.\n" CLR_RESET);
  } else {
    std::printf("[1/3] Desktop shortcut already removed.\n");
  }

  std::fflush(stdout);
  platform_user_path_remove(paths);
  // The command behind the removal may not have run at all (no PowerShell):
  // the PATH itself says whether the entry is gone.
  const int holds = platform_user_path_holds(paths);
  if (holds == 0) {
    std::printf(CLR_GREEN "[2/3] Cleaned KORVEX from %s.\n" CLR_RESET, platform_user_path_label());
  } else {
    const std::string reason = holds > 0 ? paths.folder + " is still on it" : "it cannot be read";
    std::printf(CLR_RED "[2/3] Could not clean KORVEX from %s: %s.\n" CLR_RESET, platform_user_path_label(),
                reason.c_str());
    cli_error_log("Uninstall: could not clean the " + std::string(platform_user_path_label()) + ": " + reason);
  }

  std::printf(CLR_GREEN "[3/3] Removing installation folder: %s\n" CLR_RESET, paths.folder.c_str());
  if (holds == 0) {
    std::printf(CLR_GREEN "\nKORVEX has been uninstalled. Restart your terminal to apply PATH "
                          "changes.\n\n" CLR_RESET);
  } else {
    std::printf(CLR_RED "\n[ERROR] KORVEX is not fully uninstalled: take %s off your %s by hand, then "
                        "restart your terminal.\n\n" CLR_RESET,
                paths.folder.c_str(), platform_user_path_label());
  }
  std::fflush(stdout);
  platform_remove_install_folder(paths);
  return holds == 0 ? 0 : 1;
}
