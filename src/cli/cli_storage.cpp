#include "cli/cli_storage.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <system_error>
#include <unordered_set>
#include <utility>
#include <vector>

#include "cli/cli_system.h"
#include "core/console.h"
#include "core/filesystem.h"
#include "pipeline/run.h"
#include "pipeline/source_messages.h"
#include "platform/platform.h"
#include "tsx/inline_check.h"
#include "tsx/tsc_compiler.h"

namespace {

// Line buffers of the queue, of folder-scan output and of the history and
// configuration displays; a longer line is read as several pieces.
constexpr int kLineBuffer = 512;
// The Windows folder test is formatted into a 512-character command buffer;
// a path too long for it cannot be tested.
constexpr size_t kCommandBuffer = 512;
constexpr size_t kFolderTestFrame = 22;  // if exist "<path>\*" echo DIR

constexpr const char* kConfigDefaults = "output_dir=generated\nstrict_mode=true\nauto_compile_tsc=false\n";
constexpr const char* kAppendHeader = "\n// --- Incremental updates (Mode A) ---\n";
constexpr const char* kAppendPrefixes[] = {"declare ", "interface ", "function ", "export "};


}  // namespace

void cli_for_each_queue_entry(std::FILE* queue, const std::function<bool(const std::string&)>& visit) {
  std::string piece;
  while (workspace_read_piece(queue, kLineBuffer, piece)) {
    const std::string entry = workspace_cut_line(piece);
    if (entry.empty()) continue;
    if (!visit(entry)) return;
  }
}

// ---------------------------------------------------------------------------
// History and configuration

void cli_history_log(const std::string& command, const std::string& argument) {
  // A line break in a path would forge a line of its own.
  workspace_append_log(KVX_HISTORY_PATH,
                 "[" + workspace_timestamp() + "] kvx " + workspace_one_line(command) + " " + workspace_one_line(argument) + "\n");
}

void cli_history_show() {
  workspace_show_log(KVX_HISTORY_PATH, CLR_CYAN "\n=== KVX Command History ===\n" CLR_RESET, "  (History is empty)",
               kLineBuffer);
}

void cli_history_clear() {
  // Without a workspace there is nothing to clear; a history that cannot be
  // emptied must not be reported as cleared.
  if (kvx_workspace_exists() && !workspace_replace_text_file(KVX_HISTORY_PATH, "")) return;
  std::printf(CLR_GREEN "[OK] History cleared.\n" CLR_RESET);
}

void cli_config_reset() {
  // Without a workspace nothing is created; a reset that was not saved is
  // not confirmed.
  if (kvx_workspace_exists() && !workspace_replace_text_file(KVX_CONFIG_PATH, kConfigDefaults)) return;
  std::printf(CLR_GREEN "[OK] Configuration reset to defaults.\n" CLR_RESET);
}

void cli_config_show() {
  FilePtr file = open_file(KVX_CONFIG_PATH, "r");
  if (!file) {
    cli_config_reset();
    file = open_file(KVX_CONFIG_PATH, "r");
  }
  std::printf(CLR_CYAN "\n=== KORVEX Configuration ===\n" CLR_RESET);
  if (file) workspace_print_pieces(file.get(), kLineBuffer);
  std::printf("\n");
}

// ---------------------------------------------------------------------------
// Transpilation modes and the active mode

int cli_execute_with_mode(const std::string& path, const std::string& mode, const RunOptions& options) {
  cli_stats_record(mode);
  // Two inputs of one run never write the same file: the later one is refused.
  if (options.claims != nullptr && !claim_output(*options.claims, path, options.output_of(path))) return 1;
  if (mode == "a") return run_mode_append(path, options);
  if (mode == "g") return tsc_compile_to_dist(path, options);
  if (mode == "auto") {
    // --inline: the inline form, compiled and checked annotation by annotation.
    return options.inline_form ? tsx_run_inline_pipeline(path, options) : tsx_run_full_pipeline(path, options);
  }
  return run_mode_write_full(path, options);  // "w" and any other word
}

