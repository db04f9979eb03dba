// The maintenance commands: clean the outputs, check for and install an
// update, install and uninstall the program.
#pragma once

#include <string>

void cli_clean_outputs();
// Returns 1 when the update server could not be asked, else 0.
int cli_check_update(const std::string& current_version);
// Downloads the latest build and its SHA-256 checksum; only a build that
// matches its checksum replaces the running program. Returns 0 when the
// program is up to date or was updated, 1 on any failure.
int cli_perform_update();
// Install and uninstall return 0 when the footprint is in place (or gone),
// 1 when a step did not take effect; a cancelled uninstall is no failure.
int cli_self_install(const std::string& program_path);
int cli_perform_uninstall();
