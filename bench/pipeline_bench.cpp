// Throughput of the pipeline on bundle-sized inputs. Run with
//   cmake -S . -B build-bench -DKVX_BUILD_BENCHMARKS=ON -DKVX_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-bench --target kvx_bench && build-bench/kvx_bench
// A real bundle can be measured too: KVX_BENCH_FILE=path/to/bundle.js.
//
// The Stage/... benchmarks time each stage of one file's pipeline alone, in
// pipeline order, and report bytes/s and lines/s of the input file:
//   build/kvx_bench --benchmark_filter=Stage
// The file is KVX_BENCH_FILE, or else the synthetic module that
// bench/make_module.js writes, KVX_BENCH_MB megabytes of it (default 1).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#if __has_include(<unistd.h>)
#include <fcntl.h>
#include <unistd.h>
#endif

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
#include "analysis/file_index.h"
#include "core/tokenizer.h"
#include "generator/generator.h"
#include "pipeline/run.h"
#include "pipeline/transpile.h"

namespace {

// A module of `functions` functions in the style of a transpiled npm bundle:
// declarations, object literals, conditionals, classes, Maps and loops.
std::string synthetic_bundle(int functions) {
  std::string text = "const fs = require('fs');\nconst path = require('path');\n";
  for (int i = 0; i < functions; ++i) {
    const std::string n = std::to_string(i);
    text += "function helper" + n + "(value, opts) {\n"
            "  const limit = opts.limit ?? 10;\n"
            "  let total = 0;\n"
            "  for (let k = 0; k < limit; k++) { total = total + k; }\n"
            "  if (value > total) { return { id: " + n + ", name: 'h" + n + "', ok: true }; }\n"
            "  const label = value ? 'yes' : 'no';\n"
            "  return label.trim();\n"
            "}\n"
            "const table" + n + " = { key: 'k" + n + "', size: " + n + ", nested: { flag: false } };\n"
            "const list" + n + " = [1, 2, 3].map(x => x * 2);\n";
    if (i % 10 == 0) {
      text += "class Widget" + n + " extends Base {\n"
              "  static count = 0;\n"
              "  #secret = 'x';\n"
              "  constructor(name) { super(); this.name = name; }\n"
              "  get size() { return 3; }\n"
              "  render(mode = 'full') { return mode === 'full'; }\n"
              "}\n"
              "const cache" + n + " = new Map();\ncache" + n + ".set('a', 1);\n";
    }
  }
  return text;
}

std::string bench_source(int functions) {
  if (const char* file = std::getenv("KVX_BENCH_FILE")) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  return synthetic_bundle(functions);
}

void BM_Tokenize(benchmark::State& state) {
  const std::string source = bench_source(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(tokenize(source));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
}
BENCHMARK(BM_Tokenize)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_Analysis(benchmark::State& state) {
  const std::string source = bench_source(static_cast<int>(state.range(0)));
  const TokenList tokens = tokenize(source);
  for (auto _ : state) benchmark::DoNotOptimize(analyze_source(tokens, source, kLastPass));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
}
BENCHMARK(BM_Analysis)->Arg(100)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

// The library from text to text; with range(1) set, pass 4's trace goes to a
// sink that keeps it, as the verbose front end would print it.
void BM_Transpile(benchmark::State& state) {
  const std::string source = bench_source(static_cast<int>(state.range(0)));
  size_t traced = 0;
  TranspileObserver observer;
  if (state.range(1) != 0) observer.pass4_trace = [&traced](std::string_view line) { traced += line.size(); };
  for (auto _ : state) benchmark::DoNotOptimize(transpile(source, observer).typescript);
  benchmark::DoNotOptimize(traced);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
}
BENCHMARK(BM_Transpile)->Args({1000, 0})->Args({1000, 1})->Unit(benchmark::kMillisecond);


// ---------------------------------------------------------------------------
// Stages of one file's pipeline, each timed alone

// bench/module_template.js. A compiler cache may have made __FILE__ relative
// to the build folder, which is where this executable lives.
std::filesystem::path module_template_path() {
  const std::filesystem::path here = std::filesystem::path(__FILE__).parent_path();
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  for (const std::filesystem::path& folder : {here, exe.parent_path() / here}) {
    if (std::filesystem::exists(folder / "module_template.js", error)) return folder / "module_template.js";
  }
  return here / "module_template.js";
}

// bench/module_template.js repeated, every __N__ replaced by the copy's number,
// until the text holds at least `bytes` bytes: the same text as
// `node bench/make_module.js`.
std::string synthetic_module(size_t bytes) {
  std::ifstream in(module_template_path(), std::ios::binary);
  std::ostringstream read;
  read << in.rdbuf();
  const std::string pattern = read.str();
  if (pattern.empty()) return {};

  std::string text;
  for (int copy = 0; text.size() < bytes; ++copy) {
    const std::string number = std::to_string(copy);
    std::string piece = pattern;
    for (size_t at = piece.find("__N__"); at != std::string::npos; at = piece.find("__N__", at)) {
      piece.replace(at, 5, number);
      at += number.size();
    }
    text += piece;
  }
  return text;
}

struct StageInput {
  std::string name;  // shown in the error message of an unreadable input
  std::string source;
  int64_t lines = 0;  // line feeds, as wc -l counts them
  TokenList tokens;
  FileIndex index;  // of tokens
};

// Read once per process: every stage works on the same text.
const StageInput& stage_input() {
  static const StageInput input = [] {
    StageInput made;
    if (const char* file = std::getenv("KVX_BENCH_FILE")) {
      made.name = file;
      std::ifstream in(file, std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      made.source = text.str();
    } else {
      const char* megabytes = std::getenv("KVX_BENCH_MB");
      const double size = megabytes ? std::atof(megabytes) : 1.0;
      made.name = module_template_path().string();
      made.source = synthetic_module(static_cast<size_t>(std::max(size, 0.0) * 1024 * 1024));
    }
    made.lines = std::count(made.source.begin(), made.source.end(), '\n');
    made.tokens = tokenize(made.source);
    made.index = index_file(made.tokens);
    return made;
  }();
  return input;
}

// Sends this process's standard output to /dev/null while it lives: the
// analysis and the emitter print progress lines that would drown the report,
// which Google Benchmark prints only after the benchmark function returns.
class QuietStdout {
 public:
  QuietStdout() {
#if __has_include(<unistd.h>)
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    const int null_fd = ::open("/dev/null", O_WRONLY);
    if (saved_ >= 0 && null_fd >= 0) ::dup2(null_fd, STDOUT_FILENO);
    if (null_fd >= 0) ::close(null_fd);
#endif
  }
  ~QuietStdout() {
#if __has_include(<unistd.h>)
    std::fflush(stdout);
    if (saved_ >= 0) {
      ::dup2(saved_, STDOUT_FILENO);
      ::close(saved_);
    }
#endif
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_ = -1;
};

void report_throughput(benchmark::State& state, const StageInput& input) {
  const auto iterations = static_cast<int64_t>(state.iterations());
  state.SetBytesProcessed(iterations * static_cast<int64_t>(input.source.size()));
  state.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(iterations * input.lines), benchmark::Counter::kIsRate);
}

bool have_input(benchmark::State& state, const StageInput& input) {
  if (!input.source.empty()) return true;
  state.SkipWithError(("no input text: " + input.name).c_str());
  return false;
}

void BM_StageTokenize(benchmark::State& state) {
  const StageInput& input = stage_input();
  if (!have_input(state, input)) return;
  TokenList tokens;
  for (auto _ : state) {
    state.PauseTiming();
    tokens = TokenList{};  // the previous list is freed outside the timing
    state.ResumeTiming();
    tokens = tokenize(input.source);
    benchmark::DoNotOptimize(tokens);
  }
  report_throughput(state, input);
}

void BM_StageIndex(benchmark::State& state) {
  const StageInput& input = stage_input();
  if (!have_input(state, input)) return;
  FileIndex index;
  for (auto _ : state) {
    state.PauseTiming();
    index = FileIndex{};
    state.ResumeTiming();
    index = index_file(input.tokens);
    benchmark::DoNotOptimize(index);
  }
  report_throughput(state, input);
}

void BM_StageScan(benchmark::State& state) {
  const StageInput& input = stage_input();
  if (!have_input(state, input)) return;
  AnalysisResult result;
  for (auto _ : state) {
    state.PauseTiming();
    result = AnalysisResult{};
    state.ResumeTiming();
    result = analyze_tokens(input.tokens, input.index, input.source);
    benchmark::DoNotOptimize(result);
  }
  report_throughput(state, input);
}

// One stage that works on the analysis result: `prepare` builds the result as
// the pipeline hands it to the stage, `run` is the stage (0 when it did its
// work: only the emitter can fail).
struct ResultStage {
  const char* name;
  AnalysisResult (*prepare)(const StageInput& input);
  int (*run)(AnalysisResult& result, const StageInput& input, const std::string& out_base);
};

AnalysisResult after_scan(const StageInput& input) { return analyze_tokens(input.tokens, input.index, input.source); }

template <int kPass>
AnalysisResult before_pass(const StageInput& input) {
  // Pass 2 ends with the structure capture, before pass 3.
  return analyze_source(input.tokens, input.index, input.source, kPass - 1);
}

AnalysisResult after_all_passes(const StageInput& input) {
  return analyze_source(input.tokens, input.index, input.source, kLastPass);
}

template <void (*kPass)(AnalysisResult&, const TokenList&)>
int run_pass(AnalysisResult& result, const StageInput& input, const std::string&) {
  kPass(result, input.tokens);
  return 0;
}

template <void (*kPass)(AnalysisResult&, const TokenList&, const FileIndex&)>
int run_indexed_pass(AnalysisResult& result, const StageInput& input, const std::string&) {
  kPass(result, input.tokens, input.index);
  return 0;
}

// Pass 4 without a trace sink, as the quiet front end runs it.
void pass4_quiet(AnalysisResult& result, const TokenList& tokens) { analyzer4_run(result, tokens); }

// warning: order matters, as in analyze_source.
constexpr ResultStage kResultStages[] = {
    {"capture", after_scan,
     [](AnalysisResult& result, const StageInput& input, const std::string&) -> int {
       detect_array_callbacks(input.tokens, result);
       detect_classes(result, input.tokens, input.index, input.source);
       detect_imports(result, input.tokens, input.index, input.source);
       detect_exports(result, input.tokens, input.index, input.source);
       capture_function_bodies(result, input.tokens, input.index, input.source);
       return 0;
     }},
    {"pass3", before_pass<3>,
     [](AnalysisResult& result, const StageInput& input, const std::string&) -> int {
       analyzer3_run(input.tokens, input.index, result);  // note: tokens first
       return 0;
     }},
    {"pass4", before_pass<4>, run_pass<pass4_quiet>},
    {"pass5", before_pass<5>, run_pass<analyzer5_run>},
    {"pass6", before_pass<6>, run_pass<analyzer6_run>},
    {"pass7", before_pass<7>, run_pass<analyzer7_run>},
    {"pass8", before_pass<8>, run_indexed_pass<analyzer8_run>},
    {"pass9", before_pass<9>, run_indexed_pass<analyzer9_run>},
    {"pass10", before_pass<10>, run_indexed_pass<analyzer10_run>},
    {"emit", after_all_passes,
     [](AnalysisResult& result, const StageInput&, const std::string& out_base) {
       return generate_ts_typed(out_base, result);
     }},
};

// A fresh folder for the emitter's file, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("kvx-bench-" + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void BM_ResultStage(benchmark::State& state, const ResultStage& stage) {
  const StageInput& input = stage_input();
  if (!have_input(state, input)) return;
  QuietStdout quiet;
  ScratchFolder scratch;
  const std::string out_base = (scratch.path() / "bench").string();

  // Google Benchmark calls this function several times while it settles on an
  // iteration count; the state before the stage is built once for all of them.
  static std::optional<std::pair<const ResultStage*, AnalysisResult>> prepared;
  if (!prepared || prepared->first != &stage) {
    prepared.reset();  // one prepared state alive at a time
    prepared.emplace(&stage, stage.prepare(input));
  }
  const AnalysisResult& before = prepared->second;

  AnalysisResult result;
  for (auto _ : state) {
    state.PauseTiming();
    result = before;  // the previous copy is freed here, outside the timing
    state.ResumeTiming();
    if (stage.run(result, input, out_base) != 0) {
      state.SkipWithError(("the stage failed, writing into " + scratch.path().string()).c_str());
      break;
    }
    benchmark::DoNotOptimize(result);
  }
  report_throughput(state, input);
}

const bool kStagesRegistered = [] {
  benchmark::RegisterBenchmark("Stage/tokenize", BM_StageTokenize)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Stage/index", BM_StageIndex)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Stage/scan", BM_StageScan)->Unit(benchmark::kMillisecond);
  for (const ResultStage& stage : kResultStages) {
    benchmark::RegisterBenchmark((std::string("Stage/") + stage.name).c_str(), BM_ResultStage, stage)
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
