// Folder runs as projects: the generated and compiled trees mirror the
// source tree, two inputs of one run never write the same file, and mode auto
// with --inline checks a whole run through one compiler session.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_project.h"
#include "core/console.h"
#include "fake_tools.h"
#include "pipeline/output_path.h"
#include "platform/child_process.h"
#include "test_support.h"
#include "tsx/compiler_session.h"
#include "tsx/inline_check.h"

namespace {

namespace fs = std::filesystem;
using kvx_test::read_file;
using kvx_test::run_kvx;
using kvx_test::run_shell;
using kvx_test::ScopedWorkDir;
using kvx_test::write_file;

const fs::path kToolsModules = fs::path(KVX_SOURCE_DIR) / ".ci/tools/node_modules";

// A small project: two index.js in different folders, a relative require,
// an ES import, and a class used across files.
void write_fixture(const std::string& root) {
  write_file(root + "/src/lib/shape.js",
             "class Shape {\n"
             "  constructor(name) { this.name = name; }\n"
             "  describe() { return 'shape ' + this.name; }\n"
             "}\n"
             "module.exports = { Shape };\n");
  write_file(root + "/src/a/index.js",
             "const { Shape } = require('../lib/shape');\n"
             "function make(name) { return new Shape(name); }\n"
             "module.exports = { make };\n");
  write_file(root + "/src/lib/format.js", "export function format(text) { return '[' + text + ']'; }\n");
  write_file(root + "/src/b/index.js",
             "import { format } from '../lib/format';\n"
             "const label = 'b';\n"
             "export function run() { return format(label); }\n");
  write_file(root + "/node_modules/dep/index.js", "module.exports = 1;\n");
}

TEST(OutputPath, MirrorsTheTreeBelowTheFolderAndKeepsTheStemOtherwise) {
  ScopedWorkDir dir;
  fs::create_directories("proj/src/a");
  const std::string absolute = (fs::current_path() / "proj/src/a/index.js").string();
  struct Case {
    std::string source;
    std::string root;
    std::string ts;
    std::string js;
  } cases[] = {
      {"src/app.js", "", "generated/app.ts", "dist/app.js"},
      {"C:\\work/src\\x.js", "", "generated/x.ts", "dist/x.js"},
      {"proj/src/a/index.js", "proj", "generated/src/a/index.ts", "dist/src/a/index.js"},
      {absolute, "proj", "generated/src/a/index.ts", "dist/src/a/index.js"},
      {absolute, "./proj/", "generated/src/a/index.ts", "dist/src/a/index.js"},
      {"proj/top.js", "proj", "generated/top.ts", "dist/top.js"},
      // Not below the folder: its stem, as for a file named on its own.
      {"other/x.js", "proj", "generated/x.ts", "dist/x.js"},
      {std::string(300, 'n') + ".js", "", "generated/" + std::string(255, 'n') + ".ts",
       "dist/" + std::string(255, 'n') + ".js"},
  };
  for (const Case& c : cases) {
    const OutputPath output = output_path_for(c.source, c.root);
    EXPECT_EQ(output.ts(), c.ts) << c.source << " below " << c.root;
    EXPECT_EQ(output.js(), c.js) << c.source << " below " << c.root;
  }
}

TEST(OutputPath, ASecondSourceForOneOutputIsRefused) {
  OutputClaims claims;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(claim_output(claims, "a/index.js", output_path_for("a/index.js")));
  EXPECT_TRUE(claim_output(claims, "a/index.js", output_path_for("a/index.js")));  // itself again
  EXPECT_FALSE(claim_output(claims, "b/index.js", output_path_for("b/index.js")));
  EXPECT_TRUE(claim_output(claims, "b/x/index.js", output_path_for("b/x/index.js", "b")));  // generated/x/
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            CLR_RED "[ERROR] 'b/index.js' would overwrite generated/index.ts, written from 'a/index.js' in this "
                    "run: skipped.\n" CLR_RESET);
}

