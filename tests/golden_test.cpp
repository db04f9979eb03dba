// The TypeScript that `kvx w` writes for each program of examples/, and the
// same file after hardening, against the files kept in tests/golden/. A
// change of output shows here as a diff of whole files.
//
// After an intended change of output, refresh the files and review the diff:
//   KVX_UPDATE_GOLDEN=1 ctest --test-dir build -R Golden
//   git diff tests/golden/
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"
#include "tsx/tsx_engine.h"

namespace {

namespace fs = std::filesystem;

const fs::path kExamples = fs::path(KVX_SOURCE_DIR) / "examples";
const fs::path kGolden = fs::path(KVX_SOURCE_DIR) / "tests" / "golden";

bool updating() {
  const char* flag = std::getenv("KVX_UPDATE_GOLDEN");
  return flag != nullptr && std::string(flag) == "1";
}

std::vector<fs::path> examples() {
  std::vector<fs::path> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(kExamples)) {
    if (entry.path().extension() == ".js") found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Compares `actual` with the golden file `name`, or rewrites it when refreshing.
void check_golden(const std::string& name, const std::string& actual) {
  const fs::path golden = kGolden / name;
  if (updating()) {
    fs::create_directories(kGolden);
    kvx_test::write_file(golden, actual);
    return;
  }
  ASSERT_TRUE(fs::exists(golden)) << golden << " is missing; KVX_UPDATE_GOLDEN=1 writes it";
  EXPECT_EQ(actual, kvx_test::read_file(golden)) << "output of " << name << " changed";
}

TEST(Golden, EveryExampleHasItsFiles) {
  const std::vector<fs::path> programs = examples();
  ASSERT_FALSE(programs.empty());
  if (updating()) return;
  for (const fs::path& program : programs) {
    const std::string stem = program.stem().string();
    EXPECT_TRUE(fs::exists(kGolden / (stem + ".ts"))) << stem;
    EXPECT_TRUE(fs::exists(kGolden / (stem + ".hardened.ts"))) << stem;
  }
  // And no golden file outlives its example.
  for (const fs::directory_entry& entry : fs::directory_iterator(kGolden)) {
    std::string stem = entry.path().filename().string();
    stem = stem.substr(0, stem.find('.'));
    EXPECT_TRUE(fs::exists(kExamples / (stem + ".js"))) << entry.path();
  }
}

TEST(Golden, ExamplesTranspileAndHardenAsRecorded) {
  for (const fs::path& program : examples()) {
    SCOPED_TRACE(program.filename().string());
    kvx_test::ScopedWorkDir work;
    const std::string name = program.filename().string();
    const std::string stem = program.stem().string();
    std::string console;
    const std::string typed = kvx_test::transpile_js(kvx_test::read_file(program), &console, name);
    ASSERT_FALSE(typed.empty()) << console;
    check_golden(stem + ".ts", typed);

    testing::internal::CaptureStdout();
    const int hardened_status = tsx_enhance_and_secure_ts(name);
    const std::string hardening_console = testing::internal::GetCapturedStdout();
    ASSERT_EQ(hardened_status, 0) << hardening_console;
    check_golden(stem + ".hardened.ts", kvx_test::read_file(fs::path("generated") / (stem + ".ts")));
  }
}

}  // namespace
