#include "cli/cli_storage.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <new>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "cli/cli_parallel.h"
#include "cli/cli_system.h"
#include "core/console.h"
#include "core/filesystem.h"
#include "core/reader.h"
#include "core/run.h"
#include "platform/platform.h"
#include "tsx/tsc_compiler.h"

namespace {

// Line buffers of the queue, of folder-scan output and of the history and
// configuration displays; a longer line is read as several pieces.
constexpr int kLineBuffer = 512;
constexpr int kModeBuffer = 16;
// The Windows folder test and scan are formatted into 512-character command
// buffers; a path too long for them cannot be tested or scanned.
constexpr size_t kCommandBuffer = 512;
constexpr size_t kFolderTestFrame = 22;  // if exist "<path>\*" echo DIR
constexpr size_t kFolderScanFrame = 23;  // dir /b /s "<path>\*.js" 2>nul
constexpr size_t kTargetBuffer = 512;

constexpr const char* kConfigDefaults = "output_dir=generated\nstrict_mode=true\nauto_compile_tsc=false\n";
constexpr const char* kAppendHeader = "\n// --- Incremental updates (Mode A) ---\n";
constexpr const char* kAppendPrefixes[] = {"declare ", "interface ", "function ", "export "};

// Prints every piece of an open file as "  %s"; false when there was none.
bool print_pieces(std::FILE* file, int size) {
  bool any = false;
  std::string piece;
  while (cli_read_piece(file, size, piece)) {
    std::printf("  %s", piece.c_str());
    any = true;
  }
  return any;
}

// The file name after the last / or \, whichever stands later.
std::string_view base_name(std::string_view path) {
  const size_t separator = path.find_last_of("/\\");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// Calls visit(entry) for each non-empty queue entry of an open queue file, in
// file order, until it returns false.
template <typename Visit>
void for_each_entry(std::FILE* queue, Visit visit) {
  std::string piece;
  while (cli_read_piece(queue, kLineBuffer, piece)) {
    const std::string entry = cli_cut_line(piece);
    if (entry.empty()) continue;
    if (!visit(entry)) return;
  }
}

bool workspace_exists() {
  std::error_code error;
  return std::filesystem::is_directory(KVX_DIR, error);
}

// Hands one file to a mode and counts it.
void run_counted(const std::string& path, const std::string& mode, int* total, int* succeeded) {
  ++*total;
  if (cli_execute_with_mode(path, mode) == 0) ++*succeeded;
}

// is_directory_path answers for these names without the file system.
bool named_as_file(const std::string& path) { return path.size() >= 3 && path.ends_with(".js"); }

// is_js_file's rule, without its message.
bool passes_js_name_check(const std::string& path) {
  return !(path.size() > 5 && path.ends_with(".js.js")) && path.size() > 2 && path.ends_with(".js");
}

int run_directory(const std::string& folder, int* total, int* succeeded, FileRunPool& pool);

}  // namespace

// ---------------------------------------------------------------------------
// Helpers

FilePtr cli_open(const char* path, const char* mode) { return FilePtr(std::fopen(path, mode)); }

bool cli_read_piece(std::FILE* file, int size, std::string& piece) {
  piece.clear();
  int c = 0;
  while (piece.size() + 1 < static_cast<size_t>(size) && (c = std::getc(file)) != EOF) {
    piece.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !piece.empty();
}

bool cli_read_piece(std::string_view text, size_t& pos, int size, std::string& piece) {
  piece.clear();
  while (piece.size() + 1 < static_cast<size_t>(size) && pos < text.size()) {
    const char c = text[pos++];
    piece.push_back(c);
    if (c == '\n') break;
  }
  return !piece.empty();
}

std::string cli_cut_line(std::string_view text) {
  return std::string(text.substr(0, text.find_first_of("\r\n")));
}

std::string cli_timestamp() {
  const std::time_t now = std::time(nullptr);
  const std::tm* local = std::localtime(&now);
  char buffer[64];
  if (local == nullptr || std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", local) == 0) {
    return std::string();
  }
  return buffer;
}

bool cli_read_text_file(const std::string& path, std::string& text) {
  text.clear();
  FilePtr file = cli_open(path.c_str(), "r");
  if (!file) return false;
  char buffer[65536];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);
  return std::ferror(file.get()) == 0;
}

bool cli_replace_text_file(const std::string& path, std::string_view text, bool report) {
  std::string reason;
  if (replace_file_text(path, text, reason)) return true;
  if (report) print_write_failure(path, reason);
  return false;
}

std::string cli_one_line(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (char c : text) {
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\r') {
      line += "\\r";
    } else {
      line += c;
    }
  }
  return line;
}