TEST(ProjectRun, FolderRunMirrorsTheTreeInEveryFormAndJobCount) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"go", "proj"}, std::vector<std::string>{"go", "proj", "--inline"}}) {
    for (const char* jobs : {"1", "2"}) {
      ScopedWorkDir dir;
      write_fixture("proj");
      std::string console;
      ASSERT_EQ(run_shell(std::string("KVX_JOBS=") + jobs + " " + kvx_test::shell_quote(KVX_BINARY_PATH) + " " +
                              args[0] + " " + args[1] + (args.size() > 2 ? " " + args[2] : ""),
                          &console),
                0)
          << console;
      for (const char* file : {"generated/src/a/index.ts", "generated/src/b/index.ts", "generated/src/lib/shape.ts",
                               "generated/src/lib/format.ts"}) {
        EXPECT_TRUE(fs::exists(file)) << file << "\n" << console;
      }
      EXPECT_FALSE(fs::exists("generated/index.ts")) << console;
      EXPECT_NE(console.find("[DONE] 4 / 4 file(s) transpiled successfully."), std::string::npos) << console;
    }
  }
}

// What one file exports is known where another file of the run imports or
// requires it, and the calls there type the exported function's parameters;
// a file converted alone knows neither. The same with the prefetch threads.
TEST(ProjectRun, FilesOfOneRunKnowWhatTheOthersExportAndHowTheyCallIt) {
  for (const char* jobs : {"1", "2"}) {
    ScopedWorkDir dir;
    write_fixture("proj");
    write_file("proj/src/lib/calc.js",
               "function scale(factor) { return factor; }\nfunction twice(n) { return n * 2; }\n"
               "module.exports = { scale, twice };\n");
    write_file("proj/src/c/index.js",
               "const calc = require('../lib/calc');\nconst { twice } = require('../lib/calc.js');\n"
               "calc.scale(3);\nfunction run(k) { return twice(k) + calc.scale(1); }\n"
               "const limits = require('../lib/limits');\nconst { NAME } = require('../lib/limits');\n"
               "function limit() { return limits.LIMIT; }\nfunction label() { return NAME; }\n"
               "function counted() { return limits.count; }\n");
    // Exported values of a known type, each assigned once; one the module
    // changes later has no single type.
    write_file("proj/src/lib/limits.js",
               "exports.count = exports.LIMIT = void 0;\nexports.LIMIT = 10;\nexports.NAME = 'calc';\n"
               "exports.count = 0;\nfunction bump() { exports.count++; }\n");
    // An ES class is a type where it is imported; a class of one file is no
    // name in another, which only calls the function that makes one.
    write_file("proj/src/d/point.js",
               "export class Point { constructor(x) { this.x = x; } }\n"
               "class Hidden {}\nexport function hidden() { return new Hidden(); }\nexport const TAG = 'pt';\n");
    write_file("proj/src/d/index.js",
               "import { Point as P, hidden, TAG } from './point.js';\n"
               "export function origin() { return new P(0); }\nexport function other() { return hidden(); }\n"
               "export function tag() { return TAG; }\n");
    std::string console;
    ASSERT_EQ(run_shell(std::string("KVX_JOBS=") + jobs + " " + kvx_test::shell_quote(KVX_BINARY_PATH) +
                            " go proj --inline",
                        &console),
              0)
        << console;
    EXPECT_NE(read_file("generated/src/lib/format.ts").find("function format(text: string): string"),
              std::string::npos)
        << read_file("generated/src/lib/format.ts");
    EXPECT_NE(read_file("generated/src/b/index.ts").find("export function run(): string"), std::string::npos)
        << read_file("generated/src/b/index.ts");
    EXPECT_NE(read_file("generated/src/lib/calc.ts").find("function scale(factor: number): number"),
              std::string::npos)
        << read_file("generated/src/lib/calc.ts");
    EXPECT_NE(read_file("generated/src/c/index.ts").find("function run(k: number): number"), std::string::npos)
        << read_file("generated/src/c/index.ts");
    EXPECT_NE(read_file("generated/src/d/index.ts").find("export function origin(): P {"), std::string::npos)
        << read_file("generated/src/d/index.ts");
    EXPECT_NE(read_file("generated/src/d/index.ts").find("export function other() {"), std::string::npos)
        << read_file("generated/src/d/index.ts");
    EXPECT_NE(read_file("generated/src/d/index.ts").find("export function tag(): string {"), std::string::npos)
        << read_file("generated/src/d/index.ts");
    const std::string c_index = read_file("generated/src/c/index.ts");
    EXPECT_NE(c_index.find("function limit(): number {"), std::string::npos) << c_index;
    EXPECT_NE(c_index.find("function label(): string {"), std::string::npos) << c_index;
    EXPECT_NE(c_index.find("function counted() {"), std::string::npos) << c_index;
  }
  ScopedWorkDir alone;
  write_fixture("proj");
  std::string console;
  ASSERT_EQ(run_kvx({"w", "--inline", "proj/src/lib/format.js"}, &console), 0) << console;
  EXPECT_NE(read_file("generated/format.ts").find("function format(text)"), std::string::npos)
      << read_file("generated/format.ts");
}

