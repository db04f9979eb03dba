#include "cli/cli_system.h"

// ---------------------------------------------------------------------------
// Error log

void cli_error_log(const std::string&) {}
void cli_errors_show() {}

// ---------------------------------------------------------------------------
// Tool probes and environment checks

int cli_check_tool_version(const std::string&, std::string&, int) { return 0; }
int cli_probe_command(const PlatformCommand&, std::string&, int) { return 0; }
int cli_check_dir_writable(const std::string&) { return 0; }
int cli_check_in_path() { return 0; }
void cli_print_missing_node_error() {}
void cli_print_missing_tsc_error() {}

// ---------------------------------------------------------------------------
// Statistics

void cli_stats_record(const std::string&) {}
void cli_stats_show() {}

// ---------------------------------------------------------------------------
// Maintenance commands: clean, check-update, update, install, uninstall

void cli_clean_outputs() {}

void cli_check_update(const std::string&) {}

void cli_perform_update() {}

void cli_self_install(const std::string&) {}

void cli_perform_uninstall() {}
