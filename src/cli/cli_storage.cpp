#include "cli/cli_storage.h"

// ---------------------------------------------------------------------------
// Workspace folder, history and configuration

void ensure_kvx_dir() {}
void cli_history_log(const std::string&, const std::string&) {}
void cli_history_show() {}
void cli_history_clear() {}
void cli_config_show() {}
void cli_config_reset() {}

// ---------------------------------------------------------------------------
// Transpilation modes and the active mode

int cli_execute_with_mode(const std::string&, const std::string&) { return 1; }
int run_mode_append(const std::string&) { return 1; }
int run_mode_write_full(const std::string&) { return 1; }
std::string get_generated_ts_path(const std::string&) { return {}; }
std::string cli_mode_get(int) { return "w"; }
void cli_mode_set(const std::string&) {}
void cli_mode_show() {}
void cli_sync_vscode_settings() {}

// ---------------------------------------------------------------------------
// Runner queue

int is_directory_path(const std::string&) { return 0; }
void cli_runner_add(const std::string&) {}
void cli_runner_rm(const std::string&) {}
void cli_runner_ls() {}
void cli_runner_clear() {}
int cli_runner_go() { return 1; }
int cli_runner_go_safe_js() { return 1; }
int cli_runner_run_directory(const std::string&, const std::string&, int*, int*) { return 1; }