TEST(ProjectRun, FilesNamedOneByOneThatShareAnOutputRefuseTheSecond) {
  ScopedWorkDir dir;
  write_fixture("proj");
  std::string console;
  EXPECT_EQ(run_kvx({"w", "proj/src/a/index.js", "proj/src/b/index.js"}, &console), 1) << console;
  EXPECT_NE(console.find(CLR_RED "[ERROR] 'proj/src/b/index.js' would overwrite generated/index.ts, written from "
                                 "'proj/src/a/index.js' in this run: skipped."),
            std::string::npos)
      << console;
  EXPECT_NE(read_file("generated/index.ts").find("make"), std::string::npos);
  EXPECT_EQ(read_file("generated/index.ts").find("label"), std::string::npos);  // not overwritten
}

TEST(ProjectRun, TwoFoldersWithTheSameTreeCollideAndCountAsFailed) {
  ScopedWorkDir dir;
  write_file("one/index.js", "const a = 1;\n");
  write_file("two/index.js", "const b = 2;\n");
  std::string console;
  EXPECT_EQ(run_kvx({"go", "one", "two"}, &console), 1) << console;
  EXPECT_NE(console.find("would overwrite generated/index.ts"), std::string::npos) << console;
  EXPECT_NE(console.find("[DONE] 1 / 2 file(s) transpiled successfully."), std::string::npos) << console;
  EXPECT_NE(read_file("generated/index.ts").find("const a"), std::string::npos);
  EXPECT_EQ(read_file("generated/index.ts").find("const b"), std::string::npos);
}

TEST(ProjectRun, ModeGOfAFolderCompilesEachMirroredFileIntoTheMirroredDist) {
  ScopedWorkDir dir;
  kvx_test::FakeTools tools;
  write_fixture("proj");
  write_file(".kvx/mode.txt", "g\n");
  for (const char* file : {"generated/src/a/index.ts", "generated/src/b/index.ts", "generated/src/lib/format.ts",
                           "generated/src/lib/shape.ts"}) {
    write_file(file, "export {};\n");
  }
  std::string console;
  ASSERT_EQ(run_kvx({"go", "proj"}, &console), 0) << console;
  EXPECT_NE(console.find("[TSC] Compiling hardened generated/src/a/index.ts -> dist/src/a/index.js..."),
            std::string::npos)
      << console;
  EXPECT_NE(console.find("[OK] Final JS built: dist/src/lib/shape.js"), std::string::npos) << console;
  // The last compile: the root folder keeps the tree below dist/.
  const std::vector<std::string> expected = {"tsc", "generated/src/lib/shape.ts", "--outDir", "dist", "--rootDir",
                                             "generated", "--target", "ES2020"};
  const std::vector<std::string> args = tools.compiler_args();
  ASSERT_GE(args.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(args.begin(), args.begin() + static_cast<long>(expected.size())), expected);
}

