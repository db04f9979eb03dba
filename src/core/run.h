// Entry point and the single-file pipeline that owns the order of all stages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "analysis/analyzer.h"
#include "core/tokenizer.h"
#include "generator/inline_emitter.h"

// Process-wide verbose switch: pass 4 prints its trace lines only when it is
// non-zero.
extern std::int32_t g_kvx_verbose;

inline constexpr int kLastPass = 10;

// Stages 5 to 9 of the pipeline on a tokenized source: the declaration scan,
// the structure capture and the analysis passes 3 to last_pass, in their fixed
// order. Prints the analysis lines.
AnalysisResult analyze_source(const TokenList& tokens, std::string_view source, int last_pass);

// How a run writes its output, chosen on the command line.
struct RunOptions {
  // generated/<stem>.ts is the program itself with the inferred types
  // written in place, rather than the typed declarations.
  bool inline_form = false;
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

// "./generated/<stem>" for a source path: the file name after the last / or \,
// cut to 255 bytes, without a final ".js" when it is longer than three bytes.
std::string output_base_for(const std::string& path);
