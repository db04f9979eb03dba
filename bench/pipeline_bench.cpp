// Throughput of the pipeline on bundle-sized inputs. Run with
//   cmake -S . -B build-bench -DKVX_BUILD_BENCHMARKS=ON -DKVX_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-bench --target kvx_bench && build-bench/kvx_bench
// A real bundle can be measured too: KVX_BENCH_FILE=path/to/bundle.js.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "analysis/analyzer.h"
#include "core/run.h"
#include "core/tokenizer.h"

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
  // The analysis prints its two progress lines per run; send the report to a
  // file (--benchmark_out) to read it without them.
  for (auto _ : state) benchmark::DoNotOptimize(analyze_source(tokens, source, kLastPass));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
}
BENCHMARK(BM_Analysis)->Arg(100)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
