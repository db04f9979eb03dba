#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/console.h"
#include "fake_tools.h"
#include "test_support.h"
#include "tsx/tsc_compiler.h"

namespace {

using kvx_test::FakeTools;
using kvx_test::read_file;
using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

const std::vector<std::string> kArgsWithoutTypes = {
    "tsc",      "generated/app.ts", "--outDir", "dist",  "--target",       "ES2020", "--module",
    "commonjs", "--esModuleInterop", "--strict", "false", "--skipLibCheck"};
const std::vector<std::string> kArgsWithTypes = {
    "tsc",      "generated/app.ts",  "--outDir", "dist", "--target", "ES2020", "--module",
    "commonjs", "--esModuleInterop", "--types",  "node", "--strict", "false",  "--skipLibCheck"};

const char* const kTip = CLR_YELLOW
    "\n[TIP] If your project uses Node.js APIs (fs, path, http, Buffer, process...),\n" CLR_RESET
    CLR_YELLOW "      install the Node type definitions in your project folder:\n" CLR_RESET
    CLR_CYAN "      -> npm install --save-dev @types/node\n\n" CLR_RESET;

TEST(TscCommand, IsTheFixedCompilerLineInBothForms) {
  struct Case {
    bool node_types;
    const char* line;
    const std::vector<std::string>* args;
  } cases[] = {
      {false,
       "npx tsc \"generated/app.ts\" --outDir dist --target ES2020 --module commonjs "
       "--esModuleInterop --strict false --skipLibCheck",
       &kArgsWithoutTypes},
      {true,
       "npx tsc \"generated/app.ts\" --outDir dist --target ES2020 --module commonjs "
       "--esModuleInterop --types node --strict false --skipLibCheck",
       &kArgsWithTypes},
  };
  for (const Case& c : cases) {
    const PlatformCommand command = tsc_build_command("generated/app.ts", c.node_types);
    EXPECT_EQ(command.command_line, c.line);
    std::vector<std::string> expected = {"npx"};
    expected.insert(expected.end(), c.args->begin(), c.args->end());
    EXPECT_EQ(command.argv, expected);
  }
}

// A project folder with fake tools first on PATH; the error log exists so the
// entries can be checked.
class TscCompile : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(".kvx");
    std::filesystem::create_directory("generated");
  }

  int compile(const std::string& path, std::string* console) {
    testing::internal::CaptureStdout();
    const int status = tsc_compile_to_dist(path);
    *console = testing::internal::GetCapturedStdout();
    return status;
  }

  static void install_node_types() {
    std::filesystem::create_directories("node_modules/@types/node");
    write_file("node_modules/@types/node/index.d.ts", "// types\n");
  }

  ScopedWorkDir dir_;
  FakeTools tools_;
};

TEST_F(TscCompile, RunsTheCompilerAndReportsTheBuiltFile) {
  struct Case {
    bool node_types;
    const std::vector<std::string>* args;
  } cases[] = {{false, &kArgsWithoutTypes}, {true, &kArgsWithTypes}};
  for (const Case& c : cases) {
    if (c.node_types) install_node_types();
    write_file("generated/app.ts", "let a: unknown;\n");
    std::string console;
    ASSERT_EQ(compile("src/app.js", &console), 0) << console;
    EXPECT_EQ(tools_.compiler_args(), *c.args);
    EXPECT_EQ(console, CLR_CYAN "[TSC] Compiling hardened generated/app.ts -> dist/app.js...\n" CLR_RESET
                       "fake-compiler-output\n"
                       CLR_GREEN "[OK] Final JS built: dist/app.js\n" CLR_RESET);
    EXPECT_TRUE(std::filesystem::is_directory("dist"));
  }
  EXPECT_EQ(read_file(".kvx/errors.txt"), "");
}

TEST_F(TscCompile, AFailureShowsTheCompilersStatusAndTheTipOnlyWithoutNodeTypes) {
  write_file("generated/app.ts", "let a: unknown;\n");
  tools_.compiler_exits_with(2);
  std::string console;
  EXPECT_EQ(compile("app.js", &console), 1);
  EXPECT_EQ(console, CLR_CYAN "[TSC] Compiling hardened generated/app.ts -> dist/app.js...\n" CLR_RESET
                     "fake-compiler-output\n"
                     CLR_RED "[ERROR] tsc compilation failed (exit code 2).\n" CLR_RESET +
                         std::string(kTip));

  install_node_types();
  tools_.compiler_exits_with(1);
  EXPECT_EQ(compile("app.js", &console), 1);
  EXPECT_EQ(console, CLR_CYAN "[TSC] Compiling hardened generated/app.ts -> dist/app.js...\n" CLR_RESET
                     "fake-compiler-output\n"
                     CLR_RED "[ERROR] tsc compilation failed (exit code 1).\n" CLR_RESET);

  const std::string log = read_file(".kvx/errors.txt");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
  EXPECT_NE(log.find("] tsc compilation failed\n"), std::string::npos) << log;
}

