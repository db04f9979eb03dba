// Error log, tool probes and environment checks, statistics, and the
// maintenance commands.
#pragma once

#include <string>

#include "platform/platform.h"

// Appends "[timestamp] <message>" to .kvx/errors.txt; silent, and only where
// the folder exists.
void cli_error_log(const std::string& message);
void cli_errors_show();

// Runs a fixed probe command line; 1 when it exited 0 with a non-empty first
// output line, which `answer` then holds (at most size - 1 characters).
int cli_check_tool_version(const std::string& command, std::string& answer, int size);
// The same probe for a command given in both platform forms.
int cli_probe_command(const PlatformCommand& command, std::string& answer, int size);
int cli_check_dir_writable(const std::string& folder);
int cli_check_in_path();
void cli_print_missing_node_error();
void cli_print_missing_tsc_error();

void cli_stats_record(const std::string& mode);
void cli_stats_show();

// Maintenance commands.
void cli_clean_outputs();
void cli_check_update(const std::string& current_version);
void cli_perform_update();
void cli_self_install(const std::string& program_path);
void cli_perform_uninstall();
