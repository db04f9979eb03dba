// The file front end of the pipeline: reads one .js file, runs the library,
// prints the progress lines and writes ./generated/<stem>.ts.
#pragma once

#include <cstdint>
#include <string>

#include "analysis/analyzer.h"
#include "generator/inline_emitter.h"

// Process-wide verbose switch, set by the command line: while it is non-zero
// the front end prints pass 4's trace lines.
extern std::int32_t g_kvx_verbose;

class TranspilePrefetcher;

// How a run writes its output, chosen on the command line.
struct RunOptions {
  // generated/<stem>.ts is the program itself with the inferred types
  // written in place, rather than the typed declarations.
  bool inline_form = false;
  // Transpiles the next files of a batch ahead; a file it has ready is taken
  // from it rather than read and transpiled here. Not owned.
  TranspilePrefetcher* prefetch = nullptr;
};

// Turns one .js file into ./generated/<stem>.ts; 0 when the file was written,
// 1 on any failure.
int run_transpile_single_file(const std::string& path, const RunOptions& options = {});

// The inline form of one .js file, written to ./generated/<stem>.ts as a run
// with --inline does; `source` and `output` receive the text and its
// insertions. 0 when written, 1 on any failure.
int run_transpile_inline(const std::string& path, std::string& source, InlineOutput& output);

// Writes an inline output for the source path to ./generated/<stem>.ts and
// reports it; 0 when written.
int write_inline_output(const std::string& path, const InlineOutput& output);

// Writes the typed emitter's text of `result` to out_base + ".ts" through a
// file staged beside it, printing "[OK] Generated typed TS: <path>" or the
// error; 0 when written, 1 when it could not be created or written (the
// previous file is then left as it was). The path is cut to 511 bytes.
int generate_ts_typed(const std::string& out_base, const AnalysisResult& result);

// "./generated/<stem>" for a source path: the file name after the last / or \,
// cut to 255 bytes, without a final ".js" when it is longer than three bytes.
std::string output_base_for(const std::string& path);
