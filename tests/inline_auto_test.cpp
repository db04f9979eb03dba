// `kvx auto --inline` with the real compiler: a rejected annotation is taken
// out again, the counts are reported, and the compiled program behaves like
// the source.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kvx_test::read_file;
using kvx_test::run_kvx;
using kvx_test::run_shell;
using kvx_test::write_file;

const fs::path kToolsModules = fs::path(KVX_SOURCE_DIR) / ".ci/tools/node_modules";

// With the compiler session, and without it (its script cannot be written:
// one compiler process per compile), the same annotations go.
TEST(InlineAuto, DropsRejectedAnnotationsAndKeepsBehaviour) {
  std::string output;
  if (run_shell("node -v", &output) != 0) GTEST_SKIP() << "Node.js is not on PATH";
  if (!fs::exists(kToolsModules / "typescript/bin/tsc")) GTEST_SKIP() << "run .ci/install-node-tools.sh";
  for (const bool session : {true, false}) {
    SCOPED_TRACE(session ? "compiler session" : "one compiler process per compile");
    kvx_test::ScopedWorkDir dir;
    fs::create_directory_symlink(kToolsModules, "node_modules");
    if (!session) fs::create_directories(".kvx/kvx-check.js");
    // The comment says `string`; the compiler knows `size` is a number (the
    // evidence does not follow `fs.statSync(...).size`): that annotation is
    // dropped, the proven ones stay.
    const std::string source =
        "const fs = require('fs');\n"
        "/** @returns {string} */\n"
        "function size(file) {\n"
        "  return fs.statSync(file).size;\n"
        "}\n"
        "function twice(n) { return n * 2; }\n"
        "console.log(size('app.js') > 0, twice(2));\n";
    write_file("app.js", source);
    std::string console;
    ASSERT_EQ(run_kvx({"auto", "--inline", "app.js"}, &console), 0) << console;
    EXPECT_NE(console.find("[INLINE] Annotations: 4 written, 3 kept, 1 dropped."), std::string::npos) << console;
    const std::string generated = read_file("generated/app.ts");
    EXPECT_NE(generated.find("function size(file: string) {"), std::string::npos) << generated;
    EXPECT_NE(generated.find("function twice(n: number): number {"), std::string::npos) << generated;

    std::string expected;
    std::string actual;
    ASSERT_EQ(run_shell("node app.js", &expected), 0) << expected;
    ASSERT_EQ(run_shell("node dist/app.js", &actual), 0) << actual;
    EXPECT_EQ(actual, expected);
  }
}

// An error that neither its names nor its place lead to an annotation (the
// comment's `number` reaches `c.trim()` through an unannotated constant):
// the check finds the annotation by halving the rest, and keeps the others,
// rather than dropping every annotation of the file.
TEST(InlineAuto, FindsAnAnnotationItCannotTraceAndKeepsTheRest) {
  std::string output;
  if (run_shell("node -v", &output) != 0) GTEST_SKIP() << "Node.js is not on PATH";
  if (!fs::exists(kToolsModules / "typescript/bin/tsc")) GTEST_SKIP() << "run .ci/install-node-tools.sh";
  kvx_test::ScopedWorkDir dir;
  fs::create_directory_symlink(kToolsModules, "node_modules");
  write_file("app.js",
             "const table = { 1: ' one ' };\n"
             "/** @returns {number} */\n"
             "function code(x) { return table[x]; }\n"
             "function twice(n) { return n * 2; }\n"
             "function area(w, h) { return w * h; }\n"
             "function show() {\n"
             "  const c = code(1);\n"
             "  console.log(c.trim());\n"
             "}\n"
             "show();\n"
             "console.log(twice(2), area(2, 3));\n");
  std::string console;
  ASSERT_EQ(run_kvx({"auto", "--inline", "app.js"}, &console), 0) << console;
  const std::string generated = read_file("generated/app.ts");
  EXPECT_NE(generated.find("function code(x: number) {"), std::string::npos) << generated;
  EXPECT_NE(generated.find("function twice(n: number): number {"), std::string::npos) << generated;
  EXPECT_NE(generated.find("function area(w: number, h: number): number {"), std::string::npos) << generated;
  EXPECT_NE(console.find("[OK] Final JS built: dist/app.js"), std::string::npos) << console;
}

TEST(InlineAuto, ModeAWritesTheWholeFileAndSaysSo) {
  kvx_test::ScopedWorkDir dir;
  write_file("app.js", "let unit;\nunit = 'cm';\nconsole.log(unit);\n");
  write_file("generated/app.ts", "old\n");
  std::string console;
  ASSERT_EQ(run_kvx({"a", "app.js", "--inline"}, &console), 0) << console;
  EXPECT_NE(console.find("--inline writes the whole file"), std::string::npos) << console;
  EXPECT_EQ(read_file("generated/app.ts"), "let unit: string;\nunit = 'cm';\nconsole.log(unit);\nexport {};\n");
}

}  // namespace