std::string get_generated_ts_path(const std::string& path) { return output_path_for(path).ts(); }

int run_mode_write_full(const std::string& path, const RunOptions& options) {
  const std::string target = options.output_of(path).ts();
  // Deleted before the source is checked: a bad source leaves no stale output.
  std::remove(target.c_str());
  std::printf(CLR_CYAN "[MODE W] Rebuilding %s completely...\n" CLR_RESET, target.c_str());
  return run_transpile_single_file(path, options);
}

std::string cli_mode_append_merge(std::string_view old_text, std::string_view new_text, int& count) {
  count = 0;
  std::string merged(old_text);
  // Most candidate lines are unchanged lines of the old text; a set of those
  // answers them without searching the whole old text for each.
  std::unordered_set<std::string_view> old_lines;
  for (size_t pos = 0; pos < old_text.size();) {
    size_t end = old_text.find('\n', pos);
    if (end == std::string_view::npos) end = old_text.size();
    old_lines.insert(old_text.substr(pos, end - pos));
    pos = end + 1;
  }
  for (size_t pos = 0; pos < new_text.size();) {
    size_t end = new_text.find('\n', pos);
    if (end == std::string_view::npos) end = new_text.size();
    const std::string_view piece = new_text.substr(pos, end - pos);
    pos = end + 1;
    if (piece.empty()) continue;
    bool top_level = false;
    for (const char* prefix : kAppendPrefixes) top_level = top_level || piece.starts_with(prefix);
    if (!top_level) continue;
    if (old_lines.contains(piece) || old_text.find(piece) != std::string_view::npos) continue;
    if (count == 0) merged += kAppendHeader;
    merged += piece;
    merged += '\n';
    ++count;
  }
  return merged;
}

