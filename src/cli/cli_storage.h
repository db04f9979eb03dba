// The .kvx workspace: runner queue, history, configuration, active mode,
// modes a and w, and the editor-settings bridge.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

// The workspace's file names, its folder, the logs and the line pieces its
// files are read in.
#include "core/workspace_log.h"
#include "pipeline/run.h"

// ---------------------------------------------------------------------------
// History and configuration

// Appends "[timestamp] kvx <command> <argument>" to .kvx/history.txt; silent,
// and only where the folder exists.
void cli_history_log(const std::string& command, const std::string& argument);
void cli_history_show();
void cli_history_clear();
void cli_config_show();
void cli_config_reset();

// ---------------------------------------------------------------------------
// Runner queue

int is_directory_path(const std::string& path);
void cli_runner_add(const std::string& path);
void cli_runner_rm(const std::string& path);
void cli_runner_ls();
void cli_runner_clear();
// Calls visit(entry) for each non-empty entry of an open queue file, in file
// order, until it returns false. Entries are read in 512-character pieces.
void cli_for_each_queue_entry(std::FILE* queue, const std::function<bool(const std::string&)>& visit);

// ---------------------------------------------------------------------------
// Transpilation modes and the active mode

int cli_execute_with_mode(const std::string& path, const std::string& mode, const RunOptions& options = {});
int run_mode_append(const std::string& path, const RunOptions& options = {});
int run_mode_write_full(const std::string& path, const RunOptions& options = {});
// The old text of a mode-a target followed by the header block and the new
// top-level lines of a fresh generation; `count` receives how many lines were
// added (0 leaves the old text unchanged).
std::string cli_mode_append_merge(std::string_view old_text, std::string_view new_text, int& count);
// "generated/<stem>.ts" for a source path named on its own (the stem cut to
// 255 bytes, as the pipeline writes it).
std::string get_generated_ts_path(const std::string& path);
// The active mode saved in .kvx/mode.txt, its first line cut to 15
// characters; "w" when none is saved.
std::string cli_mode_get();
void cli_mode_set(const std::string& mode);
void cli_mode_show();
void cli_sync_vscode_settings();
