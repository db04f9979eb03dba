// The runs of `go` and `run-liste` over the queue and over folders: each
// file of the queue, or found below a folder, handed to the active mode.
#include "cli/cli_batch.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_parallel.h"
#include "cli/cli_project.h"
#include "cli/cli_storage.h"
#include "core/console.h"
#include "core/filesystem.h"
#include "core/reader.h"
#include "pipeline/prefetch.h"
#include "pipeline/project_modules.h"
#include "pipeline/source_messages.h"
#include "platform/platform.h"

namespace {

// Hands one file to a mode and counts it.
void run_counted(const std::string& path, const std::string& mode, int* total, int* succeeded,
                 const RunOptions& options) {
  ++*total;
  if (cli_execute_with_mode(path, mode, options) == 0) ++*succeeded;
}

void print_processing(const std::string& path) {
  std::printf(CLR_CYAN "-> Processing: %s\n" CLR_RESET, path.c_str());
}

enum class FolderScan { found, not_found, cannot_scan };

// The paths of the .js files below `folder`, in scan order, without those of
// node_modules, .kvx and generated; the name check is the caller's.
FolderScan scan_folder(const std::string& folder, std::vector<std::string>& paths) {
  if (!is_directory_path(folder)) return FolderScan::not_found;
  // The Windows scan is formatted into a 512-character command buffer; a path
  // too long for it cannot be scanned. Its output is read in 512-character
  // pieces, like the queue.
  constexpr size_t kCommandBuffer = 512;
  constexpr size_t kFolderScanFrame = 23;  // dir /b /s "<path>\*.js" 2>nul
  constexpr int kLineBuffer = 512;
  std::string listing;
  if (folder.size() + kFolderScanFrame > kCommandBuffer - 1 || platform_scan_js_files(folder, listing) != 0) {
    return FolderScan::cannot_scan;
  }
  size_t pos = 0;
  std::string piece;
  while (workspace_read_piece(listing, pos, kLineBuffer, piece)) {
    std::string path = workspace_cut_line(piece);
    if (path.empty()) continue;
    if (path.find("node_modules") != std::string::npos || path.find(".kvx") != std::string::npos ||
        path.find("generated") != std::string::npos) {
      continue;
    }
    paths.push_back(std::move(path));
  }
  return FolderScan::found;
}

// The files below `folder` that its run will hand to the mode.
void add_folder_files(const std::string& folder, std::vector<std::string>& files) {
  std::vector<std::string> paths;
  if (scan_folder(folder, paths) != FolderScan::found) return;
  for (std::string& path : paths) {
    if (check_js_name(path) == SourceFailure::none) files.push_back(std::move(path));
  }
}

// The files a run of the queue `entries` reaches, each with the folder it
// was found below ("" for a queued file).
std::vector<std::pair<std::string, std::string>> queue_files_with_roots(const std::vector<std::string>& entries) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& entry : entries) {
    if (is_directory_path(entry)) {
      std::vector<std::string> found;
      add_folder_files(entry, found);
      for (std::string& path : found) files.emplace_back(std::move(path), entry);
    } else if (check_js_name(entry) == SourceFailure::none) {
      files.emplace_back(entry, "");
    }
  }
  return files;
}

// The files of `folder` in `mode`, added to the counts; 1 when the folder
// cannot be found or scanned.
int run_directory(const std::string& folder, const std::string& mode, int* total, int* succeeded,
                  const RunOptions& options) {
  std::vector<std::string> paths;
  switch (scan_folder(folder, paths)) {
    case FolderScan::found:
      break;
    case FolderScan::not_found:
      std::printf(CLR_RED "[ERROR] Directory not found: '%s'\n" CLR_RESET, folder.c_str());
      return 1;
    case FolderScan::cannot_scan:
      std::printf(CLR_RED "[ERROR] Unable to scan directory: '%s'\n" CLR_RESET, folder.c_str());
      return 1;
  }
  // The outputs mirror the paths below the folder given.
  RunOptions folder_options = options;
  folder_options.tree_root = folder;
  for (const std::string& path : paths) {
    if (!is_js_file(path)) continue;
    print_processing(path);
    run_counted(path, mode, total, succeeded, folder_options);
  }
  return 0;
}

// The files a run of the queue `entries` will hand to the mode, in order: a
// folder's scan taken now stands for the one its run takes (the modes that
// prefetch write no .js file). Where it differs, the prefetcher only misses.
std::vector<std::string> queue_files(const std::vector<std::string>& entries) {
  std::vector<std::string> files;
  for (const std::string& entry : entries) {
    if (is_directory_path(entry)) {
      add_folder_files(entry, files);
    } else if (check_js_name(entry) == SourceFailure::none) {
      files.push_back(entry);
    }
  }
  return files;
}

}  // namespace