void cli_append_log(const char* path, const std::string& text) {
  // The logs are written only where the workspace already exists.
  if (!workspace_exists()) return;
  std::string reason;
  if (!append_file_text(path, text, reason)) print_write_failure(path, reason);
}

// ---------------------------------------------------------------------------
// Workspace folder, history and configuration

void ensure_kvx_dir() {
  std::error_code error;
  std::filesystem::create_directory(KVX_DIR, error);
}

void cli_history_log(const std::string& command, const std::string& argument) {
  // A line break in a path would forge a line of its own.
  cli_append_log(KVX_HISTORY_PATH,
                 "[" + cli_timestamp() + "] kvx " + cli_one_line(command) + " " + cli_one_line(argument) + "\n");
}

void cli_show_log(const char* path, const char* heading, const char* empty, int piece_size) {
  FilePtr file = cli_open(path, "r");
  std::fputs(heading, stdout);
  if (!file) {
    std::printf("%s\n\n", empty);
    return;
  }
  if (!print_pieces(file.get(), piece_size)) std::printf("%s\n", empty);
  std::printf("\n");
}

void cli_history_show() {
  cli_show_log(KVX_HISTORY_PATH, CLR_CYAN "\n=== KVX Command History ===\n" CLR_RESET, "  (History is empty)",
               kLineBuffer);
}

void cli_history_clear() {
  // Without a workspace there is nothing to clear; a history that cannot be
  // emptied must not be reported as cleared.
  if (workspace_exists() && !cli_replace_text_file(KVX_HISTORY_PATH, "")) return;
  std::printf(CLR_GREEN "[OK] History cleared.\n" CLR_RESET);
}

void cli_config_reset() {
  // Without a workspace nothing is created; a reset that was not saved is
  // not confirmed.
  if (workspace_exists() && !cli_replace_text_file(KVX_CONFIG_PATH, kConfigDefaults)) return;
  std::printf(CLR_GREEN "[OK] Configuration reset to defaults.\n" CLR_RESET);
}

void cli_config_show() {
  FilePtr file = cli_open(KVX_CONFIG_PATH, "r");
  if (!file) {
    cli_config_reset();
    file = cli_open(KVX_CONFIG_PATH, "r");
  }
  std::printf(CLR_CYAN "\n=== KORVEX Configuration ===\n" CLR_RESET);
  if (file) print_pieces(file.get(), kLineBuffer);
  std::printf("\n");
}

// ---------------------------------------------------------------------------
// Transpilation modes and the active mode

int cli_execute_with_mode(const std::string& path, const std::string& mode) {
  cli_stats_record(mode);
  if (mode == "a") return run_mode_append(path);
  if (mode == "g") return tsc_compile_to_dist(path);
  if (mode == "auto") return tsx_run_full_pipeline(path);
  return run_mode_write_full(path);  // "w" and any other word
}

std::string get_generated_ts_path(const std::string& path) {
  std::string name(base_name(path).substr(0, kTargetBuffer - 1));
  if (name.size() > 3 && name.ends_with(".js")) name.resize(name.size() - 3);
  std::string target = "generated/" + name + ".ts";
  if (target.size() > kTargetBuffer - 1) target.resize(kTargetBuffer - 1);
  return target;
}

