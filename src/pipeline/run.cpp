// The file front end: checks and reads the .js file, runs the pipeline with an
// observer that prints the "[OK] ..." lines (and pass 4's trace under the
// verbose switch), and writes the TypeScript text beside its target before
// renaming it over.
#include "pipeline/run.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include "core/console.h"
#include "core/filesystem.h"
#include "core/reader.h"
#include "pipeline/project_modules.h"
#include "generator/generator.h"
#include "pipeline/prefetch.h"
#include "pipeline/source_messages.h"
#include "pipeline/transpile.h"

std::int32_t g_kvx_verbose = 0;

std::string output_base_for(const std::string& path) { return output_path_for(path).pipeline_base(); }

void ensure_output_folder(const OutputPath& output) {
  ensure_generated_folder();
  if (!output.mirrored) return;
  // A failure shows up when the file cannot be created.
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(output.ts()).parent_path(), ignored);
}

namespace {

void print_text(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

TranspileObserver console_observer() {
  TranspileObserver observer;
  observer.tokenized = [](int tokens) {
    std::printf(CLR_GREEN "[OK] Tokenization: %d tokens found.\n" CLR_RESET, tokens);
  };
  observer.structure_captured = [](int vars, int funcs) {
    std::printf(CLR_GREEN "[OK] Analysis: %d variables, %d functions.\n" CLR_RESET, vars, funcs);
  };
  observer.bodies_captured = [] { std::printf(CLR_GREEN "[OK] Function bodies captured.\n" CLR_RESET); };
  if (g_kvx_verbose != 0) observer.pass4_trace = print_text;
  return observer;
}

// Writes out_base + ".ts" through a staged file, so that a failed write keeps
// the previous file: a full disk never leaves a truncated file behind.
int write_output(const std::string& out_base, std::string_view text) {
  constexpr size_t kMaxPath = 511;
  std::string path = out_base + ".ts";
  if (path.size() > kMaxPath) path.resize(kMaxPath);

  StagedFile file(path);  // text mode
  if (!file.is_open()) {
    std::printf("[ERROR] Unable to create %s\n", path.c_str());
    return 1;
  }
  std::printf("[OK] Generated typed TS: %s\n", path.c_str());
  file.out() << text;
  std::string reason;
  if (!file.commit(reason)) {
    print_write_failure(path, reason);
    return 1;
  }
  return 0;
}

}  // namespace

int generate_ts_typed(const std::string& out_base, const AnalysisResult& result) {
  std::ostringstream text;
  write_ts_typed(text, result);
  return write_output(out_base, text.str());
}

int write_inline_output(const std::string& target, const InlineOutput& output) {
  std::string reason;
  // Binary: the source's own line breaks are kept byte for byte.
  if (!replace_file_text(target, output.text, reason, true)) {
    print_write_failure(target, reason);
    return 1;
  }
  std::printf("[OK] Generated inline TS: %s (%d annotations, %d interfaces)\n", target.c_str(), output.annotations,
              output.interfaces);
  if (!output.script_reason.empty()) {
    std::printf(CLR_YELLOW "[WARNING] %s stays a script, not a module: %s.\n" CLR_RESET, target.c_str(),
                output.script_reason.c_str());
  }
  return 0;
}

namespace {

// The checked and read text of a .js file; nothing when it is not one or
// cannot be read (the reason is printed).
std::optional<std::string> read_source(const std::string& path) {
  SourceRead read = read_js_source(path);
  print_source_checks(path, read.failure);
  if (is_name_failure(read.failure)) {
    std::printf(CLR_RED "[ERROR] '%s' is not a valid .js file.\n" CLR_RESET, path.c_str());
  }
  if (read.failure != SourceFailure::none) return std::nullopt;
  return std::move(read.text);
}

}  // namespace

int run_transpile_inline(const std::string& path, std::string& source, InlineOutput& output,
                         const RunOptions& options) {
  std::optional<std::string> text = read_source(path);
  if (!text) return 1;
  output = transpile_inline_of(path, *text, options.modules, console_observer());
  source = std::move(*text);
  const OutputPath target = options.output_of(path);
  ensure_output_folder(target);
  return write_inline_output("./" + target.ts(), output);
}

namespace {

// A file the prefetch threads transpiled: the lines and the file a run here
// would give, the checks' lines and the observer's replayed in their order.
int finish_prefetched(const std::string& path, const RunOptions& options, const PrefetchedFile& file) {
  print_js_file_opened(path);
  replay_observer_calls(file.calls, console_observer());
  const OutputPath target = options.output_of(path);
  ensure_output_folder(target);
  if (options.inline_form) return write_inline_output("./" + target.ts(), file.inline_output);
  return write_output(target.pipeline_base(), file.typescript);
}

}  // namespace

int run_transpile_single_file(const std::string& path, const RunOptions& options) {
  if (options.prefetch != nullptr) {
    const std::optional<PrefetchedFile> ready =
        options.prefetch->take(path, PrefetchForm{options.inline_form, g_kvx_verbose != 0, options.modules});
    if (ready) return finish_prefetched(path, options, *ready);
  }

  std::optional<std::string> source = read_source(path);
  if (!source) return 1;

  const OutputPath target = options.output_of(path);
  if (options.inline_form) {
    const InlineOutput output = transpile_inline_of(path, *source, options.modules, console_observer());
    source.reset();
    ensure_output_folder(target);
    return write_inline_output("./" + target.ts(), output);
  }

  const std::string typescript = transpile_to_typescript(std::move(*source), console_observer());
  source.reset();

  ensure_output_folder(target);
  return write_output(target.pipeline_base(), typescript);
}
