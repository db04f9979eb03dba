// The .kvx workspace at its lowest level: the names of its files, its folder,
// the timestamped logs (the error log among them) and how they are shown, the
// line pieces its files are read in, and the standard reports of a missing
// outside tool. Every layer above may log an error through this module.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

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

// Creates .kvx in the working directory; an existing folder or a failure is
// ignored.
void ensure_kvx_dir();
// True when .kvx exists in the working directory.
bool kvx_workspace_exists();

// ---------------------------------------------------------------------------
// Reading in pieces

// Reads the next piece of a text stream the way a line buffer of `size`
// characters does: up to the next line feed (kept) or size - 1 characters,
// whichever comes first. False at the end of the stream.
bool workspace_read_piece(std::FILE* file, int size, std::string& piece);
// The same over a text; `pos` moves past the piece.
bool workspace_read_piece(std::string_view text, size_t& pos, int size, std::string& piece);
// The text up to its first carriage return or line feed.
std::string workspace_cut_line(std::string_view text);
// Prints every piece of an open file as "  <piece>"; false when there was none.
bool workspace_print_pieces(std::FILE* file, int size);

// ---------------------------------------------------------------------------
// Logs

// Local time as "%Y-%m-%d %H:%M:%S".
std::string workspace_timestamp();
// `text` with each carriage return and line feed written as "\r" and "\n",
// so that it stays one line of a log.
std::string workspace_one_line(std::string_view text);
// Appends `text` to a workspace log (history, errors) where the workspace
// folder exists; silent without it. A failed append is reported in red and
// leaves the log as it was.
void workspace_append_log(const char* path, const std::string& text);
// Appends "[timestamp] <message>" to .kvx/errors.txt; silent, and only where
// the folder exists.
void cli_error_log(const std::string& message);

// Shows a log file of the workspace: the heading, then each piece of at most
// piece_size - 1 characters indented by two blanks, or `empty` when the file
// is missing or holds nothing; then an empty line.
void workspace_show_log(const char* path, const char* heading, const char* empty, int piece_size);

// Replaces a file by `text`, written in text mode to a temporary file beside
// it and renamed over it, so the file is never left half-written. False when
// nothing was replaced; `report` prints the red write failure first.
bool workspace_replace_text_file(const std::string& path, std::string_view text, bool report = true);

// ---------------------------------------------------------------------------
// Missing outside tools

// The standard reports of a missing tool; each is also appended to the error
// log.
void cli_print_missing_node_error();
void cli_print_missing_tsc_error();
// The Node.js download page named by the missing-Node.js messages.
const char* workspace_node_download_url();