std::unique_ptr<ProjectModules> cli_project_modules(const RunOptions& options, const std::vector<std::string>& files) {
  if (!options.inline_form || files.size() < 2) return nullptr;
  return project_modules_of(files);
}

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
  std::vector<std::string> entries;
  cli_for_each_queue_entry(queue.get(), [&](const std::string& entry) {
    entries.push_back(entry);
    return true;
  });
  queue.reset();
  RunOptions run_options = options;
  const std::unique_ptr<ProjectModules> modules = cli_project_modules(options, queue_files(entries));
  if (modules) run_options.modules = modules.get();
  const std::unique_ptr<TranspilePrefetcher> prefetcher =
      cli_parallel_prefetcher(mode, run_options, [&] { return queue_files(entries); });
  run_options.prefetch = prefetcher.get();
  OutputClaims claims;
  if (run_options.claims == nullptr) run_options.claims = &claims;
  ProjectCheck project;
  project_check_begin(project, mode, run_options, true);
  if (project.active) project_check_preload(project, queue_files_with_roots(entries), run_options.modules);
  for (const std::string& entry : entries) {
    if (is_directory_path(entry)) {
      std::printf(CLR_CYAN "-> Scanning directory: %s\n" CLR_RESET, entry.c_str());
      run_directory(entry, mode, &total, &succeeded, run_options);
    } else {
      print_processing(entry);
      run_counted(entry, mode, &total, &succeeded, run_options);
    }
  }
  project_check_end(project, run_options);
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
  RunOptions run_options = options;
  const std::unique_ptr<ProjectModules> modules = cli_project_modules(options, queue_files(batch));
  if (modules) run_options.modules = modules.get();
  OutputClaims claims;
  if (run_options.claims == nullptr) run_options.claims = &claims;
  ProjectCheck project;
  project_check_begin(project, "auto", run_options, true);
  if (project.active) project_check_preload(project, queue_files_with_roots(batch), run_options.modules);
  for (const std::string& entry : batch) {
    if (is_directory_path(entry)) {
      std::printf(CLR_CYAN "-> Scanning directory: /%s\n" CLR_RESET, entry.c_str());
      cli_runner_run_directory(entry, "auto", &total, &succeeded, run_options);
    } else {
      std::printf(CLR_CYAN "-> Building Safe JS: %s\n" CLR_RESET, entry.c_str());
      run_counted(entry, "auto", &total, &succeeded, run_options);
    }
  }
  project_check_end(project, run_options);
  std::printf(CLR_GREEN "\n[DONE] %d / %d safe JS file(s) built in dist/.\n\n" CLR_RESET, succeeded, total);
  cli_history_log("run-liste", "batch-safe-js");
  return total > 0 && succeeded == total ? 0 : 1;
}

int cli_runner_run_directory(const std::string& folder, const std::string& mode, int* total,
                             int* succeeded, const RunOptions& options) {
  return cli_runner_run_directories({folder}, mode, total, succeeded, options);
}

int cli_runner_run_directories(const std::vector<std::string>& folders, const std::string& mode, int* total,
                               int* succeeded, const RunOptions& options) {
  const auto folder_files = [&] {
    std::vector<std::string> files;
    for (const std::string& folder : folders) add_folder_files(folder, files);
    return files;
  };
  RunOptions run_options = options;
  // A queue run has found the project already; a folder given on its own finds it here.
  std::unique_ptr<ProjectModules> modules;
  if (run_options.modules == nullptr) {
    modules = cli_project_modules(options, folder_files());
    if (modules) run_options.modules = modules.get();
  }
  const std::unique_ptr<TranspilePrefetcher> prefetcher = cli_parallel_prefetcher(mode, run_options, folder_files);
  run_options.prefetch = prefetcher.get();
  OutputClaims claims;
  if (run_options.claims == nullptr) run_options.claims = &claims;
  ProjectCheck project;
  project_check_begin(project, mode, run_options, true);
  if (project.active) project_check_preload(project, queue_files_with_roots(folders), run_options.modules);
  int status = 0;
  for (const std::string& folder : folders) {
    if (run_directory(folder, mode, total, succeeded, run_options) != 0) status = 1;
  }
  project_check_end(project, run_options);
  return status;
}
