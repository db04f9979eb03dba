// The .kvx workspace: folder, runner queue, history, configuration, active
// mode, modes a and w, and the editor-settings bridge.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "core/run.h"

// ---------------------------------------------------------------------------
// Workspace files

inline constexpr const char* KVX_DIR = ".kvx";
inline constexpr const char* KVX_FILES_PATH = ".kvx/files.txt";
inline constexpr const char* KVX_HISTORY_PATH = ".kvx/history.txt";
inline constexpr const char* KVX_CONFIG_PATH = ".kvx/config.txt";
inline constexpr const char* KVX_MODE_PATH = ".kvx/mode.txt";
inline constexpr const char* KVX_VSCODE_PATH = ".kvx/vscode.json";
inline constexpr const char* KVX_ERRORS_PATH = ".kvx/errors.txt";
inline constexpr const char* KVX_STATS_PATH = ".kvx/stats.txt";

// Helpers shared by the front-end modules.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a workspace file in text mode; null when it cannot be opened.
FilePtr cli_open(const char* path, const char* mode);

// Reads the next piece of a text stream the way a line buffer of `size`
// characters does: up to the next line feed (kept) or size - 1 characters,
// whichever comes first. False at the end of the stream.
bool cli_read_piece(std::FILE* file, int size, std::string& piece);
// The same over a text; `pos` moves past the piece.
bool cli_read_piece(std::string_view text, size_t& pos, int size, std::string& piece);
// The text up to its first carriage return or line feed.
std::string cli_cut_line(std::string_view text);

// Shows a log file of the workspace: the heading, then each piece of at most
// piece_size - 1 characters indented by two blanks, or `empty` when the file
// is missing or holds nothing; then an empty line.
void cli_show_log(const char* path, const char* heading, const char* empty, int piece_size);

// Local time as "%Y-%m-%d %H:%M:%S".
std::string cli_timestamp();

// Reads a whole file as text; false when it cannot be opened or read.
bool cli_read_text_file(const std::string& path, std::string& text);
// Replaces a file by `text`, written in text mode to a temporary file beside
// it and renamed over it, so the file is never left half-written. False when
// nothing was replaced; `report` prints the red write failure first.
bool cli_replace_text_file(const std::string& path, std::string_view text, bool report = true);
// `text` with each carriage return and line feed written as "\r" and "\n",
// so that it stays one line of a log.
std::string cli_one_line(std::string_view text);
// Appends `text` to a workspace log (history, errors) where the workspace
// folder exists; silent without it. A failed append is reported in red and
// leaves the log as it was.
void cli_append_log(const char* path, const std::string& text);

// ---------------------------------------------------------------------------
// Workspace folder, history and configuration

// Creates .kvx in the working directory; an existing folder or a failure is
// ignored.
void ensure_kvx_dir();

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
int cli_runner_go(const RunOptions& options = {});
int cli_runner_go_safe_js(const RunOptions& options = {});
int cli_runner_run_directory(const std::string& folder, const std::string& mode, int* total,
                             int* succeeded, const RunOptions& options = {});

// ---------------------------------------------------------------------------
// Transpilation modes and the active mode

int cli_execute_with_mode(const std::string& path, const std::string& mode, const RunOptions& options = {});
int run_mode_append(const std::string& path, const RunOptions& options = {});
int run_mode_write_full(const std::string& path, const RunOptions& options = {});
// The old text of a mode-a target followed by the header block and the new
// top-level lines of a fresh generation; `count` receives how many lines were
// added (0 leaves the old text unchanged).
std::string cli_mode_append_merge(std::string_view old_text, std::string_view new_text, int& count);
std::string get_generated_ts_path(const std::string& path);
// The active mode, at most size - 1 characters; "w" when none is saved.
std::string cli_mode_get(int size = 16);
void cli_mode_set(const std::string& mode);
void cli_mode_show();
void cli_sync_vscode_settings();
