// The error log's display, the environment checks of the doctor, and the usage
// statistics. The error log itself and the tool probes sit below the front
// end (core/workspace_log, platform/tool_probe), where the compile step uses
// them too; this header brings them along for the commands.
#pragma once

#include <string>

#include "core/workspace_log.h"
#include "platform/tool_probe.h"

void cli_errors_show();

// 1 when a file can be created in the folder (it is removed again), else 0.
int cli_check_dir_writable(const std::string& folder);
// 1 when PATH contains "KORVEX", "korvex" or "kvx" anywhere, else 0.
int cli_check_in_path();

// Counts one file handed to a mode: total, and the mode's own counter when
// the word is "a", "w", "g" or "auto". Creates the workspace folder.
void cli_stats_record(const std::string& mode);
void cli_stats_show();
