// The automatic pipeline through the built binary: every example with the real
// TypeScript compiler, and the failures with fake tools first on PATH.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fake_tools.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kvx_test::FakeTools;
using kvx_test::read_file;
using kvx_test::run_kvx;
using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

const fs::path kSourceDir = KVX_SOURCE_DIR;
const fs::path kToolsModules = kSourceDir / ".ci/tools/node_modules";

std::vector<fs::path> examples() {
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(kSourceDir / "examples")) {
    if (entry.is_regular_file() && entry.path().extension() == ".js") found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Runs a shell command in the working directory; its exit status, with
// standard output and error in `output`.
int run_shell(const std::string& command, std::string* output) {
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t read = 0;
  output->clear();
  while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, read);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// An example that loads files of its own beside it is a module of a larger
// program, not a program that runs alone.
bool runs_alone(const std::string& source) {
  for (const char* relative : {"from './", "from \"./", "from '../", "from \"../", "require('./",
                               "require(\"./", "require('../", "require(\"../"}) {
    if (source.find(relative) != std::string::npos) return false;
  }
  return true;
}

// Every line that still says ": any" outside a catch clause.
std::vector<std::string> weak_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.find(": any") != std::string::npos && line.find("catch (") == std::string::npos &&
        line.find("catch(") == std::string::npos) {
      lines.push_back(line);
    }
    start = end + 1;
  }
  return lines;
}

TEST(AutoEndToEnd, EveryExampleCompilesWithTheRealTypeScriptAndRuns) {
  std::string output;
  ASSERT_TRUE(fs::exists(kToolsModules / "typescript/bin/tsc") &&
              fs::exists(kToolsModules / "@types/node/index.d.ts"))
      << "TypeScript for the end-to-end tests is missing from " << kToolsModules
      << ": run .ci/install-node-tools.sh";
  ASSERT_EQ(run_shell("node -v", &output), 0)
      << "Node.js is not on PATH (the end-to-end tests need node and npx): " << output;

  const std::vector<fs::path> all = examples();
  ASSERT_FALSE(all.empty());
  for (const fs::path& example : all) {
    SCOPED_TRACE(example.filename().string());
    ScopedWorkDir dir;
    fs::create_directory_symlink(kToolsModules, "node_modules");
    fs::copy_file(example, example.filename());
    const std::string name = example.filename().string();
    const std::string stem = example.stem().string();

    std::string console;
    EXPECT_EQ(run_kvx({"auto", name}, &console), 0) << console;
    EXPECT_NE(console.find("[OK] Final JS built: dist/" + stem + ".js"), std::string::npos) << console;
    EXPECT_EQ(weak_lines(read_file("generated/" + stem + ".ts")), std::vector<std::string>{});
    ASSERT_TRUE(fs::exists("dist/" + stem + ".js")) << console;

    if (runs_alone(read_file(name))) {
      EXPECT_EQ(run_shell("node 'dist/" + stem + ".js'", &output), 0) << output;
    }
  }
}

class AutoWithFakeTools : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(".kvx");
    write_file("app.js", "function twice(n) { return n * 2; }\n");
  }
  ScopedWorkDir dir_;
  FakeTools tools_;
};

TEST_F(AutoWithFakeTools, MissingNodeStopsAfterGeneration) {
  tools_.node_missing();
  std::string console;
  EXPECT_EQ(run_kvx({"auto", "app.js"}, &console), 1);
  EXPECT_NE(console.find("Node.js was not found."), std::string::npos) << console;
  EXPECT_TRUE(fs::exists("generated/app.ts"));
  EXPECT_FALSE(tools_.compiler_ran());
  EXPECT_NE(read_file(".kvx/errors.txt").find("Node.js was not found in system PATH"),
            std::string::npos);
}

TEST_F(AutoWithFakeTools, MissingCompilerIsReported) {
  tools_.tsc_missing();
  std::string console;
  EXPECT_EQ(run_kvx({"auto", "app.js"}, &console), 1);
  EXPECT_NE(console.find("TypeScript compiler (tsc) was not found."), std::string::npos) << console;
  EXPECT_FALSE(tools_.compiler_ran());
}

TEST_F(AutoWithFakeTools, ACompileFailureFailsModesAutoAndG) {
  tools_.compiler_exits_with(2);
  for (const char* mode : {"auto", "g"}) {
    std::string console;
    EXPECT_EQ(run_kvx({mode, "app.js"}, &console), 1) << mode;
    EXPECT_NE(console.find("[ERROR] tsc compilation failed (exit code 2)."), std::string::npos)
        << mode << console;
    EXPECT_NE(console.find("fake-compiler-output"), std::string::npos) << mode << console;
  }
  const std::string log = read_file(".kvx/errors.txt");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
}

}  // namespace
