#include "core/run.h"

#include <cstdio>
#include <optional>

#include "analysis/analyzeR10.h"
#include "analysis/analyzeR2.h"
#include "analysis/analyzeR3.h"
#include "analysis/analyzeR4.h"
#include "analysis/analyzeR5.h"
#include "analysis/analyzeR6.h"
#include "analysis/analyzeR7.h"
#include "analysis/analyzeR8.h"
#include "analysis/analyzeR9.h"
#include "analysis/analyzer.h"
#include "core/console.h"
#include "core/filesystem.h"
#include "core/reader.h"
#include "core/tokenizer.h"
#include "generator/generator.h"
#include "generator/inline_emitter.h"

std::int32_t g_kvx_verbose = 0;

std::string output_base_for(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t backslash = path.rfind('\\');
  size_t name_start = 0;
  if (slash != std::string::npos) name_start = slash + 1;
  if (backslash != std::string::npos && backslash + 1 > name_start) name_start = backslash + 1;

  std::string stem = path.substr(name_start, 255);  // a 256-byte name buffer
  if (stem.size() > 3 && stem.ends_with(".js")) stem.resize(stem.size() - 3);
  return "./generated/" + stem;
}

AnalysisResult analyze_source(const TokenList& tokens, std::string_view source, int last_pass) {
  AnalysisResult result = analyze_tokens(tokens, source);

  // warning: order matters; each stage builds on what the earlier ones wrote.
  detect_array_callbacks(tokens, result);
  detect_classes(result, tokens, source);
  detect_imports(result, tokens, source);
  detect_exports(result, tokens, source);
  std::printf(CLR_GREEN "[OK] Analysis: %d variables, %d functions.\n" CLR_RESET,
              static_cast<int>(result.vars.size()), static_cast<int>(result.funcs.size()));

  capture_function_bodies(result, tokens, source);
  std::printf(CLR_GREEN "[OK] Function bodies captured.\n" CLR_RESET);

  using Pass = void (*)(AnalysisResult&, const TokenList&);
  static constexpr Pass kLaterPasses[] = {analyzer4_run, analyzer5_run, analyzer6_run,
                                          analyzer7_run, analyzer8_run, analyzer9_run,
                                          analyzer10_run};
  if (last_pass >= 3) analyzer3_run(tokens, result);  // note: tokens first
  for (int pass = 4; pass <= last_pass && pass <= kLastPass; ++pass) {
    kLaterPasses[pass - 4](result, tokens);
  }
  return result;
}


int write_inline_output(const std::string& path, const InlineOutput& output) {
  const std::string target = output_base_for(path) + ".ts";
  std::string reason;
  // Binary: the source's own line breaks are kept byte for byte.
  if (!replace_file_text(target, output.text, reason, true)) {
    print_write_failure(target, reason);
    return 1;
  }
  std::printf("[OK] Generated inline TS: %s (%d annotations, %d interfaces)\n", target.c_str(), output.annotations,
              output.interfaces);
  return 0;
}

int run_transpile_inline(const std::string& path, std::string& source, InlineOutput& output) {
  if (!is_js_file(path)) {
    std::printf(CLR_RED "[ERROR] '%s' is not a valid .js file.\n" CLR_RESET, path.c_str());
    return 1;
  }
  {
    std::ifstream probe = open_js_file(path);
    if (!probe.is_open()) return 1;
  }
  std::optional<std::string> text = read_js_content(path);
  if (!text) return 1;
  TokenList tokens = tokenize(*text);
  std::printf(CLR_GREEN "[OK] Tokenization: %d tokens found.\n" CLR_RESET, tokens.count());
  AnalysisResult result = analyze_source(tokens, *text, kLastPass);
  ensure_generated_folder();
  output = emit_inline(*text, tokens, result);
  source = std::move(*text);
  free_token_list(tokens);
  free_analysis_result(result);
  return write_inline_output(path, output);
}

int run_transpile_single_file(const std::string& path, const RunOptions& options) {
  if (!is_js_file(path)) {
    std::printf(CLR_RED "[ERROR] '%s' is not a valid .js file.\n" CLR_RESET, path.c_str());
    return 1;
  }
  {
    // Only proves that the file exists and can be opened.
    std::ifstream probe = open_js_file(path);
    if (!probe.is_open()) return 1;
  }
  std::optional<std::string> source = read_js_content(path);
  if (!source) return 1;

  TokenList tokens = tokenize(*source);
  std::printf(CLR_GREEN "[OK] Tokenization: %d tokens found.\n" CLR_RESET, tokens.count());

  AnalysisResult result = analyze_source(tokens, *source, kLastPass);

  ensure_generated_folder();
  int status = 0;
  if (options.inline_form) {
    InlineOutput output = emit_inline(*source, tokens, result);
    status = write_inline_output(path, output);
  } else {
    status = generate_ts_typed(output_base_for(path), result);
  }

  // Released in the order source text, tokens, result.
  source.reset();
  free_token_list(tokens);
  free_analysis_result(result);
  return status;
}
