// The analysis core as a library: JavaScript text in; its tokens, the
// analysis result and the TypeScript text out. It reads no file, prints
// nothing and keeps no state between calls: what a front end wants to show
// of the run it receives through an observer.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "analysis/analyzeR4.h"
#include "analysis/analyzer.h"
#include "analysis/file_index.h"
#include "core/tokenizer.h"
#include "generator/inline_emitter.h"

inline constexpr int kLastPass = 10;

// Progress of one run, reported at fixed points. Any member left empty is
// not called; a default-constructed observer makes the run silent.
struct TranspileObserver {
  std::function<void(int token_count)> tokenized;
  // After the declaration scan and the structure capture.
  std::function<void(int var_count, int func_count)> structure_captured;
  std::function<void()> bodies_captured;
  // Each trace line of pass 4, colour codes and line break included.
  Pass4Trace pass4_trace;
};

struct TranspileOutput {
  TokenList tokens;
  AnalysisResult result;
  std::string typescript;  // what generated/<stem>.ts holds
};

// The declaration scan, the structure capture and the analysis passes 3 to
// last_pass on a tokenized source, in their fixed order, each handed the
// file's index (built from `tokens`, once).
AnalysisResult analyze_source(const TokenList& tokens, const FileIndex& index, std::string_view source,
                              int last_pass, const TranspileObserver& observer = {});
// The same with an index built for the call and dropped after it.
AnalysisResult analyze_source(const TokenList& tokens, std::string_view source, int last_pass,
                              const TranspileObserver& observer = {});

// The whole pipeline on one source: tokens, analysis up to last_pass, and the
// typed emitter's text.
TranspileOutput transpile(std::string_view source, const TranspileObserver& observer = {},
                          int last_pass = kLastPass);

// The typed emitter's text of one source, for a front end that wants only
// the text: the source and its tokens are released once the analysis is
// done, so that a large file is not held beside the emitter's work.
std::string transpile_to_typescript(std::string source, const TranspileObserver& observer = {});

// The inline form of one source: the source itself with the inferred types
// written in place (tokens and analysis as transpile() runs them).
InlineOutput transpile_inline(std::string_view source, const TranspileObserver& observer = {},
                              const ProjectView* project = nullptr);