TEST(CompilerSessionJson, QuotesAndReadsBack) {
  const std::string texts[] = {"plain", "quote \" and \\ back", "lines\n\r\tand \x01",
                               "\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80"};
  for (const std::string& text : texts) {
    const std::string object = "{\"ok\":true,\"n\":12,\"nested\":{\"x\":[1,2]},\"text\":" + json_quote(text) + "}";
    EXPECT_EQ(json_field(object, "text"), text) << object;
    EXPECT_EQ(json_field(object, "n"), "12");
    EXPECT_EQ(json_field(object, "ok"), "true");
    EXPECT_EQ(json_field(object, "missing"), std::nullopt);
  }
  // What Node writes for characters outside the basic plane and lone escapes.
  EXPECT_EQ(json_field(R"({"t":"\ud83d\ude00 \u00e9"})", "t"), "\xf0\x9f\x98\x80 \xc3\xa9");
}

TEST(ChildProcess, AnswersLineByLineUntilItsInputCloses) {
  ChildProcessPtr child = platform_child_start({"sh", "-c", "while read l; do echo \"got $l\"; done; exit 3"});
  ASSERT_TRUE(child);
  std::string line;
  for (const char* word : {"one", "two"}) {
    ASSERT_TRUE(platform_child_write(*child, std::string(word) + "\n"));
    ASSERT_TRUE(platform_child_read_line(*child, line));
    EXPECT_EQ(line, std::string("got ") + word);
  }
  EXPECT_EQ(platform_child_finish(*child), 3);

  // A program that ends at once: writes fail without killing us, reads end.
  ChildProcessPtr gone = platform_child_start({"sh", "-c", "exit 0"});
  ASSERT_TRUE(gone);
  std::string big(1 << 20, 'x');
  EXPECT_FALSE(platform_child_read_line(*gone, line));
  EXPECT_FALSE(platform_child_write(*gone, big));
  ChildProcessPtr missing = platform_child_start({"kvx-no-such-program"});
  if (missing) {
    EXPECT_EQ(platform_child_finish(*missing), 127);
  }
}

// An error reported at a use of a name comes from the annotation of that
// name, even on a line that holds another annotation.
TEST(InlineCheck, TracesAnErrorToTheAnnotationOfTheNameItUses) {
  const std::string source = "var screen = 3;\nvar label = 'x'; screen.toFixed();\n";
  std::vector<InlineInsertion> insertions(2);
  insertions[0].offset = 10;  // after `var screen`
  insertions[0].text = ": string";
  insertions[0].name = "screen";
  insertions[1].offset = 25;  // after `var label`
  insertions[1].text = ": string";
  insertions[1].name = "label";
  const std::string text = apply_insertions(source, insertions);
  ASSERT_EQ(text, "var screen: string = 3;\nvar label: string = 'x'; screen.toFixed();\n");
  const int use = static_cast<int>(text.find("screen.toFixed"));
  // The error is on `toFixed`; the session resolves `screen` to its declaration.
  const CompilerError error{2, static_cast<int>(text.find("toFixed") - text.find('\n')), 2339};
  const DeclarationLookup lookup = [&](int at) -> std::optional<int> {
    if (at == use) return 10;
    return std::nullopt;
  };
  std::vector<bool> keep(2, true);
  EXPECT_EQ(drop_traced_insertions(source, insertions, keep, {error}, lookup), 1);
  EXPECT_EQ(keep, (std::vector<bool>{false, true}));
  // Without a lookup nothing is traced.
  keep.assign(2, true);
  EXPECT_EQ(drop_traced_insertions(source, insertions, keep, {error}, nullptr), 0);
}

TEST(ProjectReport, JsonAndTsconfigNameTheRunsFiles) {
  InlineRunSummary summary;
  summary.files = 1;
  summary.written = 4;
  summary.kept = 3;
  summary.errors_before = 2;
  summary.errors_after = 2;
  summary.clean = 0;
  summary.session = true;
  summary.files_checked.push_back({"proj/src/a/index.js", "generated/src/a/index.ts", 4, 3, 2, 2, 0, true});
  EXPECT_EQ(project_report_json(summary),
            "{\n"
            "  \"files\": 1,\n"
            "  \"clean\": 0,\n"
            "  \"annotations\": {\"written\": 4, \"kept\": 3},\n"
            "  \"errors\": {\"before\": 2, \"after\": 2, \"added\": 0},\n"
            "  \"compilerSession\": true,\n"
            "  \"results\": [\n"
            "    {\"source\": \"proj/src/a/index.js\", \"generated\": \"generated/src/a/index.ts\", \"written\": 4, "
            "\"kept\": 3, \"errorsBefore\": 2, \"errorsAfter\": 2, \"errorsAdded\": 0, \"built\": true}\n"
            "  ]\n"
            "}\n");
  const std::string tsconfig = project_tsconfig_json(summary, true);
  EXPECT_NE(tsconfig.find("\"types\": [\"node\"]"), std::string::npos) << tsconfig;
  EXPECT_NE(tsconfig.find("\"files\": [\n    \"src/a/index.ts\"\n  ]"), std::string::npos) << tsconfig;
  EXPECT_NE(tsconfig.find("\"outDir\": \"../dist\""), std::string::npos) << tsconfig;
}

