// Passes 4 and 5 alone on inputs that make a literal reading of their rules
// grow with the square of the file: minified code where thousands of
// parameters and variables share the names e, t and n, many functions with many
// parameters, many arrows, and many `tasks.push(t)` with no `{` after them.
// The state before the pass (scan, capture, pass 3) is built once; each
// iteration works on a fresh copy of it, made outside the timing.
#include <benchmark/benchmark.h>

#include <string>

#include "analysis/analyzeR4.h"
#include "analysis/analyzeR5.h"
#include "analysis/analyzer.h"
#include "core/tokenizer.h"
#include "pipeline/transpile.h"

namespace {

std::string pass4_stress_source(int units) {
  std::string minified;  // one line, as a minifier writes it
  std::string plain = "const fs = require('fs');\nconst tasks = [];\nconst results = [];\n";
  for (int i = 0; i < units; ++i) {
    const std::string n = std::to_string(i);
    minified += "function m" + n + "(e,t,n){if(e<t)return e.trim();var r=e?.x??0;const o=(e)=>s.has(e);"
                "n=fetch(e);results.push(n);for(let i=0;i<n;i++){t=t+i}return r}";
    plain += "function worker" + n + "(id, url, dir, limit, name, retries, width, concurrencyLimit) {\n"
             "  if (retries > 3) return `${id}:${url}`;\n"
             "  fs.mkdir(dir, () => {});\n"
             "  return name.toUpperCase();\n"
             "}\n"
             "const drop" + n + " = (k) => cache.delete(k);\n"
             "let seen" + n + " = new Set();\n";
  }
  std::string tail;
  for (int i = 0; i < units; ++i) tail += "tasks.push(t);\n";
  return minified + "\n" + plain + tail;
}

struct Pass4Input {
  std::string source;
  TokenList tokens;
  AnalysisResult before;  // after pass 3
};

Pass4Input make_input(int units) {
  Pass4Input input;
  input.source = pass4_stress_source(units);
  input.tokens = tokenize(input.source);
  input.before = analyze_source(input.tokens, input.source, 3);
  return input;
}

void BM_Pass4(benchmark::State& state) {
  const Pass4Input input = make_input(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    AnalysisResult result = input.before;
    state.ResumeTiming();
    analyzer4_run(result, input.tokens);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(input.source.size()));
}
BENCHMARK(BM_Pass4)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

void BM_Pass5(benchmark::State& state) {
  Pass4Input input = make_input(static_cast<int>(state.range(0)));
  analyzer4_run(input.before, input.tokens);
  for (auto _ : state) {
    state.PauseTiming();
    AnalysisResult result = input.before;
    state.ResumeTiming();
    analyzer5_run(result, input.tokens);
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(input.source.size()));
}
BENCHMARK(BM_Pass5)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace
