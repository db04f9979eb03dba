// The file front end of the pipeline: reads one .js file, runs the library,
// prints the progress lines and writes ./generated/<stem>.ts.
#pragma once

#include <cstdint>
#include <string>

#include "analysis/analyzer.h"
#include "generator/inline_emitter.h"
#include "pipeline/output_path.h"

// Process-wide verbose switch, set by the command line: while it is non-zero
// the front end prints pass 4's trace lines.
extern std::int32_t g_kvx_verbose;

class TranspilePrefetcher;
struct CompilerSessionSlot;
struct InlineRunSummary;
struct ProjectModules;

// How a run writes its output, chosen on the command line.
struct RunOptions {
  // generated/<stem>.ts is the program itself with the inferred types
  // written in place, rather than the typed declarations.
  bool inline_form = false;
  // Transpiles the next files of a batch ahead; a file it has ready is taken
  // from it rather than read and transpiled here. Not owned.
  TranspilePrefetcher* prefetch = nullptr;
  // The folder a folder run was given: the outputs of the files below it
  // mirror their paths below it. Empty for files named on their own.
  std::string tree_root;
  // The outputs claimed so far in this run; null when the run does not
  // check (a single file). Not owned.
  OutputClaims* claims = nullptr;
  // The compiler session the run's inline checks share; null to start one
  // per file. Not owned.
  CompilerSessionSlot* compiler = nullptr;
  // Where mode auto with --inline adds each file's figures. Not owned.
  InlineRunSummary* summary = nullptr;
  // What the files of the run export, for the inline form; null for a
  // single file. Not owned.
  const ProjectModules* modules = nullptr;
  // --report FILE: the summary of a folder run as JSON.
  std::string report_path;

  OutputPath output_of(const std::string& path) const { return output_path_for(path, tree_root); }
};

// Turns one .js file into ./generated/<stem>.ts; 0 when the file was written,
// 1 on any failure.
int run_transpile_single_file(const std::string& path, const RunOptions& options = {});

// The inline form of one .js file, written to its generated path as a run
// with --inline does; `source` and `output` receive the text and its
// insertions. 0 when written, 1 on any failure.
int run_transpile_inline(const std::string& path, std::string& source, InlineOutput& output,
                         const RunOptions& options = {});

// Writes an inline output to `target` (a generated .ts path) and reports it;
// 0 when written.
int write_inline_output(const std::string& target, const InlineOutput& output);

// Writes the typed emitter's text of `result` to out_base + ".ts" through a
// file staged beside it, printing "[OK] Generated typed TS: <path>" or the
// error; 0 when written, 1 when it could not be created or written (the
// previous file is then left as it was). The path is cut to 511 bytes.
int generate_ts_typed(const std::string& out_base, const AnalysisResult& result);

// "./generated/<stem>" for a source path named on its own: the file name
// after the last / or \, cut to 255 bytes, without a final ".js" when it is
// longer than three bytes.
std::string output_base_for(const std::string& path);

// Creates ./generated and the folders below it that `output` lies in.
void ensure_output_folder(const OutputPath& output);
