// The compiler session over several checks of one file, and a folder run
// whose session cannot start.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fake_tools.h"
#include "test_support.h"
#include "tsx/compiler_session.h"

namespace {

namespace fs = std::filesystem;
using kvx_test::read_file;
using kvx_test::run_kvx;
using kvx_test::run_shell;
using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

const fs::path kToolsModules = fs::path(KVX_SOURCE_DIR) / ".ci/tools/node_modules";

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// A module whose errors lie after, inside and before the places the edits
// below change, so that a part of the file parsed at the wrong place shows.
const std::string kModule =
    "export {};\n"
    "function pad(text: string, width: number): string {\n"
    "  return text + ' '.repeat(width - text.length);\n"
    "}\n"
    "const aaaa: string = 'aaaa';\n"
    "function twice(n: number): number {\n"
    "  return n * 2;\n"
    "}\n"
    "const label: number = pad('x', 2);\n"
    "class Box {\n"
    "  size: number;\n"
    "  grow(by: number) { this.size += by; return this.size.toFixed(by); }\n"
    "}\n"
    "const shown: boolean = twice(3);\n"
    "new Box().grow('1');\n";

// Each check of a file changed since its last check gives what a first
// check of that text gives: the session reparses only the span that
// changed, and the rest of the file must land where it did.
TEST(CompilerSessionWithCompiler, AChangedFileChecksAsItsTextCheckedAfresh) {
  std::string output;
  if (run_shell("node -v", &output) != 0) GTEST_SKIP() << "Node.js is not on PATH";
  if (!fs::exists(kToolsModules / "typescript/bin/tsc")) GTEST_SKIP() << "run .ci/install-node-tools.sh";
  ScopedWorkDir dir;
  fs::create_directory_symlink(kToolsModules, "node_modules");
  std::optional<CompilerSession> session = compiler_session_start(true);
  ASSERT_TRUE(session.has_value());

  struct Edit {
    const char* what;
    std::string from;
    std::string to;
    std::string from2 = "";  // a second change in the same text, when not empty
    std::string to2 = "";
  };
  // Applied one after the other to the file's last text.
  const std::vector<Edit> edits = {
      {"an annotation taken out mid-file", "function twice(n: number): number", "function twice(n)"},
      {"an annotation put back", "function twice(n)", "function twice(n: number): number"},
      {"a change where the old and new text repeat a byte", "'aaaa'", "'aaaaa'"},
      {"a line taken out", "  size: number;\n", ""},
      {"a change at the start", "export {};\n", "export {};\nconst first: string = 1;\n"},
      {"a change at the end", "new Box().grow('1');\n", "new Box().grow(1);\nconst last: number = '';\n"},
      {"changes at both ends (the file parsed whole)", "export {};\n", "export {};\nlet lead: string = 2;\n",
       "new Box().grow(1);\n", "new Box().grow(true);\n"},
      {"a statement split in two", "return n * 2;", "const m = n;\n  return m * '2';"},
  };
  const std::string file = "generated/m.ts";
  std::string text = kModule;
  ASSERT_TRUE(compiler_session_set(*session, file, text));
  ASSERT_TRUE(compiler_session_check(*session, file, false).has_value());
  int fresh_index = 0;
  for (const Edit& edit : edits) {
    for (const auto& [from, to] : {std::pair{edit.from, edit.to}, std::pair{edit.from2, edit.to2}}) {
      if (from.empty()) continue;
      const size_t at = text.find(from);
      ASSERT_NE(at, std::string::npos) << edit.what;
      text.replace(at, from.size(), to);
    }
    ASSERT_TRUE(compiler_session_set(*session, file, text)) << edit.what;
    const std::optional<SessionCompile> changed = compiler_session_check(*session, file, false);
    // The same text as a file the session has never seen: parsed whole.
    const std::string fresh_file = "generated/fresh" + std::to_string(fresh_index++) + ".ts";
    ASSERT_TRUE(compiler_session_set(*session, fresh_file, text)) << edit.what;
    const std::optional<SessionCompile> fresh = compiler_session_check(*session, fresh_file, false);
    ASSERT_TRUE(changed.has_value() && fresh.has_value()) << edit.what;
    EXPECT_NE(fresh->output.find("error TS"), std::string::npos) << edit.what;
    EXPECT_EQ(changed->output, replace_all(fresh->output, fresh_file, file)) << edit.what;
    EXPECT_EQ(changed->status, fresh->status) << edit.what;
  }
}

// A folder run starts its session before it prepares the files; when the
// session cannot be had (here a `node` that is not Node.js), each file is
// compiled on its own as without one, and the run completes.
TEST(ProjectRunWithoutSession, AFolderWhoseSessionCannotStartIsCompiledFileByFile) {
  ScopedWorkDir dir;
  kvx_test::FakeTools tools;
  write_file("proj/a.js", "function twice(n) { return n * 2; }\nmodule.exports = { twice };\n");
  write_file("proj/b.js", "const { twice } = require('./a');\nconsole.log(twice(2));\n");
  write_file(".kvx/mode.txt", "auto\n");
  std::string console;
  EXPECT_EQ(run_kvx({"go", "proj", "--inline"}, &console), 0) << console;
  for (const char* file : {"a", "b"}) {
    EXPECT_NE(console.find(std::string("[TSC] Compiling inline generated/") + file + ".ts -> dist/" + file + ".js..."),
              std::string::npos)
        << console;
    EXPECT_NE(console.find(std::string("[OK] Final JS built: dist/") + file + ".js"), std::string::npos) << console;
  }
  // The compiler ran as a process of its own, on the last file.
  const std::vector<std::string> args = tools.compiler_args();
  ASSERT_GE(args.size(), 2u) << console;
  EXPECT_EQ(args[0], "tsc");
  EXPECT_EQ(args[1], "generated/b.ts");
}

}  // namespace
