// Time and output stay linear in the input for the module statements and
// nested functions: N against 4N, with generous ratios, never a fixed time.
// (The memory the captured bodies hold is checked with the body capture.)
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>

#include "test_support.h"

namespace {

using kvx_test::ScopedWorkDir;
using kvx_test::transpile_js;

// Import lines without `;`, each followed by a dynamic import.
std::string import_lines(int n) {
  std::string source;
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    source += "import a" + k + " from 'm" + k + "'\nconst x" + k + " = await import('./m" + k + ".js')\n";
  }
  return source;
}

// Statements that never close: keywords on one line, then unclosed lists.
std::string unclosed_statements(int n) {
  std::string source;
  for (int i = 0; i < n; ++i) source += "import ";
  source += "\n";
  for (int i = 0; i < n; ++i) source += "export ";
  source += "\n";
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    source += "import { a" + k + ", b" + k + "\nexport { c" + k + "\n";
  }
  return source;
}

// Function declarations nested n levels deep, optionally exported at every level.
std::string nested_functions(int n, bool exported) {
  std::string source;
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    source += std::string(exported ? "export " : "") + "function f" + k + "(a" + k + ") {\n  var v" + k + " = " + k + ";\n";
  }
  source += "  return 1;\n";
  for (int i = 0; i < n; ++i) source += "}\n";
  return source;
}

struct TimedRun {
  double seconds;
  size_t output;
};

// The best of three runs of the whole pipeline, and the size of the file written.
TimedRun transpile_timed(const std::string& source) {
  TimedRun best{1e9, 0};
  for (int attempt = 0; attempt < 3; ++attempt) {
    const auto start = std::chrono::steady_clock::now();
    const std::string ts = transpile_js(source);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best.seconds = std::min(best.seconds, took.count());
    best.output = ts.size();
  }
  return best;
}

struct Pattern {
  const char* name;
  std::function<std::string(int)> make;
  int n;  // large enough that the work, not the noise, is measured
};

TEST(OutputScaling, FourTimesTheInputTakesAtMostSixTimesTheTimeAndWritesAFewTimesTheInput) {
  const Pattern patterns[] = {
      {"semicolon-free import lines", import_lines, 1500},
      {"statements that never close", unclosed_statements, 3000},
      {"nested function declarations", [](int n) { return nested_functions(n, false); }, 1000},
      {"nested exported functions", [](int n) { return nested_functions(n, true); }, 1000},
  };
  ScopedWorkDir dir;
  for (const Pattern& pattern : patterns) {
    const std::string small = pattern.make(pattern.n);
    const std::string large = pattern.make(4 * pattern.n);
    const TimedRun a = transpile_timed(small);
    const TimedRun b = transpile_timed(large);
    EXPECT_LE(b.seconds, 6 * a.seconds + 0.05) << pattern.name << ": " << a.seconds << " s, then " << b.seconds << " s";
    EXPECT_LE(a.output, 3 * small.size() + 1024) << pattern.name;
    EXPECT_LE(b.output, 3 * large.size() + 1024) << pattern.name;
  }
}

}  // namespace
