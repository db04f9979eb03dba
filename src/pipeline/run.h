// The file front end of the pipeline: reads one .js file, runs the library,
// prints the progress lines and writes ./generated/<stem>.ts.
#pragma once

#include <cstdint>
#include <string>

#include "analysis/analyzer.h"

// Process-wide verbose switch, set by the command line: while it is non-zero
// the front end prints pass 4's trace lines.
extern std::int32_t g_kvx_verbose;

// Turns one .js file into ./generated/<stem>.ts; 0 when the file was written,
// 1 on any failure.
int run_transpile_single_file(const std::string& path);

// Writes the typed emitter's text of `result` to out_base + ".ts" through a
// file staged beside it, printing "[OK] Generated typed TS: <path>" or the
// error; 0 when written, 1 when it could not be created or written (the
// previous file is then left as it was). The path is cut to 511 bytes.
int generate_ts_typed(const std::string& out_base, const AnalysisResult& result);

// "./generated/<stem>" for a source path: the file name after the last / or \,
// cut to 255 bytes, without a final ".js" when it is longer than three bytes.
std::string output_base_for(const std::string& path);