int run_mode_append(const std::string& path, const RunOptions& options) {
  const std::string target = options.output_of(path).ts();
  // The inline form is one whole program: appending lines to it would break it.
  if (options.inline_form) {
    std::printf(CLR_YELLOW "[MODE A] --inline writes the whole file: rebuilding %s as mode W does.\n" CLR_RESET,
                target.c_str());
    return run_mode_write_full(path, options);
  }
  std::string old_text;
  bool old_held = true;
  {
    FilePtr probe = open_file(target.c_str(), "r");
    if (!probe) {
      std::printf(CLR_YELLOW "[MODE A] Target TS not found. Switching to full rebuild (W).\n" CLR_RESET);
      return run_mode_write_full(path, options);
    }
  }
  try {
    old_text = read_file_text(target).value_or("");
  } catch (const std::bad_alloc&) {
    old_held = false;
  }

  const int status = run_transpile_single_file(path, options);
  if (status != 0) return status;

  std::string new_text;
  try {
    std::optional<std::string> fresh = read_file_text(target);
    if (!fresh) return 1;
    new_text = std::move(*fresh);
    // Without both texts the target keeps the fresh generation.
    if (!old_held) return 0;
    int count = 0;
    const std::string merged = cli_mode_append_merge(old_text, new_text, count);
    // Written beside the target and renamed over it: the target is either the
    // fresh generation or the merged text, never half of it. The old text is
    // then lost from the target, so the run failed.
    if (!workspace_replace_text_file(target, merged)) return 1;
    std::printf(CLR_GREEN "[MODE A] Added %d new signature(s) to %s\n" CLR_RESET, count, target.c_str());
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return 0;
}

std::string cli_mode_get() {
  // The mode is read into a 16-character buffer: a longer first line is cut
  // to 15 characters.
  constexpr int kModeBuffer = 16;
  FilePtr file = open_file(KVX_MODE_PATH, "r");
  if (!file) return "w";
  std::string piece;
  if (!workspace_read_piece(file.get(), kModeBuffer, piece)) return "w";
  return workspace_cut_line(piece);
}

void cli_mode_set(const std::string& mode) {
  if (mode != "a" && mode != "w" && mode != "g" && mode != "auto") {
    std::printf(CLR_RED "[ERROR] Unknown mode '%s'. Available modes: a, w, g, auto\n" CLR_RESET, mode.c_str());
    return;
  }
  ensure_kvx_dir();
  if (!workspace_replace_text_file(KVX_MODE_PATH, mode + "\n", false)) {
    std::printf(CLR_RED "[ERROR] Unable to save active mode.\n" CLR_RESET);
    return;
  }
  if (open_file(KVX_VSCODE_PATH, "r") &&
      !workspace_replace_text_file(KVX_VSCODE_PATH, "{\n  \"KORVEX.mode\": \"" + mode + "\"\n}\n")) {
    return;
  }
  std::printf(CLR_GREEN "[OK] Active mode saved: " CLR_CYAN "%s\n" CLR_RESET, mode.c_str());
  cli_history_log("mode", mode);
}

void cli_mode_show() {
  const std::string mode = cli_mode_get();
  std::printf(CLR_CYAN "\n=== Active Transpilation Mode ===\n" CLR_RESET);
  std::printf("  Current mode : " CLR_GREEN "%s" CLR_RESET "\n", mode.c_str());
  std::printf("  (Use 'kvx mode <a|w|g|auto>' to change)\n\n");
}

void cli_sync_vscode_settings() {
  std::string text;
  {
    FilePtr file = open_file(KVX_VSCODE_PATH, "r");
    if (!file) return;
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return;
    const long size = std::ftell(file.get());
    if (size <= 0 || size > 65536) return;
    std::rewind(file.get());
    text.assign(static_cast<size_t>(size), '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file.get()));
  }
  // The settings are searched as one C text: a NUL byte ends it.
  text.resize(std::min(text.size(), text.find('\0')));

  const size_t mode_key = text.find("\"KORVEX.mode\"");
  if (mode_key != std::string::npos) {
    const size_t colon = text.find(':', mode_key);
    const size_t quote = colon == std::string::npos ? colon : text.find('"', colon);
    if (quote != std::string::npos) {
      const std::string_view value = std::string_view(text).substr(quote + 1);
      const char* mode = nullptr;
      if (value.starts_with("auto\"")) {
        mode = "auto";
      } else if (value.starts_with("a\"")) {
        mode = "a";
      } else if (value.starts_with("w\"")) {
        mode = "w";
      } else if (value.starts_with("g\"")) {
        mode = "g";
      }
      // Rewritten only when it changes, so a read-only workspace that already
      // holds the editor's mode runs quietly; a change that cannot be saved
      // is reported, as the mode then stays the old one.
      if (mode != nullptr && read_file_text(KVX_MODE_PATH) != std::string(mode) + "\n") {
        ensure_kvx_dir();
        workspace_replace_text_file(KVX_MODE_PATH, std::string(mode) + "\n");
      }
    }
  }

  const size_t logs_key = text.find("\"KORVEX.showAnalyzerLogs\"");
  if (logs_key != std::string::npos) {
    const size_t colon = text.find(':', logs_key);
    if (colon != std::string::npos) {
      const size_t on = text.find("true", colon);
      const size_t off = text.find("false", colon);
      if (on != std::string::npos && on - colon <= 9) {
        g_kvx_verbose = 1;
      } else if (off != std::string::npos && off - colon <= 9) {
        g_kvx_verbose = 0;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Runner queue

int is_directory_path(const std::string& path) {
  // An empty path is no folder: "if exist "\*"" would name the drive root.
  if (path.empty()) return 0;
  if (path.size() >= 3 && path.ends_with(".js")) return 0;
  if (path.size() + kFolderTestFrame > kCommandBuffer - 1) return 0;
  return platform_is_directory(path);
}

void cli_runner_add(const std::string& path) {
  if (!is_directory_path(path) && !is_js_file(path)) return;
  // The queue holds one path per line: a line break would split the name
  // into other entries, which go would then run.
  if (path.find_first_of("\r\n") != std::string::npos) {
    std::printf(CLR_RED "[ERROR] '%s' cannot be queued: its name holds a line break.\n" CLR_RESET, path.c_str());
    return;
  }
  if (FilePtr queue = open_file(KVX_FILES_PATH, "r")) {
    bool listed = false;
    cli_for_each_queue_entry(queue.get(), [&](const std::string& entry) {
      listed = entry == path;
      return !listed;
    });
    if (listed) {
      std::printf(CLR_YELLOW "[INFO] '%s' is already in the list.\n" CLR_RESET, path.c_str());
      return;
    }
  }
  ensure_kvx_dir();
  bool opened = false;
  if (std::string reason; !append_file_text(KVX_FILES_PATH, path + "\n", reason, &opened)) {
    if (!opened) {
      std::printf(CLR_RED "[ERROR] Unable to open runner database.\n" CLR_RESET);
    } else {
      print_write_failure(KVX_FILES_PATH, reason);
    }
    return;
  }
  std::printf(CLR_GREEN "[OK] File added to runner: " CLR_RESET "%s\n", path.c_str());
  cli_history_log("add", path);
}

void cli_runner_rm(const std::string& path) {
  // Every entry that is not removed is kept, however long the queue is.
  std::vector<std::string> kept;
  bool found = false;
  {
    FilePtr queue = open_file(KVX_FILES_PATH, "r");
    if (!queue) {
      std::printf(CLR_YELLOW "[INFO] The list is already empty.\n" CLR_RESET);
      return;
    }
    cli_for_each_queue_entry(queue.get(), [&](const std::string& entry) {
      if (entry == path) {
        found = true;
      } else {
        kept.push_back(entry);
      }
      return true;
    });
  }
  if (!found) {
    std::printf(CLR_YELLOW "[INFO] '%s' was not in the list.\n" CLR_RESET, path.c_str());
    return;
  }
  std::string text;
  for (const std::string& entry : kept) text += entry + "\n";
  // A queue that could not be rewritten still holds the path: say so rather
  // than confirm a removal that did not happen.
  if (!workspace_replace_text_file(KVX_FILES_PATH, text, false)) {
    std::printf(CLR_RED "[ERROR] Unable to open runner database.\n" CLR_RESET);
    return;
  }
  std::printf(CLR_GREEN "[OK] File removed: " CLR_RESET "%s\n", path.c_str());
  cli_history_log("rm", path);
}

void cli_runner_ls() {
  const std::string mode = cli_mode_get();
  const char* label = "Full rebuild";
  if (mode == "a") {
    label = "Fast incremental";
  } else if (mode == "g") {
    label = "Safe JS compile";
  } else if (mode == "auto") {
    label = "Full pipeline";
  }
  std::printf(CLR_CYAN "\n=== Registered Files in KVX Runner ===\n\n" CLR_RESET);
  std::printf("  Active mode : " CLR_GREEN "%s" CLR_RESET " (%s)\n\n", mode.c_str(), label);
  FilePtr queue = open_file(KVX_FILES_PATH, "r");
  if (!queue) {
    std::printf("  (No files registered)\n\n");
    return;
  }
  int number = 0;
  cli_for_each_queue_entry(queue.get(), [&](const std::string& entry) {
    ++number;
    if (is_directory_path(entry)) {
      std::printf("  %d. " CLR_CYAN "/%s\n" CLR_RESET, number, entry.c_str());
    } else {
      std::printf("  %d. %s\n", number, entry.c_str());
    }
    return true;
  });
  if (number == 0) std::printf("  (No files registered)\n");
  std::printf("\n");
}

void cli_runner_clear() {
  if (!open_file(KVX_FILES_PATH, "w")) {
    // Without a queue file the list is empty anyway; an existing queue that
    // cannot be emptied must not be reported as cleared.
    std::error_code error;
    if (std::filesystem::exists(KVX_FILES_PATH, error)) {
      std::printf(CLR_RED "[ERROR] Unable to open runner database.\n" CLR_RESET);
      return;
    }
  }
  std::printf(CLR_GREEN "[OK] Runner list cleared.\n" CLR_RESET);
  cli_history_log("clear", "all");
}
