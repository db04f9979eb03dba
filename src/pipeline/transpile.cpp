// The single-source pipeline: tokenizer, declaration scan, structure capture,
// analysis passes 3 to 10, typed emitter. No I/O: the caller's observer sees
// the progress, the caller decides what to print and where to write.
#include "pipeline/transpile.h"

#include <sstream>
#include <utility>

#include "analysis/analyzeR10.h"
#include "analysis/analyzeR2.h"
#include "analysis/analyzeR3.h"
#include "analysis/analyzeR4.h"
#include "analysis/analyzeR5.h"
#include "analysis/analyzeR6.h"
#include "analysis/analyzeR7.h"
#include "analysis/analyzeR8.h"
#include "analysis/analyzeR9.h"
#include "generator/generator.h"
#include "generator/inline_emitter.h"
#include "platform/memory.h"

namespace {

// The tokens of a source, in a list backed by large pages where the system
// offers them: every stage walks the list back and forth, and a bundle's list
// would otherwise span thousands of small pages.
TokenList tokenize_source(std::string_view source) {
  TokenList tokens = token_list_for(source);
  platform_prefer_large_pages(tokens.items.data(), tokens.items.capacity() * sizeof(Token));
  tokenize_into(source, tokens);
  return tokens;
}

}  // namespace

AnalysisResult analyze_source(const TokenList& tokens, const FileIndex& index, std::string_view source,
                              int last_pass, const TranspileObserver& observer) {
  AnalysisResult result = analyze_tokens(tokens, index, source);

  // warning: order matters; each stage builds on what the earlier ones wrote.
  detect_array_callbacks(tokens, result);
  detect_classes(result, tokens, index, source);
  detect_imports(result, tokens, index, source);
  detect_exports(result, tokens, index, source);
  if (observer.structure_captured) {
    observer.structure_captured(static_cast<int>(result.vars.size()), static_cast<int>(result.funcs.size()));
  }

  capture_function_bodies(result, tokens, index, source);
  if (observer.bodies_captured) observer.bodies_captured();

  if (last_pass >= 3) analyzer3_run(tokens, index, result);  // note: tokens first
  if (last_pass >= 4) analyzer4_run(result, tokens, index, observer.pass4_trace);
  // Passes 5 and 6 read no bracket or statement structure.
  using Pass = void (*)(AnalysisResult&, const TokenList&, const FileIndex&);
  static constexpr Pass kLaterPasses[] = {
      [](AnalysisResult& result, const TokenList& tokens, const FileIndex&) { analyzer5_run(result, tokens); },
      [](AnalysisResult& result, const TokenList& tokens, const FileIndex&) { analyzer6_run(result, tokens); },
      analyzer7_run, analyzer8_run, analyzer9_run, analyzer10_run};
  for (int pass = 5; pass <= last_pass && pass <= kLastPass; ++pass) {
    kLaterPasses[pass - 5](result, tokens, index);
  }
  return result;
}

AnalysisResult analyze_source(const TokenList& tokens, std::string_view source, int last_pass,
                              const TranspileObserver& observer) {
  return analyze_source(tokens, index_file(tokens), source, last_pass, observer);
}

TranspileOutput transpile(std::string_view source, const TranspileObserver& observer, int last_pass) {
  TranspileOutput output;
  output.tokens = tokenize_source(source);
  if (observer.tokenized) observer.tokenized(output.tokens.count());
  output.result = analyze_source(output.tokens, source, last_pass, observer);
  std::ostringstream text;
  write_ts_typed(text, output.result, build_local_declaration_index(output.result, &output.tokens));
  output.typescript = std::move(text).str();
  return output;
}

std::string transpile_to_typescript(std::string source, const TranspileObserver& observer) {
  TokenList tokens = tokenize_source(source);
  if (observer.tokenized) observer.tokenized(tokens.count());
  AnalysisResult result = analyze_source(tokens, source, kLastPass, observer);
  // The emitter needs the source (the function bodies view it), not the
  // tokens, but the names the bodies declare are read from them first.
  const LocalDeclarationIndex locals = build_local_declaration_index(result, &tokens);
  free_token_list(tokens);
  std::ostringstream text;
  write_ts_typed(text, result, locals);
  return std::move(text).str();
}

InlineOutput transpile_inline(std::string_view source, const TranspileObserver& observer,
                              const ProjectView* project) {
  TokenList tokens = tokenize_source(source);
  if (observer.tokenized) observer.tokenized(tokens.count());
  const FileIndex index = index_file(tokens);
  AnalysisResult result = analyze_source(tokens, index, source, kLastPass, observer);
  InlineOutput output = emit_inline(source, tokens, result, project, &index.match);
  free_token_list(tokens);
  free_analysis_result(result);
  return output;
}
