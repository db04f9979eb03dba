// What the modules of one run export, so that a file requiring or importing
// another file of the run by a relative path knows its functions: their
// parameters for the arguments it passes, their results for what it gets.
// Each file is inferred alone first; a file's types depend on the others only
// through what they export.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "analysis/evidence.h"
#include "pipeline/transpile.h"

// One file of the run: what it exports and how the others call it.
struct ProjectModule {
  ModuleExports exports;
  IncomingCalls incoming;
};

struct ProjectModules {
  // By the source's absolute, normalised path.
  std::unordered_map<std::string, ProjectModule> by_path;
};

// What one source exports and the calls it makes of relative modules,
// inferred from it alone or knowing the rest of the run.
FileEvidence module_evidence_of(std::string_view source, const ProjectView* view = nullptr);

// Reads every .js file of `paths` (a file it cannot read is left out: the run
// reports it), infers what each exports and gathers the calls each makes of
// the others. Null when fewer than two files could be read: one file has
// nobody to share with.
std::unique_ptr<ProjectModules> project_modules_of(const std::vector<std::string>& paths);

// The resolver a file at `path` uses: `./util` and `../lib/util` name the
// file of the run at that place, with or without `.js`, or its `index.js`.
ModuleResolver module_resolver_for(const ProjectModules& project, const std::string& path);

// The inline form of the source read from `path`, knowing what the run's
// other files export when `modules` is given.
InlineOutput transpile_inline_of(const std::string& path, std::string_view source, const ProjectModules* modules,
                                 const TranspileObserver& observer);
