// The runs of `go` over the queue and over folders, and of the safe-JS batch.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pipeline/project_modules.h"
#include "pipeline/run.h"

// What the files of a run export, for the inline form; null when the run
// writes the typed form or has fewer than two files.
std::unique_ptr<ProjectModules> cli_project_modules(const RunOptions& options, const std::vector<std::string>& files);

// `go`: every queue entry (a file, or the .js files below a folder) in the
// active mode; 0 when every file succeeded.
int cli_runner_go(const RunOptions& options = {});
// `run-liste`: every queue entry through mode auto into dist/.
int cli_runner_go_safe_js(const RunOptions& options = {});
// The .js files below `folder` (outside node_modules, .kvx and generated) in
// `mode`, added to the counts; 1 when the folder cannot be found or scanned.
int cli_runner_run_directory(const std::string& folder, const std::string& mode, int* total,
                             int* succeeded, const RunOptions& options = {});
// The same for each of `folders` in turn; 1 when any of them cannot be found
// or scanned.
int cli_runner_run_directories(const std::vector<std::string>& folders, const std::string& mode, int* total,
                               int* succeeded, const RunOptions& options = {});