int run_mode_write_full(const std::string& path) {
  const std::string target = get_generated_ts_path(path);
  // Deleted before the source is checked: a bad source leaves no stale output.
  std::remove(target.c_str());
  std::printf(CLR_CYAN "[MODE W] Rebuilding %s completely...\n" CLR_RESET, target.c_str());
  return run_transpile_single_file(path);
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

int run_mode_append(const std::string& path) {
  const std::string target = get_generated_ts_path(path);
  std::string old_text;
  bool old_held = true;
  {
    FilePtr probe = cli_open(target.c_str(), "r");
    if (!probe) {
      std::printf(CLR_YELLOW "[MODE A] Target TS not found. Switching to full rebuild (W).\n" CLR_RESET);
      return run_mode_write_full(path);
    }
  }
  try {
    cli_read_text_file(target, old_text);
  } catch (const std::bad_alloc&) {
    old_held = false;
  }

  const int status = run_transpile_single_file(path);
  if (status != 0) return status;

  std::string new_text;
  try {
    if (!cli_read_text_file(target, new_text)) return 1;
    // Without both texts the target keeps the fresh generation.
    if (!old_held) return 0;
    int count = 0;
    const std::string merged = cli_mode_append_merge(old_text, new_text, count);
    // Written beside the target and renamed over it: the target is either the
    // fresh generation or the merged text, never half of it. The old text is
    // then lost from the target, so the run failed.
    if (!cli_replace_text_file(target, merged)) return 1;
    std::printf(CLR_GREEN "[MODE A] Added %d new signature(s) to %s\n" CLR_RESET, count, target.c_str());
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return 0;
}

std::string cli_mode_get(int size) {
  FilePtr file = cli_open(KVX_MODE_PATH, "r");
  if (!file) return "w";
  std::string piece;
  if (!cli_read_piece(file.get(), size, piece)) return "w";
  return cli_cut_line(piece);
}

void cli_mode_set(const std::string& mode) {
  if (mode != "a" && mode != "w" && mode != "g" && mode != "auto") {
    std::printf(CLR_RED "[ERROR] Unknown mode '%s'. Available modes: a, w, g, auto\n" CLR_RESET, mode.c_str());
    return;
  }
  ensure_kvx_dir();
  if (!cli_replace_text_file(KVX_MODE_PATH, mode + "\n", false)) {
    std::printf(CLR_RED "[ERROR] Unable to save active mode.\n" CLR_RESET);
    return;
  }
  if (cli_open(KVX_VSCODE_PATH, "r") &&
      !cli_replace_text_file(KVX_VSCODE_PATH, "{\n  \"KORVEX.mode\": \"" + mode + "\"\n}\n")) {
    return;
  }
  std::printf(CLR_GREEN "[OK] Active mode saved: " CLR_CYAN "%s\n" CLR_RESET, mode.c_str());
  cli_history_log("mode", mode);
}

void cli_mode_show() {
  const std::string mode = cli_mode_get(kModeBuffer);
  std::printf(CLR_CYAN "\n=== Active Transpilation Mode ===\n" CLR_RESET);
  std::printf("  Current mode : " CLR_GREEN "%s" CLR_RESET "\n", mode.c_str());
  std::printf("  (Use 'kvx mode <a|w|g|auto>' to change)\n\n");
}

void cli_sync_vscode_settings() {
  std::string text;
  {
    FilePtr file = cli_open(KVX_VSCODE_PATH, "r");
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
      std::string saved;
      if (mode != nullptr && !(cli_read_text_file(KVX_MODE_PATH, saved) && saved == std::string(mode) + "\n")) {
        ensure_kvx_dir();
        cli_replace_text_file(KVX_MODE_PATH, std::string(mode) + "\n");
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
  if (FilePtr queue = cli_open(KVX_FILES_PATH, "r")) {
    bool listed = false;
    for_each_entry(queue.get(), [&](const std::string& entry) {
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
    FilePtr queue = cli_open(KVX_FILES_PATH, "r");
    if (!queue) {
      std::printf(CLR_YELLOW "[INFO] The list is already empty.\n" CLR_RESET);
      return;
    }
    for_each_entry(queue.get(), [&](const std::string& entry) {
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
  if (!cli_replace_text_file(KVX_FILES_PATH, text, false)) {
    std::printf(CLR_RED "[ERROR] Unable to open runner database.\n" CLR_RESET);
    return;
  }
  std::printf(CLR_GREEN "[OK] File removed: " CLR_RESET "%s\n", path.c_str());
  cli_history_log("rm", path);
}

void cli_runner_ls() {
  const std::string mode = cli_mode_get(kModeBuffer);
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
  FilePtr queue = cli_open(KVX_FILES_PATH, "r");
  if (!queue) {
    std::printf("  (No files registered)\n\n");
    return;
  }
  int number = 0;
  for_each_entry(queue.get(), [&](const std::string& entry) {
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
  if (!cli_open(KVX_FILES_PATH, "w")) {
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

int cli_runner_go() {
  FilePtr queue = cli_open(KVX_FILES_PATH, "r");
  if (!queue) {
    std::printf(CLR_YELLOW "[INFO] No files registered. Use 'kvx add <file.js>' first.\n" CLR_RESET);
    return 1;
  }
  const std::string mode = cli_mode_get(kModeBuffer);
  int total = 0;
  int succeeded = 0;
  std::printf(CLR_CYAN "\n=== Running KVX Code Runner (mode: %s) ===\n\n" CLR_RESET, mode.c_str());
  FileRunPool pool(mode);
  for_each_entry(queue.get(), [&](const std::string& entry) {
    // A folder test sees what the earlier files have written, as in a run in
    // order.
    if (!named_as_file(entry)) pool.drain();
    if (is_directory_path(entry)) {
      std::printf(CLR_CYAN "-> Scanning directory: %s\n" CLR_RESET, entry.c_str());
      run_directory(entry, &total, &succeeded, pool);
    } else {
      pool.run(entry, &total, &succeeded);
    }
    return true;
  });
  pool.drain();
  queue.reset();
  if (total == 0) {
    std::printf(CLR_YELLOW "[INFO] Runner list is empty.\n\n" CLR_RESET);
    return 1;
  }
  std::printf(CLR_GREEN "\n[DONE] %d / %d file(s) transpiled successfully.\n\n" CLR_RESET, succeeded, total);
  cli_history_log("go", "runner-list");
  return succeeded == total ? 0 : 1;
}

int cli_runner_go_safe_js() {
  constexpr size_t kBatchTable = 256;
  std::vector<std::string> batch;
  {
    FilePtr queue = cli_open(KVX_FILES_PATH, "r");
    if (!queue) {
      std::printf(CLR_YELLOW "[INFO] No files in runner list. Use 'kvx add <file.js|dir>' first.\n" CLR_RESET);
      return 1;
    }
    for_each_entry(queue.get(), [&](const std::string& entry) {
      batch.push_back(entry);
      return batch.size() < kBatchTable;
    });
  }
  if (batch.empty()) {
    std::printf(CLR_YELLOW "[INFO] Runner list is empty.\n" CLR_RESET);
    return 1;
  }
  std::printf(CLR_CYAN "\n=== Running KVX Safe JS Batch Pipeline (list -> dist/*.js) ===\n\n" CLR_RESET);
  int total = 0;
  int succeeded = 0;
  for (const std::string& entry : batch) {
    if (is_directory_path(entry)) {
      std::printf(CLR_CYAN "-> Scanning directory: /%s\n" CLR_RESET, entry.c_str());
      cli_runner_run_directory(entry, "auto", &total, &succeeded);
    } else {
      std::printf(CLR_CYAN "-> Building Safe JS: %s\n" CLR_RESET, entry.c_str());
      run_counted(entry, "auto", &total, &succeeded);
    }
  }
  std::printf(CLR_GREEN "\n[DONE] %d / %d safe JS file(s) built in dist/.\n\n" CLR_RESET, succeeded, total);
  cli_history_log("run-liste", "batch-safe-js");
  return total > 0 && succeeded == total ? 0 : 1;
}

int cli_runner_run_directory(const std::string& folder, const std::string& mode, int* total,
                             int* succeeded) {
  FileRunPool pool(mode);
  return run_directory(folder, total, succeeded, pool);
}

namespace {

// The folder step with the files handed to `pool`; the caller has drained it.
int run_directory(const std::string& folder, int* total, int* succeeded, FileRunPool& pool) {
  if (!is_directory_path(folder)) {
    std::printf(CLR_RED "[ERROR] Directory not found: '%s'\n" CLR_RESET, folder.c_str());
    return 1;
  }
  std::string listing;
  if (folder.size() + kFolderScanFrame > kCommandBuffer - 1 || platform_scan_js_files(folder, listing) != 0) {
    std::printf(CLR_RED "[ERROR] Unable to scan directory: '%s'\n" CLR_RESET, folder.c_str());
    return 1;
  }
  size_t pos = 0;
  std::string piece;
  while (cli_read_piece(listing, pos, kLineBuffer, piece)) {
    const std::string path = cli_cut_line(piece);
    if (path.empty()) continue;
    if (path.find("node_modules") != std::string::npos || path.find(".kvx") != std::string::npos ||
        path.find("generated") != std::string::npos) {
      continue;
    }
    if (!passes_js_name_check(path)) {
      // Its rejection is printed at once: the earlier files' lines go first.
      pool.drain();
      is_js_file(path);
      continue;
    }
    pool.run(path, total, succeeded);
  }
  return 0;
}

}  // namespace