// With the real compiler: a folder in mode auto --inline is one compiler
// session, its tree lands in dist/ and runs, the summary, the report and
// generated/tsconfig.json come out.
TEST(ProjectRunWithCompiler, OneSessionForTheWholeFolder) {
  std::string output;
  if (run_shell("node -v", &output) != 0) GTEST_SKIP() << "Node.js is not on PATH";
  if (!fs::exists(kToolsModules / "typescript/bin/tsc")) GTEST_SKIP() << "run .ci/install-node-tools.sh";
  ScopedWorkDir dir;
  fs::create_directory_symlink(kToolsModules, "node_modules");
  write_fixture("proj");
  write_file("proj/src/main.js",
             "const { make } = require('./a/index');\nconst { run } = require('./b/index');\n"
             "console.log(make('m').describe(), run());\n");
  write_file(".kvx/mode.txt", "auto\n");
  const std::string log = (fs::current_path() / "sessions.log").string();
  std::string console;
  const int status = run_shell("KVX_CHECK_THREADS=2 KVX_CHECK_LOG=" + kvx_test::shell_quote(log) + " " +
                                   kvx_test::shell_quote(KVX_BINARY_PATH) + " go proj --inline --report report.json",
                               &console);
  EXPECT_EQ(status, 0) << console;
  // One compiler process for five files.
  const std::string notes = read_file(log);
  EXPECT_TRUE(notes.starts_with("start\n")) << notes;
  EXPECT_EQ(notes.find("start", 1), std::string::npos) << notes;
  // Each file's text is checked once: the texts checked ahead of the run are
  // those the run writes, inferred knowing what the other files export.
  std::map<std::string, int> checks;
  std::istringstream lines(notes);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string took, op, ms, file, cached;
    words >> took >> op >> ms >> file >> cached;
    if (took == "took" && op == "check" && cached.empty()) ++checks[file];
  }
  EXPECT_EQ(checks.size(), 5u) << notes;
  for (const auto& [file, count] : checks) EXPECT_EQ(count, 1) << file << "\n" << notes;
  for (const char* file : {"dist/src/a/index.js", "dist/src/b/index.js", "dist/src/lib/shape.js",
                           "dist/src/lib/format.js", "dist/src/main.js"}) {
    EXPECT_TRUE(fs::exists(file)) << file << "\n" << console;
  }
  std::string ran;
  EXPECT_EQ(run_shell("node dist/src/main.js", &ran), 0) << ran;
  EXPECT_EQ(ran, "shape m [b]\n");
  EXPECT_NE(console.find("=== KORVEX Inline Check Summary ==="), std::string::npos) << console;
  // b/index imports ../lib/format, an ES module: it resolves in the
  // generated tree as between the sources; a/index.js is a CommonJS script
  // whose `require` result the compiler types loosely, so nothing fails.
  EXPECT_NE(console.find("  Files         : 5 checked"), std::string::npos) << console;
  EXPECT_NE(console.find("(0 added by kvx)"), std::string::npos) << console;
  EXPECT_NE(read_file("report.json").find("\"files\": 5"), std::string::npos);
  EXPECT_NE(read_file("report.json").find("\"compilerSession\": true"), std::string::npos);
  const std::string tsconfig = read_file("generated/tsconfig.json");
  for (const char* file : {"\"src/main.ts\"", "\"src/a/index.ts\"", "\"src/lib/format.ts\""}) {
    EXPECT_NE(tsconfig.find(file), std::string::npos) << tsconfig;
  }
}