TEST_F(TscCompile, AMissingInputNamesTheSourceTwiceAndCreatesNoDist) {
  struct Case {
    const char* source;
    const char* input;
  } cases[] = {
      {"src/app.js", "generated/app.ts"},
      {"app.JS", "generated/app.JS.ts"},  // the suffix test is case-sensitive
  };
  for (const Case& c : cases) {
    std::filesystem::remove(".kvx/errors.txt");
    // The other spelling exists and must not be taken for it.
    write_file("generated/app.js.ts", "");
    std::string console;
    EXPECT_EQ(compile(c.source, &console), 1);
    EXPECT_EQ(console, std::string(CLR_RED "[ERROR] Generated TypeScript file '") + c.input +
                           "' does not exist yet.\n" CLR_RESET CLR_YELLOW
                           "        Run 'kvx w " + c.source +
                           "' first to generate TypeScript, or use 'kvx auto " + c.source +
                           "'.\n\n" CLR_RESET);
    EXPECT_NE(read_file(".kvx/errors.txt").find("] Mode G blocked: missing generated .ts file\n"),
              std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists("dist"));
  EXPECT_FALSE(tools_.compiler_ran());
}

TEST_F(TscCompile, MissingToolsAreReportedBeforeAnythingElse) {
  struct Case {
    void (FakeTools::*remove)();
    const char* report;
    const char* log_entry;
  } cases[] = {
      {&FakeTools::node_missing, "Node.js was not found.", "Node.js was not found in system PATH"},
      {&FakeTools::tsc_missing, "TypeScript compiler (tsc) was not found.",
       "TypeScript compiler (tsc) missing"},
  };
  write_file("generated/app.ts", "let a: unknown;\n");
  for (const Case& c : cases) {
    FakeTools tools;
    (tools.*c.remove)();
    std::string console;
    EXPECT_EQ(compile("app.js", &console), 1);
    EXPECT_NE(console.find(c.report), std::string::npos) << console;
    EXPECT_EQ(console.find("[TSC]"), std::string::npos) << console;
    EXPECT_NE(read_file(".kvx/errors.txt").find(c.log_entry), std::string::npos);
    EXPECT_FALSE(tools.compiler_ran());
  }
  EXPECT_FALSE(std::filesystem::exists("dist"));
}

TEST_F(TscCompile, AFileNameReachesTheCompilerAsOneArgument) {
  const std::string source = "a b\";touch pwned;\"$(touch pwned2).js";
  const std::string input = "generated/a b\";touch pwned;\"$(touch pwned2).ts";
  write_file(input, "let a: unknown;\n");
  std::string console;
  ASSERT_EQ(compile(source, &console), 0) << console;
  ASSERT_GE(tools_.compiler_args().size(), 2u);
  EXPECT_EQ(tools_.compiler_args()[1], input);
  EXPECT_FALSE(std::filesystem::exists("pwned"));
  EXPECT_FALSE(std::filesystem::exists("pwned2"));
}

class AutoPipeline : public TscCompile {
 protected:
  int run(const std::string& path, std::string* console) {
    testing::internal::CaptureStdout();
    const int status = tsx_run_full_pipeline(path);
    *console = testing::internal::GetCapturedStdout();
    return status;
  }
};

const char* const kBanner =
    CLR_CYAN "\n=== KORVEX AUTO PIPELINE (JS -> TS -> TSX -> TSC -> JS) ===\n\n" CLR_RESET;

TEST_F(AutoPipeline, StopsAtAGenerationFailureBeforeHardeningOrCompiling) {
  std::string console;
  EXPECT_EQ(run("notes.txt", &console), 1);
  EXPECT_EQ(console.rfind(kBanner, 0), 0u) << console;
  EXPECT_EQ(console.find("[TSX]"), std::string::npos) << console;
  EXPECT_FALSE(tools_.compiler_ran());
  EXPECT_FALSE(std::filesystem::exists("dist"));
}

TEST_F(AutoPipeline, GeneratesHardensAndCompilesInThatOrder) {
  write_file("app.js", "function f(a) { return a; }\n");
  std::string console;
  ASSERT_EQ(run("app.js", &console), 0) << console;
  const size_t banner = console.find(kBanner);
  const size_t generated = console.find("generated/app.ts");
  const size_t hardened = console.find("[TSX] Hardening generated/app.ts");
  const size_t compiled = console.find("[TSC] Compiling hardened generated/app.ts");
  const size_t built = console.find("[OK] Final JS built: dist/app.js");
  EXPECT_EQ(banner, 0u) << console;
  EXPECT_LT(banner, generated) << console;
  EXPECT_LT(generated, hardened) << console;
  EXPECT_LT(hardened, compiled) << console;
  EXPECT_LT(compiled, built) << console;
  EXPECT_NE(built, std::string::npos) << console;
  EXPECT_EQ(tools_.compiler_args(), kArgsWithoutTypes);
}

TEST_F(AutoPipeline, AMissingNodeIsReportedAfterTheFileWasGenerated) {
  tools_.node_missing();
  write_file("app.js", "let x = 1;\n");
  std::string console;
  EXPECT_EQ(run("app.js", &console), 1);
  EXPECT_TRUE(std::filesystem::exists("generated/app.ts"));
  EXPECT_NE(console.find("Node.js was not found."), std::string::npos) << console;
  EXPECT_FALSE(tools_.compiler_ran());
}

}  // namespace
