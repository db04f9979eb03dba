// The output of `kvx w` grows linearly with the input: for each pattern of
// scaling_patterns.cpp, the generated file and the console at 4n stay within a
// few times the input, and the generated file within 6 times the one at n.
// Only sizes are checked here, which no load on the machine can change; the
// time and peak memory of the same patterns are the benchmark's
// (bench/scaling/).
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "scaling_patterns.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kvx_scaling::ScalingPattern;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr double kMaxGrowth = 6.0;         // for 4 times the input
constexpr double kOutputPerInputByte = 8;  // generated file and console

// Module statements and nested functions write little beside the input.
double output_per_input_byte(std::string_view pattern) {
  constexpr std::string_view kCompact[] = {"imports_and_dynamic_imports", "statements_that_never_close",
                                           "nested_function_declarations", "nested_exports"};
  return std::find(std::begin(kCompact), std::end(kCompact), pattern) != std::end(kCompact) ? 3 : kOutputPerInputByte;
}

struct Sizes {
  int status = -1;
  double output_bytes = 0;
  double console_bytes = 0;
};

// Runs `kvx w input.js` with `source` in a fresh folder under `root`; the
// console goes to console.txt.
Sizes run_kvx(const fs::path& root, const std::string& source) {
  const fs::path folder = root / "run";
  fs::remove_all(folder);
  fs::create_directories(folder);
  kvx_test::write_file(folder / "input.js", source);
  Sizes sizes;
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    const int console = open("console.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (console < 0) _exit(127);
    dup2(console, 1);
    dup2(console, 2);
    execl(KVX_BINARY_PATH, KVX_BINARY_PATH, "w", "input.js", static_cast<char*>(nullptr));
    _exit(127);
  }
  if (child < 0) return sizes;
  int status = 0;
  if (waitpid(child, &status, 0) != child) return sizes;
  sizes.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::error_code error;
  const auto output_size = fs::file_size(folder / "generated" / "input.ts", error);
  sizes.output_bytes = error ? 0.0 : static_cast<double>(output_size);
  const auto console_size = fs::file_size(folder / "console.txt", error);
  sizes.console_bytes = error ? 0.0 : static_cast<double>(console_size);
  fs::remove_all(folder);
  return sizes;
}

class OutputScaling : public ::testing::TestWithParam<size_t> {};

TEST_P(OutputScaling, StaysProportionalToTheInput) {
  const ScalingPattern& pattern = kvx_scaling::scaling_patterns()[GetParam()];
  // Sanitized builds are many times slower: they run smaller inputs.
  const int n = kSanitized ? std::max(1, pattern.n / 16) : pattern.n;
  const std::string small = pattern.generate(n);
  const std::string large = pattern.generate(4 * n);
  const double small_input = static_cast<double>(small.size());
  const double large_input = static_cast<double>(large.size());
  ASSERT_GT(large_input, 3.0 * small_input) << "the generator must grow with n";

  kvx_test::ScopedWorkDir work;
  const Sizes at_n = run_kvx(work.path(), small);
  const Sizes at_4n = run_kvx(work.path(), large);
  SCOPED_TRACE(std::string(pattern.name) + ": " + std::to_string(small.size()) + " -> " +
               std::to_string(large.size()) + " bytes in, " + std::to_string(at_n.output_bytes) + " -> " +
               std::to_string(at_4n.output_bytes) + " bytes out");

  ASSERT_NE(at_4n.status, -1) << "kvx did not finish";
  ASSERT_EQ(at_n.status, at_4n.status);
  const double per_byte = output_per_input_byte(pattern.name);
  EXPECT_LE(at_n.output_bytes, per_byte * small_input + 4096);
  EXPECT_LE(at_4n.output_bytes, per_byte * large_input + 4096);
  EXPECT_LE(at_4n.console_bytes, kOutputPerInputByte * large_input + 4096);
  EXPECT_LE(at_4n.output_bytes, kMaxGrowth * at_n.output_bytes + 4096);
}

std::vector<size_t> pattern_indexes() {
  std::vector<size_t> indexes(kvx_scaling::scaling_patterns().size());
  for (size_t i = 0; i < indexes.size(); ++i) indexes[i] = i;
  return indexes;
}

INSTANTIATE_TEST_SUITE_P(Patterns, OutputScaling, ::testing::ValuesIn(pattern_indexes()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return std::string(kvx_scaling::scaling_patterns()[info.param].name);
                         });

}  // namespace
