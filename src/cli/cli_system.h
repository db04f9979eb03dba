// Error log, tool probes and environment checks, statistics, and the
// maintenance commands.
#pragma once

#include <string>

#include "platform/platform.h"

// Appends "[timestamp] <message>" to .kvx/errors.txt; silent, and only where
// the folder exists.
void cli_error_log(const std::string& message);
void cli_errors_show();

// Tool probe: runs a fixed command line (such as "node -v") with its standard
// error discarded; 1 when it exited with status 0 and printed a non-empty
// first line, which `answer` then holds (at most size - 1 characters, without
// its line end); else 0.
int cli_check_tool_version(const std::string& command, std::string& answer, int size);
// The same probe for a command given in both platform forms. The Windows
// build runs command_line followed by " 2>nul"; the POSIX build runs argv, or
// the blank-separated words of command_line when argv is empty, never through
// a shell, with standard error discarded. Give argv whenever the command holds
// text that is not fixed.
int cli_probe_command(const PlatformCommand& command, std::string& answer, int size);
// 1 when a file can be created in the folder (it is removed again), else 0.
int cli_check_dir_writable(const std::string& folder);
// 1 when PATH contains "KORVEX", "korvex" or "kvx" anywhere, else 0.
int cli_check_in_path();
// The standard reports of a missing tool; each is also appended to the error
// log.
void cli_print_missing_node_error();
void cli_print_missing_tsc_error();
// The Node.js download page named by the missing-Node.js messages.
const char* cli_node_download_url();

// Counts one file handed to a mode: total, and the mode's own counter when
// the word is "a", "w", "g" or "auto". Creates the workspace folder.
void cli_stats_record(const std::string& mode);
void cli_stats_show();

// Maintenance commands.
void cli_clean_outputs();
void cli_check_update(const std::string& current_version);
void cli_perform_update();
// Install and uninstall return 0 when the footprint is in place (or gone),
// 1 when a step did not take effect; a cancelled uninstall is no failure.
int cli_self_install(const std::string& program_path);
int cli_perform_uninstall();