// The lines of `output` that report a compiler error, sorted, without colours.
std::vector<std::string> error_lines(const std::string& output) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < output.size()) {
    size_t end = output.find('\n', pos);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(pos, end - pos);
    for (size_t escape = line.find('\x1b'); escape != std::string::npos; escape = line.find('\x1b')) {
      line.erase(escape, line.find('m', escape) + 1 - escape);
    }
    if (line.find("): error TS") != std::string::npos) lines.push_back(line);
    pos = end + 1;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// `tsc -p generated` after a folder run gives the errors the run reported,
// file by file, and the same dist/: the session checks the files as that one
// program, with imports between them resolved before they are on disk,
// whether the sources' own errors are checked in a second thread or not.
TEST(ProjectRunWithCompiler, TscOnTheGeneratedTreeReproducesTheCheck) {
  std::string output;
  if (run_shell("node -v", &output) != 0) GTEST_SKIP() << "Node.js is not on PATH";
  if (!fs::exists(kToolsModules / "typescript/bin/tsc")) GTEST_SKIP() << "run .ci/install-node-tools.sh";
  for (const char* threads : {"KVX_CHECK_THREADS=2 ", "KVX_CHECK_THREADS=1 "}) {
    SCOPED_TRACE(threads);
    ScopedWorkDir dir;
    fs::create_directory_symlink(kToolsModules, "node_modules");
    write_fixture("proj");
    // Checked before lib/format.ts exists: the call is wrong only if the import resolves.
    write_file("proj/src/c/use.js", "import { format } from '../lib/format';\nexport const empty = format();\n");
    write_file(".kvx/mode.txt", "auto\n");
    std::string console;
    EXPECT_EQ(run_shell(threads + kvx_test::shell_quote(KVX_BINARY_PATH) + " go proj --inline", &console), 0)
        << console;
    const size_t wrong_call = console.find("generated/src/c/use.ts(2,");
    ASSERT_NE(wrong_call, std::string::npos) << console;
    EXPECT_NE(console.find("error TS2554: Expected 1 arguments, but got 0.", wrong_call), std::string::npos) << console;
    EXPECT_NE(console.find(" 1 after (0 added by kvx)"), std::string::npos) << console;
    std::string compiled;
    run_shell("node node_modules/typescript/bin/tsc -p generated --outDir tsc-dist", &compiled);
    EXPECT_EQ(error_lines(compiled), error_lines(console)) << compiled;
    int files = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator("tsc-dist")) {
      if (!entry.is_regular_file()) continue;
      ++files;
      const fs::path ours = "dist" / fs::relative(entry.path(), "tsc-dist");
      EXPECT_EQ(read_file(ours.string()), read_file(entry.path().string())) << ours;
    }
    EXPECT_EQ(files, 5);
  }
}

// The end of `auto --inline` says whose errors remain: the source's own
// (exit 0, yellow) when the annotations add none.
TEST(ProjectRunWithCompiler, OnlyTheSourcesOwnErrorsLeftIsNoFailure) {
  std::string output;
  if (run_shell("node -v", &output) != 0) GTEST_SKIP() << "Node.js is not on PATH";
  if (!fs::exists(kToolsModules / "typescript/bin/tsc")) GTEST_SKIP() << "run .ci/install-node-tools.sh";
  ScopedWorkDir dir;
  fs::create_directory_symlink(kToolsModules, "node_modules");
  // `count.push` is an error of the source itself (a number has no push).
  write_file("app.js", "let count = 0;\nfunction bump() { count.push(1); }\nconst UNIT = 'cm';\nconsole.log(UNIT);\n");
  std::string console;
  EXPECT_EQ(run_kvx({"auto", "--inline", "app.js"}, &console), 0) << console;
  EXPECT_NE(console.find(CLR_YELLOW "[WARNING] Final JS built: dist/app.js with 1 compiler error(s), all the "
                                    "source's own (kvx's annotations add none)."),
            std::string::npos)
      << console;
  EXPECT_TRUE(fs::exists("dist/app.js"));
}

}  // namespace
