// What a folder run in mode auto with --inline shares and leaves behind: one
// compiler session for all its files, one summary of their figures on the
// console (and as JSON with --report FILE), and generated/tsconfig.json with
// the flags the files were compiled with, so that `tsc -p generated`
// reproduces the check.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "pipeline/run.h"
#include "tsx/inline_check.h"

struct ProjectCheck {
  CompilerSessionSlot compiler;
  InlineRunSummary summary;
  bool active = false;
  bool summarize = false;
};

// Points `options` at `check` when the run is one of mode auto with
// --inline and no enclosing run shares one already. `summarize`: a folder
// run, which ends with the summary and generated/tsconfig.json.
void project_check_begin(ProjectCheck& check, const std::string& mode, RunOptions& options, bool summarize);

// Checks the inline form of every file the run will check (`files` with the
// folder each was found below, "" for a file named on its own), transpiled
// quietly now, together as one program in the run's compiler session: a
// file sees the types of every file it imports, and each round of the check
// re-checks only what changed. The files are still written and reported one
// after another as the run reaches them.
void project_check_preload(ProjectCheck& check, const std::vector<std::pair<std::string, std::string>>& files,
                           const ProjectModules* modules);

// After the run: the summary, the report and the tsconfig.json, when the
// check was begun and checked any file. Ends the compiler session.
void project_check_end(ProjectCheck& check, const RunOptions& options);

// The JSON report of a summary.
std::string project_report_json(const InlineRunSummary& summary);
// generated/tsconfig.json for the files of a summary.
std::string project_tsconfig_json(const InlineRunSummary& summary, bool node_types);
