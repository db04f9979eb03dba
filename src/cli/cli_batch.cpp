// The runs of `go` and `run-liste` over the queue and over folders: each
// file of the queue, or found below a folder, handed to the active mode.
#include "cli/cli_batch.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_parallel.h"
#include "cli/cli_storage.h"
#include "core/console.h"
#include "core/filesystem.h"
#include "core/reader.h"
#include "platform/platform.h"

namespace {

// Hands one file to a mode and counts it.
void run_counted(const std::string& path, const std::string& mode, int* total, int* succeeded,
                 const RunOptions& options) {
  ++*total;
  if (cli_execute_with_mode(path, mode, options) == 0) ++*succeeded;
}

// is_directory_path answers for these names without the file system.
bool named_as_file(const std::string& path) { return path.size() >= 3 && path.ends_with(".js"); }

// is_js_file's rule, without its message.
bool passes_js_name_check(const std::string& path) {
  return !(path.size() > 5 && path.ends_with(".js.js")) && path.size() > 2 && path.ends_with(".js");
}

int run_directory(const std::string& folder, int* total, int* succeeded, FileRunPool& pool);

}  // namespace

int cli_runner_go(const RunOptions& options) {
  FilePtr queue = open_file(KVX_FILES_PATH, "r");
  if (!queue) {
    std::printf(CLR_YELLOW "[INFO] No files registered. Use 'kvx add <file.js>' first.\n" CLR_RESET);
    return 1;
  }
  const std::string mode = cli_mode_get();
  int total = 0;
  int succeeded = 0;
  std::printf(CLR_CYAN "\n=== Running KVX Code Runner (mode: %s) ===\n\n" CLR_RESET, mode.c_str());
  FileRunPool pool(mode, options);
  cli_for_each_queue_entry(queue.get(), [&](const std::string& entry) {
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

int cli_runner_go_safe_js(const RunOptions& options) {
  constexpr size_t kBatchTable = 256;
  std::vector<std::string> batch;
  {
    FilePtr queue = open_file(KVX_FILES_PATH, "r");
    if (!queue) {
      std::printf(CLR_YELLOW "[INFO] No files in runner list. Use 'kvx add <file.js|dir>' first.\n" CLR_RESET);
      return 1;
    }
    cli_for_each_queue_entry(queue.get(), [&](const std::string& entry) {
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
      cli_runner_run_directory(entry, "auto", &total, &succeeded, options);
    } else {
      std::printf(CLR_CYAN "-> Building Safe JS: %s\n" CLR_RESET, entry.c_str());
      run_counted(entry, "auto", &total, &succeeded, options);
    }
  }
  std::printf(CLR_GREEN "\n[DONE] %d / %d safe JS file(s) built in dist/.\n\n" CLR_RESET, succeeded, total);
  cli_history_log("run-liste", "batch-safe-js");
  return total > 0 && succeeded == total ? 0 : 1;
}

int cli_runner_run_directory(const std::string& folder, const std::string& mode, int* total,
                             int* succeeded, const RunOptions& options) {
  FileRunPool pool(mode, options);
  return run_directory(folder, total, succeeded, pool);
}

namespace {

// The folder step with the files handed to `pool`; the caller has drained it.
int run_directory(const std::string& folder, int* total, int* succeeded, FileRunPool& pool) {
  if (!is_directory_path(folder)) {
    std::printf(CLR_RED "[ERROR] Directory not found: '%s'\n" CLR_RESET, folder.c_str());
    return 1;
  }
  // The Windows scan is formatted into a 512-character command buffer; a path
  // too long for it cannot be scanned. Its output is read in 512-character
  // pieces, like the queue.
  constexpr size_t kCommandBuffer = 512;
  constexpr size_t kFolderScanFrame = 23;  // dir /b /s "<path>\*.js" 2>nul
  constexpr int kLineBuffer = 512;
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
